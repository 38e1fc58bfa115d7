// The keys of a scenario file, one row each: the TOML key, the config member it fills, its
// limits and unit, and how it is written. The parsers, the configs' validation and the scenario
// writer all walk these rows, so a key added here is read, checked and written alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "sim/model/orvek_card_config.h"
#include "sim/model/veltara_device_config.h"

namespace crvmon::sim {

enum class KeyKind {
    Integer,     // a whole number from min to max, written in decimal
    HexInteger,  // the same, written in hexadecimal
    Number,      // a float from low to high
    Reading,     // the same, read by the library in single precision: written as the float's text
    Composite,   // a form of its own (text, list, table): the parser and the writer each have a
                 // rule for it by its name
};

template <class Config>
struct ScenarioKey {
    std::string_view name;    // the TOML key
    std::string_view member;  // the config member it fills, as validation names it
    KeyKind kind = KeyKind::Composite;
    std::int64_t min = 0, max = 0;  // Integer, HexInteger
    double low = 0, high = 0;       // Number, Reading
    std::string_view unit;
    // Integer kinds: the member's value (nullopt: an optional member left unset), and its setter.
    std::optional<std::int64_t> (*integer)(const Config&) = nullptr;
    void (*setInteger)(Config&, std::int64_t) = nullptr;
    // Number kinds.
    double (*number)(const Config&) = nullptr;
    void (*setNumber)(Config&, double) = nullptr;

    bool isInteger() const { return kind == KeyKind::Integer || kind == KeyKind::HexInteger; }
    bool isNumber() const { return kind == KeyKind::Number || kind == KeyKind::Reading; }
    bool fits(std::int64_t value) const { return value >= min && value <= max; }
};

template <class Config>
using ScenarioKeys = std::span<const ScenarioKey<Config>>;

// The rows of each table of a scenario file, in the order the writer writes them.
ScenarioKeys<OrvekCardConfig> orvekCardKeys();            // [[orvek]]
ScenarioKeys<OrvekCardFaults> orvekFaultKeys();           // [orvek.faults]
ScenarioKeys<PowerMonitorConfig> powerMonitorKeys();      // board_power, extra_power
ScenarioKeys<VeltaraDeviceConfig> veltaraDeviceKeys();    // [[veltara]]
ScenarioKeys<VeltaraWorkConfig> veltaraWorkKeys();        // [[veltara.work]]
ScenarioKeys<VeltaraProcessRow> veltaraProcessKeys();     // [[veltara.process]]
ScenarioKeys<VeltaraDeviceFaults> veltaraFaultKeys();     // [veltara.faults]
ScenarioKeys<VeltaraServiceConfig> veltaraServiceKeys();  // [veltara_service]

// The row of a key; nullptr for a name the table lacks.
template <class Config>
const ScenarioKey<Config>* findKey(ScenarioKeys<Config> keys, std::string_view name) {
    for (const ScenarioKey<Config>& key : keys) {
        if (key.name == name) return &key;
    }
    return nullptr;
}

// Throws std::invalid_argument naming the first member (after `prefix`) outside its row's
// limits.
template <class Config>
void validateKeys(const Config& config, ScenarioKeys<Config> keys, const std::string& prefix = {}) {
    for (const ScenarioKey<Config>& key : keys) {
        if (key.isInteger()) {
            const std::optional<std::int64_t> value = key.integer(config);
            if (value && !key.fits(*value)) {
                throw std::invalid_argument(
                    prefix + std::string(key.member) + " must be from " + std::to_string(key.min) +
                    " to " + std::to_string(key.max) + ", got " + std::to_string(*value));
            }
        } else if (key.isNumber()) {
            const double value = key.number(config);
            if (!(value >= key.low && value <= key.high)) {
                throw std::invalid_argument(
                    prefix + std::string(key.member) + " must be from " + std::to_string(key.low) +
                    " to " + std::to_string(key.high) + ", got " + std::to_string(value));
            }
        }
    }
}

// The texts of the composite keys whose parse the dump of a machine needs too: nullopt for
// text the parser refuses.
// "major.minor" or "major.minor.patch" in decimal (major 0-63, minor 0-1023, patch 0-32767);
// the revision is left at its default.
std::optional<FirmwareVersion> firmwareFromText(std::string_view text);
// "DDDD:BB:DD.F" in hexadecimal (device 00-1F, function 0-7).
std::optional<PciAddress> pciAddressFromText(std::string_view text);
// The inverse of both.
std::string firmwareText(const FirmwareVersion& firmware);
std::string pciAddressText(const PciAddress& address);

// Row makers for the tables.
namespace key_rows {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <auto Member, class Config>
std::optional<std::int64_t> getMember(const Config& config) {
    const auto& value = config.*Member;
    if constexpr (IsOptional<std::remove_cvref_t<decltype(value)>>::value) {
        return value ? std::optional<std::int64_t>(static_cast<std::int64_t>(*value))
                     : std::nullopt;
    } else {
        return static_cast<std::int64_t>(value);
    }
}

template <auto Member, class Config>
void setMember(Config& config, std::int64_t value) {
    auto& field = config.*Member;
    using Field = std::remove_cvref_t<decltype(field)>;
    if constexpr (IsOptional<Field>::value) {
        field = static_cast<typename Field::value_type>(value);
    } else {
        field = static_cast<Field>(value);
    }
}

template <auto Member, class Config>
double getNumber(const Config& config) {
    return config.*Member;
}

template <auto Member, class Config>
void setNumber(Config& config, double value) {
    config.*Member = value;
}

template <class Config>
constexpr ScenarioKey<Config> composite(std::string_view name, std::string_view member) {
    ScenarioKey<Config> key;
    key.name = name;
    key.member = member;
    return key;
}

template <class Config, auto Member>
constexpr ScenarioKey<Config> integer(std::string_view name, std::string_view member,
                                      std::int64_t min, std::int64_t max,
                                      std::string_view unit = {}, KeyKind kind = KeyKind::Integer) {
    ScenarioKey<Config> key = composite<Config>(name, member);
    key.kind = kind;
    key.min = min;
    key.max = max;
    key.unit = unit;
    key.integer = &getMember<Member, Config>;
    key.setInteger = &setMember<Member, Config>;
    return key;
}

template <class Config, auto Member>
constexpr ScenarioKey<Config> number(std::string_view name, std::string_view member, double low,
                                     double high, std::string_view unit = {},
                                     KeyKind kind = KeyKind::Number) {
    ScenarioKey<Config> key = composite<Config>(name, member);
    key.kind = kind;
    key.low = low;
    key.high = high;
    key.unit = unit;
    key.number = &getNumber<Member, Config>;
    key.setNumber = &setNumber<Member, Config>;
    return key;
}

}  // namespace key_rows

}  // namespace crvmon::sim
