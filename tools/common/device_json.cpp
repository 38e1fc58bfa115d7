#include "tools/common/device_json.h"

namespace crvmon::tools {

nlohmann::ordered_json fieldJson(const FieldValue& value) {
    using nlohmann::ordered_json;
    if (const auto* number = std::get_if<long long>(&value)) return *number;
    if (const auto* real = std::get_if<double>(&value)) return *real;
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* cores = std::get_if<std::vector<CoreLoad>>(&value)) {
        ordered_json list = ordered_json::array();
        for (const CoreLoad& core : *cores) {
            // core null with a cluster: the whole-cluster entry.
            list.push_back({{"cluster", optionalJson(core.cluster)},
                            {"core", optionalJson(core.core)},
                            {"busy_time", core.busyTime},
                            {"total_time", core.totalTime},
                            {"busy_percent", optionalJson(core.busyPercent())}});
        }
        return list;
    }
    if (const auto* processes = std::get_if<std::vector<ProcessLoad>>(&value)) {
        ordered_json list = ordered_json::array();
        for (const ProcessLoad& p : *processes) {
            list.push_back({{"pid", p.pid},
                            {"name", optionalJson(p.name)},
                            {"busy_time", p.busyTime},
                            {"total_time", p.totalTime},
                            {"busy_percent", optionalJson(p.busyPercent())},
                            {"quantity", p.quantity},
                            {"amount", p.amount}});
        }
        return list;
    }
    return nullptr;
}

nlohmann::ordered_json deviceJson(const DeviceSample& sample,
                                  const std::vector<const Field*>& fields) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const Field* field : fields) object[field->name] = fieldJson(field->extract(sample));
    return object;
}

}  // namespace crvmon::tools
