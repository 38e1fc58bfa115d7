// Every value a tool can ask for by name ("temperature.chip"), with its unit, the families that
// have it and how to take it from a DeviceSample. crvmon-smi --query and --list-fields, its JSON
// and the exporter's device API all use this one list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/common/device_sample.h"

namespace crvmon::tools {

// monostate: the device does not provide the value.
using FieldValue = std::variant<std::monostate, long long, double, std::string,
                                std::vector<CoreLoad>, std::vector<ProcessLoad>>;

enum class FieldKind { Integer, Hex, Real, Text, Cores, Processes };

enum FamilyMask : unsigned { kOrvek = 1, kVeltara = 2, kBothFamilies = 3 };

struct Field {
    const char* name;
    const char* unit;  // "" for none
    FieldKind kind;
    int digits;  // decimals of a Real, hexadecimal digits of a Hex
    unsigned families;
    unsigned groups;  // ReadGroup mask the value needs
    const char* description;
    FieldValue (*extract)(const DeviceSample&);
    // The families that always have the value: "not provided" from one of them is a failed
    // read, where from the others it only means the device has no such value.
    unsigned always = 0;
};

// In the order --list-fields prints them.
const std::vector<Field>& fieldCatalogue();
const Field* findField(std::string_view name);

// The family's bit of Field::families and Field::always; 0 for a device of no known family.
unsigned familyBit(Family family);

// Whether a device of `family` always has the field's value (Field::always).
bool alwaysProvided(const Field& field, Family family);

// "a,b,c" into fields; "all" names every field. Throws std::invalid_argument naming the first
// unknown field.
std::vector<const Field*> parseFieldList(std::string_view list);

unsigned readGroupsOf(const std::vector<const Field*>& fields);

// A value as text for tables and CSV: "N/A" when absent; the unit appended when asked.
std::string fieldText(const Field& field, const FieldValue& value, bool withUnit);

// "0.all=58.2% 0.1=62.0% ..." and "4120:35.0%:5:58720256 ...": lists on one line.
std::string coreListText(const std::vector<CoreLoad>& cores);
std::string processListText(const std::vector<ProcessLoad>& processes);

const char* familiesText(unsigned families);  // "both", "Orvek", "Veltara"

}  // namespace crvmon::tools
