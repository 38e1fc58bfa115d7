#include "tools/common/device_id.h"

#include <charconv>

namespace crvmon::tools {

namespace {

struct TargetName {
    crvmonTargetDeviceType_t type;
    const char* name;
};

constexpr TargetName kTargetNames[] = {
    {CRVMON_TARGET_ORVEK, "orvek"},
    {CRVMON_TARGET_VELTARA, "veltara"},
    {CRVMON_TARGET_ORVEK_PCIE, "orvek-pcie"},
    {CRVMON_TARGET_VELTARA_RESERVED, "veltara-reserved"},
    {CRVMON_TARGET_VELTARA_USB_KIND0, "veltara-usb0"},
    {CRVMON_TARGET_VELTARA_USB_KIND1, "veltara-usb1"},
};

}  // namespace

Family familyOf(crvmonTargetDeviceType_t type) {
    switch (type) {
        case CRVMON_TARGET_ORVEK:
        case CRVMON_TARGET_ORVEK_PCIE: return Family::Orvek;
        case CRVMON_TARGET_VELTARA:
        case CRVMON_TARGET_VELTARA_RESERVED:
        case CRVMON_TARGET_VELTARA_USB_KIND0:
        case CRVMON_TARGET_VELTARA_USB_KIND1: return Family::Veltara;
        case CRVMON_TARGET_NONE: break;
    }
    return Family::Unknown;
}

const char* familyName(Family family) {
    switch (family) {
        case Family::Orvek: return "Orvek";
        case Family::Veltara: return "Veltara";
        case Family::Unknown: break;
    }
    return "unknown";
}

std::string formatDeviceId(const DeviceId& id) {
    return std::to_string(static_cast<int>(id.type)) + ":" + std::to_string(id.index);
}

const char* targetTypeName(crvmonTargetDeviceType_t type) {
    for (const TargetName& t : kTargetNames) {
        if (t.type == type) return t.name;
    }
    return "none";
}

std::optional<DeviceId> parseDeviceId(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view typeText = text.substr(0, colon);
    const std::string_view indexText = text.substr(colon + 1);

    std::optional<crvmonTargetDeviceType_t> type;
    for (const TargetName& t : kTargetNames) {
        if (typeText == t.name || typeText == std::to_string(static_cast<int>(t.type))) {
            type = t.type;
        }
    }
    int index = -1;
    const char* end = indexText.data() + indexText.size();
    const auto [stop, error] = std::from_chars(indexText.data(), end, index);
    if (!type || indexText.empty() || error != std::errc{} || stop != end || index < 0) {
        return std::nullopt;
    }
    return DeviceId{*type, index};
}

const std::vector<crvmonTargetDeviceType_t>& addressableTargetTypes() {
    // Orvek cards first, then Veltara devices by kind: the order a person reads a machine in.
    static const std::vector<crvmonTargetDeviceType_t> types{CRVMON_TARGET_ORVEK,
                                                             CRVMON_TARGET_ORVEK_PCIE,
                                                             CRVMON_TARGET_VELTARA,
                                                             CRVMON_TARGET_VELTARA_RESERVED,
                                                             CRVMON_TARGET_VELTARA_USB_KIND0,
                                                             CRVMON_TARGET_VELTARA_USB_KIND1};
    return types;
}

DeviceList listDevices() {
    DeviceList list;
    int total = 0;
    if (crvmonGetDeviceCount(&total) != CRVMON_STATUS_OK) return list;
    for (const crvmonTargetDeviceType_t type : addressableTargetTypes()) {
        int count = 0;
        if (crvmonGetTargetDeviceCount(type, &count) != CRVMON_STATUS_OK) continue;
        for (int index = 0; index < count; ++index) list.devices.push_back({type, index});
    }
    const int listed = static_cast<int>(list.devices.size());
    list.unaddressable = total > listed ? total - listed : 0;
    return list;
}

}  // namespace crvmon::tools
