// crvmon-smi: the Orvek and Veltara NPUs of this machine, their telemetry and their processes,
// for people (tables, live views) and for scripts (CSV, JSON). Built on the flat functions of
// crvmon.h alone, as any program outside the library would be.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "lib/common/build_info.h"
#include "tools/common/console.h"
#include "tools/common/device_sample.h"
#include "tools/common/field_catalogue.h"
#include "tools/common/library_session.h"
#include "tools/common/option_checks.h"
#include "tools/common/run_deadline.h"
#include "tools/common/simulation_option.h"
#include "tools/common/utc_time.h"
#include "tools/smi/details_view.h"
#include "tools/smi/device_views.h"
#include "tools/smi/exit_codes.h"
#include "tools/smi/extra_pmic_setting.h"
#include "tools/smi/live_loop.h"
#include "tools/smi/scenario_dump.h"
#include "tools/smi/smi_options.h"
#include "tools/smi/top_view.h"

namespace crvmon::smi {

namespace {

using tools::DeviceId;
using tools::DeviceSample;

constexpr int kTableWidth = 80;

// The options turned into what the run needs, or an exit code for options that cannot be used.
struct Plan {
    std::vector<DeviceId> ids;
    std::vector<const tools::Field*> fields;
    std::vector<ExtraPmicSetting> settings;
};

int badArgument(const std::string& message) {
    std::fprintf(stderr, "crvmon-smi: %s\n", message.c_str());
    return exit_code::kBadArgument;
}

int checkOptions(const SmiOptions& o, Plan& plan) {
    const int modes = (o.details ? 1 : 0) + (o.query.empty() ? 0 : 1) + (o.processes ? 1 : 0) +
                      (o.top ? 1 : 0) + (o.dumpScenario.empty() ? 0 : 1) +
                      (o.setExtraPmic.empty() ? 0 : 1);
    if (modes > 1) {
        return badArgument(
            "choose one of --details, --query, --processes, top, --dump-scenario and "
            "--set-extra-pmic");
    }
    if (o.count > 0 && o.loopSeconds == 0 && !o.top) {
        return badArgument("--count needs --loop (or top)");
    }
    if (!o.query.empty()) {
        try {
            plan.fields = tools::parseFieldList(o.query);
        } catch (const std::invalid_argument& e) {
            return badArgument(std::string("--query: ") + e.what());
        }
        // Each read of a loop carries its time, in every format.
        const tools::Field* time = tools::parseFieldList("timestamp").front();
        if (o.loopSeconds > 0 &&
            std::find(plan.fields.begin(), plan.fields.end(), time) == plan.fields.end()) {
            plan.fields.insert(plan.fields.begin(), time);
        }
    }
    for (const std::string& text : o.ids) {
        if (const auto error = tools::deviceTextError(text)) {
            return badArgument("--id '" + text + "': " + *error);
        }
    }
    for (const std::string& text : o.setExtraPmic) {
        const auto setting = parseExtraPmicSetting(text);
        if (!setting) {
            return badArgument("--set-extra-pmic '" + text +
                               "': expected TYPE:INDEX=ID with ID 0-3, such as 3:0=2");
        }
        plan.settings.push_back(*setting);
    }
    return exit_code::kOk;
}

// The devices to show: those --id names (each must exist), else all.
int chooseDevices(const std::vector<std::string>& idTexts, Plan& plan) {
    const tools::DeviceList found = tools::listDevices();
    if (idTexts.empty()) {
        plan.ids = found.devices;
        if (found.unaddressable > 0) {
            std::fprintf(stderr, "crvmon-smi: %d device(s) of no known target type are not shown\n",
                         found.unaddressable);
        }
        return exit_code::kOk;
    }
    const std::vector<tools::DeviceFacts> facts = tools::readDeviceFacts(found.devices);
    for (const std::string& text : idTexts) {
        const tools::DeviceMatch match = tools::findDevice(text, facts);
        if (!match.id) {
            std::fprintf(stderr, "crvmon-smi: --id '%s': %s\n", text.c_str(), match.error.c_str());
            return exit_code::kNoDevice;
        }
        plan.ids.push_back(*match.id);
    }
    return exit_code::kOk;
}

// Reads the devices; a failing read is named on standard error and fails the round.
std::vector<DeviceSample> readDevices(const std::vector<DeviceId>& ids, unsigned groups,
                                      bool& failed) {
    std::vector<DeviceSample> samples;
    for (const DeviceId& id : ids) {
        samples.push_back(tools::readDevice(id, groups));
        for (const tools::ReadError& error : samples.back().errors) {
            std::fprintf(stderr, "crvmon-smi: %s: %s: %s\n", tools::formatDeviceId(id).c_str(),
                         error.what.c_str(), tools::statusText(error.status).c_str());
            failed = true;
        }
    }
    return samples;
}

// The time of the read and the driver versions, above the device table.
std::string headline(int maxWidth) {
    std::string time = tools::utcTimestamp(std::chrono::system_clock::now());
    // To the second: a person reads this line. Once a run, as clear as it can be.
    // cppcheck-suppress uselessCallsSubstr
    time = time.substr(0, time.find('.')) + 'Z';
    std::string line = "crvmon-smi  " + time + "  Drivers:";
    const char* separator = " ";
    for (const tools::DriverVersion& driver : tools::driverVersions()) {
        line += separator + std::string(driver.name) + " " + driver.version;
        separator = ", ";
    }
    if (static_cast<int>(line.size()) > maxWidth) line.resize(static_cast<std::size_t>(maxWidth));
    return line + '\n';
}

Round readRound(const SmiOptions& o, const Plan& plan, int round, bool inPlace,
                std::vector<int>& tableWidths) {
    Round result;
    if (!plan.fields.empty()) {
        QueryStyle style;
        style.tableWidths = &tableWidths;
        style.format = o.format;
        style.header = !o.noHeader;
        style.units = !o.noUnits;
        style.compactJson = o.loopSeconds > 0 && !inPlace;
        const auto samples = readDevices(plan.ids, tools::readGroupsOf(plan.fields), result.failed);
        // Rounds appended to a pipe carry the header once, so the output stays one CSV table.
        result.text = queryText(samples, plan.fields, style, round == 0 || inPlace);
        return result;
    }
    if (o.details) {
        const auto samples = readDevices(plan.ids, tools::kReadEverything, result.failed);
        result.text = detailsText(samples);
    } else if (o.processes) {
        const auto samples = readDevices(plan.ids, processTableGroups(), result.failed);
        result.text = processTable(samples, kTableWidth);
    } else {
        const auto samples =
            readDevices(plan.ids, deviceTableGroups() | processTableGroups(), result.failed);
        result.text = headline(kTableWidth) + deviceTable(samples, kTableWidth) + '\n' +
                      processTable(samples, kTableWidth);
    }
    if (o.loopSeconds > 0 && !inPlace && round > 0) result.text = '\n' + result.text;
    return result;
}

// "-" is standard output, as other tools take it.
int dumpScenario(const std::string& path, const Plan& plan) {
    bool failed = false;
    const auto samples = readDevices(plan.ids, tools::kReadEverything, failed);
    const std::string text = scenarioText(samples);
    std::string where = path;
    if (path == "-") {
        where = "standard output";
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0) {
            std::fprintf(stderr, "crvmon-smi: cannot write to standard output\n");
            return exit_code::kFailure;
        }
    } else {
        std::ofstream file(path, std::ios::binary);
        file << text;
        file.close();
        if (!file) {
            std::fprintf(stderr, "crvmon-smi: cannot write %s\n", path.c_str());
            return exit_code::kFailure;
        }
    }
    std::fprintf(stderr, "crvmon-smi: wrote %zu device(s) to %s\n", samples.size(), where.c_str());
    return failed ? exit_code::kDeviceError : exit_code::kOk;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int run(const SmiOptions& o, Plan& plan, tools::RunDeadline& deadline, double simulationSeconds) {
    const auto start = std::chrono::steady_clock::now();
    deadline.arm("initialisation");
    tools::LibrarySession session;
    deadline.disarm();
    const double initSeconds = secondsSince(start);
    // A script reading JSON gets a list to parse also when there is no device to put in it.
    const auto noDevice = [&] {
        if (!plan.fields.empty() && o.format == QueryFormat::Json) std::fputs("[]\n", stdout);
        return exit_code::kNoDevice;
    };
    if (session.status() != CRVMON_STATUS_OK) {
        std::fprintf(stderr, "crvmon-smi: no device found (%s)\n",
                     tools::statusText(session.status()).c_str());
        return noDevice();
    }
    if (const int code = chooseDevices(o.ids, plan); code != exit_code::kOk) {
        return code == exit_code::kNoDevice ? noDevice() : code;
    }

    const auto readStart = std::chrono::steady_clock::now();
    int code = exit_code::kOk;
    if (!plan.settings.empty()) {
        for (const ExtraPmicSetting& setting : plan.settings) {
            const int outcome = applyExtraPmicSetting(setting);
            if (code == exit_code::kOk) code = outcome;
        }
    } else if (!o.dumpScenario.empty()) {
        code = dumpScenario(o.dumpScenario, plan);
    } else if (o.top) {
        TopOptions top;
        top.ids = plan.ids;
        if (o.loopSeconds > 0) {
            top.interval = std::chrono::milliseconds(static_cast<long long>(o.loopSeconds * 1000));
        }
        if (o.count > 0) top.count = o.count;
        code = runTopView(top, deadline);
    } else {
        LoopSettings loop;
        loop.seconds = o.loopSeconds;
        loop.count = o.count;
        loop.inPlace = tools::isTerminal(stdout);
        std::vector<int> tableWidths;
        code = runRounds(loop, deadline, [&](int round) {
            return readRound(o, plan, round, loop.inPlace, tableWidths);
        });
    }
    if (o.timings) {
        std::fprintf(stderr,
                     "crvmon-smi: timings: simulation start %.4f s, initialisation %.4f s, "
                     "reads %.4f s\n",
                     simulationSeconds, initSeconds, secondsSince(readStart));
    }
    return code;
}

}  // namespace

}  // namespace crvmon::smi

// Outside the handlers only CLI11's set-up can throw: on a misspelt option name, a programming
// error that any run shows, or out of memory.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    using namespace crvmon;
    CLI::App app{
        "crvmon-smi: telemetry and processes of the Orvek and Veltara NPUs of this "
        "machine.\nWithout options: a table of every device and of the processes on "
        "them.",
        "crvmon-smi"};
    app.set_version_flag("--version", CRVMON_VERSION_LINE("crvmon-smi"),
                         "Print the version and the source revision it was built from, and exit");
    smi::SmiOptions options;
    tools::SimulationOption simulation(app);
    smi::declareOptions(app, options);
    if (const auto code = tools::parseOptions(app, argc, argv, smi::exit_code::kBadArgument))
        return *code;

    try {
        if (options.listFields) {
            std::fputs(smi::fieldListText(options.format).c_str(), stdout);
            return smi::exit_code::kOk;
        }
        smi::Plan plan;
        if (const int code = smi::checkOptions(options, plan); code != smi::exit_code::kOk) {
            return code;
        }
        std::unique_ptr<tools::SimulationOption::Running> simulated;
        const auto simulationStart = std::chrono::steady_clock::now();
        try {
            simulated = simulation.start();
        } catch (const std::exception& e) {
            return smi::badArgument(std::string("cannot simulate: ") + e.what());
        }
        tools::RunDeadline deadline(
            "crvmon-smi",
            std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000)),
            smi::exit_code::kTimeout);
        if (simulated && !simulated->objectRoot().empty()) {
            // An overrun ends the process at once: the simulation's folder goes first.
            deadline.setCleanup([root = simulated->objectRoot()] {
                std::error_code ignored;
                std::filesystem::remove_all(root, ignored);
            });
        }
        return smi::run(options, plan, deadline, smi::secondsSince(simulationStart));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvmon-smi: %s\n", e.what());
        return smi::exit_code::kFailure;
    }
}
