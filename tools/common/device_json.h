// A device's values as JSON: one object with a key per field, typed values, null for values the
// device does not provide. crvmon-smi --format json and the exporter's device API print this.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "tools/common/field_catalogue.h"

namespace crvmon::tools {

nlohmann::ordered_json fieldJson(const FieldValue& value);
nlohmann::ordered_json deviceJson(const DeviceSample& sample,
                                  const std::vector<const Field*>& fields);

}  // namespace crvmon::tools
