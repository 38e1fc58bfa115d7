// The toml++ helpers the scenario parsers share: every value is read through a ScenarioReader,
// which checks its type and range and reports a mistake with the key, the line and the column.
#pragma once

#include <toml++/toml.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/model/scenario.h"
#include "sim/model/scenario_keys.h"

namespace crvmon::sim::toml_scenario {

inline const char* typeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a float";
        case toml::node_type::boolean: return "a boolean";
        case toml::node_type::array: return "an array";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
    }
}

inline std::string hex(std::int64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "'" + std::string at -O3.
inline std::string keyName(std::string_view key) {
    std::string text = "'";
    text += key;
    text += '\'';
    return text;
}

inline std::string withUnit(std::string_view unit) {
    return unit.empty() ? std::string() : " (" + std::string(unit) + ")";
}

inline std::string member(const std::string& path, std::string_view key) {
    return path + "." + std::string(key);
}

class Reader {
  public:
    explicit Reader(std::string_view source) : source_(source) {}

    [[noreturn]] void fail(const toml::source_region& where, const std::string& message) const {
        throw ScenarioError(source_ + ":" + std::to_string(where.begin.line) + ":" +
                            std::to_string(where.begin.column) + ": " + message);
    }

    std::int64_t integer(const toml::node& node, const std::string& path, std::int64_t min,
                         std::int64_t max, std::string_view unit = {}) const {
        if (!node.is_integer()) {
            fail(node.source(), keyName(path) + " must be an integer" + withUnit(unit) + ", not " +
                                    typeName(node));
        }
        const std::int64_t value = node.as_integer()->get();
        if (value < min || value > max) {
            fail(node.source(), keyName(path) + " must be from " + std::to_string(min) + " to " +
                                    std::to_string(max) + withUnit(unit) + ", got " +
                                    std::to_string(value));
        }
        return value;
    }

    double number(const toml::node& node, const std::string& path, double min, double max,
                  std::string_view unit = {}) const {
        double value = 0;
        if (node.is_integer()) {
            value = static_cast<double>(node.as_integer()->get());
        } else if (node.is_floating_point()) {
            value = node.as_floating_point()->get();
        } else {
            fail(node.source(),
                 keyName(path) + " must be a number" + withUnit(unit) + ", not " + typeName(node));
        }
        if (!(value >= min && value <= max)) {
            std::ostringstream text;
            text << "'" << path << "' must be from " << min << " to " << max << withUnit(unit)
                 << ", got " << value;
            fail(node.source(), text.str());
        }
        return value;
    }

    bool boolean(const toml::node& node, const std::string& path) const {
        if (!node.is_boolean()) {
            fail(node.source(), keyName(path) + " must be true or false, not " + typeName(node));
        }
        return node.as_boolean()->get();
    }

    const std::string& string(const toml::node& node, const std::string& path) const {
        if (!node.is_string()) {
            fail(node.source(), keyName(path) + " must be a string, not " + typeName(node));
        }
        return node.as_string()->get();
    }

    const toml::table& table(const toml::node& node, const std::string& path) const {
        if (!node.is_table()) {
            fail(node.source(), keyName(path) + " must be a table, not " + typeName(node));
        }
        return *node.as_table();
    }

    const toml::array& array(const toml::node& node, const std::string& path) const {
        if (!node.is_array()) {
            fail(node.source(), keyName(path) + " must be an array, not " + typeName(node));
        }
        return *node.as_array();
    }

    // A version of four 16-bit numbers: major, minor, patch, revision.
    std::array<std::uint16_t, 4> version4(const toml::node& node, const std::string& path) const {
        const toml::array& parts = array(node, path);
        if (parts.size() != 4) {
            fail(node.source(),
                 keyName(path) + " must hold four numbers (major, minor, patch, revision), got " +
                     std::to_string(parts.size()));
        }
        std::array<std::uint16_t, 4> version{};
        for (std::size_t i = 0; i < 4; ++i) {
            version[i] = static_cast<std::uint16_t>(integer(*parts.get(i), path, 0, 0xFFFF));
        }
        return version;
    }

    // An array whose elements are all tables: written as [[path]].
    const toml::array& tableArray(const toml::node& node, const std::string& path) const {
        if (!node.is_array()) {
            fail(node.source(), keyName(path) + " must be an array of tables ([[" + path +
                                    "]]), not " + typeName(node));
        }
        const toml::array& items = *node.as_array();
        for (const toml::node& item : items) {
            if (!item.is_table()) {
                fail(item.source(), keyName(path) + " must be an array of tables ([[" + path +
                                        "]]), but holds " + typeName(item));
            }
        }
        return items;
    }

    using Handlers = std::map<std::string_view, std::function<void(const toml::node&)>>;
    // The node of each key given, for the checks that involve more than one key.
    struct Given {
        std::map<std::string_view, const toml::node*> nodes;
        const toml::node* operator()(std::string_view key) const {
            const auto found = nodes.find(key);
            return found == nodes.end() ? nullptr : found->second;
        }
    };

    // The handlers of a table's rows: a bounded integer or number is checked and set into its
    // member; a composite key needs its rule in `own` (which may hold keys of no row too).
    template <class Config>
    Handlers rows(Config& config, ScenarioKeys<Config> rows, const std::string& path,
                  Handlers own) const {
        for (const ScenarioKey<Config>& key : rows) {
            if (key.kind == KeyKind::Composite) {
                if (!own.count(key.name)) {
                    throw std::logic_error("the scenario key " + member(path, key.name) +
                                           " has no rule in the parser");
                }
                continue;
            }
            own.emplace(key.name, [this, &config, &key, path](const toml::node& node) {
                const std::string name = member(path, key.name);
                if (key.isInteger()) {
                    key.setInteger(config, integer(node, name, key.min, key.max, key.unit));
                } else {
                    key.setNumber(config, number(node, name, key.low, key.high, key.unit));
                }
            });
        }
        return own;
    }

    // Runs the handler of each key; a key without one is reported, naming the keys allowed.
    Given keys(const toml::table& table, const std::string& path, const Handlers& handlers) const {
        Given given;
        for (auto&& [key, node] : table) {
            const auto handler = handlers.find(key.str());
            if (handler == handlers.end()) {
                std::string allowed;
                for (const auto& known : handlers) {
                    allowed += (allowed.empty() ? "" : ", ") + std::string(known.first);
                }
                fail(key.source(),
                     "unknown key " + keyName(key.str()) + " in " +
                         (path.empty() ? std::string("the top level") : keyName(path)) +
                         " (allowed: " + allowed + ")");
            }
            handler->second(node);
            given.nodes.emplace(key.str(), &node);
        }
        return given;
    }

  private:
    std::string source_;
};

// The Veltara parts of a scenario: one [[veltara]] table, and the [veltara_service] table.
VeltaraDeviceConfig parseVeltaraDevice(const Reader& reader, const toml::table& table,
                                       std::size_t position);
VeltaraServiceConfig parseVeltaraService(const Reader& reader, const toml::table& table);

}  // namespace crvmon::sim::toml_scenario
