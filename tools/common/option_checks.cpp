#include "tools/common/option_checks.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "tools/common/ascii_lower.h"

namespace crvmon::tools {

namespace {

// "12", "0.5": the shortest text of the limit, as a user would write it.
std::string limitText(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string got(const std::string& input) {
    return "got '" + input + "'; takes ";
}

}  // namespace

CLI::Validator oneOf(std::vector<std::pair<std::string, int>> names) {
    std::string takes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) takes += i + 1 == names.size() ? " or " : ", ";
        takes += names[i].first;
    }
    return CLI::Validator(
        [names = std::move(names), takes](std::string& input) -> std::string {
            for (const auto& [name, value] : names) {
                if (asciiLower(input) == asciiLower(name)) {
                    input = std::to_string(value);
                    return {};
                }
            }
            return got(input) + takes;
        },
        "");
}

CLI::Validator numberFrom(double low, double high, const std::string& what) {
    const std::string takes =
        "a number of " + what + " from " + limitText(low) + " to " + limitText(high);
    return CLI::Validator(
        [low, high, takes](std::string& input) -> std::string {
            const char* begin = input.c_str();
            char* end = nullptr;
            const double value = std::strtod(begin, &end);
            if (input.empty() || end != begin + input.size() || !std::isfinite(value) ||
                value < low || value > high) {
                return got(input) + takes;
            }
            return {};
        },
        "");
}

CLI::Validator wholeNumberFrom(long long low, long long high, const std::string& what) {
    const std::string takes = "a whole number of " + what + " from " + std::to_string(low) +
                              " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, takes](std::string& input) -> std::string {
            long long value = 0;
            const char* end = input.data() + input.size();
            const auto [at, error] = std::from_chars(input.data(), end, value);
            if (input.empty() || error != std::errc() || at != end || value < low || value > high) {
                return got(input) + takes;
            }
            return {};
        },
        "");
}

std::optional<int> parseOptions(CLI::App& app, int argc, char** argv, int badArgument) {
    app.failure_message([tool = app.get_name()](const CLI::App*, const CLI::Error& error) {
        return tool + ": " + error.what() + "\n" + tool + " --help lists the options.\n";
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : badArgument;
    }
    return std::nullopt;
}

}  // namespace crvmon::tools
