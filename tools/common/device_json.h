// A device's values as JSON: one object with a key per field, typed values, null for values the
// device does not provide. crvmon-smi --format json and the exporter's device API print this.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "tools/common/field_catalogue.h"

namespace crvmon::tools {

// A value, or null for one the device does not provide.
template <class T>
nlohmann::ordered_json optionalJson(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json fieldJson(const FieldValue& value);
nlohmann::ordered_json deviceJson(const DeviceSample& sample,
                                  const std::vector<const Field*>& fields);

}  // namespace crvmon::tools
