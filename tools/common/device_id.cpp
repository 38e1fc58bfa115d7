#include "tools/common/device_id.h"

#include <charconv>
#include <utility>

#include "tools/common/ascii_lower.h"

namespace crvmon::tools {

namespace {

struct TargetName {
    crvmonTargetDeviceType_t type;
    const char* name;
};

// The names shown first; later rows of a type are older spellings still taken.
constexpr TargetName kTargetNames[] = {
    {CRVMON_TARGET_ORVEK, "orvek"},
    {CRVMON_TARGET_VELTARA, "veltara"},
    {CRVMON_TARGET_ORVEK_PCIE, "orvek-pcie"},
    {CRVMON_TARGET_VELTARA_RESERVED, "veltara-reserved"},
    {CRVMON_TARGET_VELTARA_USB_KIND0, "veltara-kind0"},
    {CRVMON_TARGET_VELTARA_USB_KIND1, "veltara-kind1"},
    {CRVMON_TARGET_VELTARA_USB_KIND0, "veltara-usb0"},
    {CRVMON_TARGET_VELTARA_USB_KIND1, "veltara-usb1"},
};

// "TYPE:INDEX" has one colon and no dot; a PCI address has more colons or a dot.
bool looksTyped(std::string_view text) {
    const auto colon = text.find(':');
    return colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos &&
           text.find('.') == std::string_view::npos;
}

std::optional<crvmonTargetDeviceType_t> targetTypeOf(std::string_view text) {
    const std::string name = asciiLower(text);
    for (const TargetName& t : kTargetNames) {
        if (name == t.name || name == std::to_string(static_cast<int>(t.type))) return t.type;
    }
    return std::nullopt;
}

std::optional<int> wholeNumber(std::string_view text) {
    int value = -1;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < 0) return std::nullopt;
    return value;
}

std::string typeList() {
    std::string list;
    for (const TargetName& t : kTargetNames) {
        if (std::string_view(t.name) != targetTypeName(t.type)) continue;  // an older name
        if (!list.empty()) list += ", ";
        list += std::to_string(static_cast<int>(t.type)) + " " + t.name;
    }
    return list;
}

// "3:0 (orvek-pcie, /dev/orvek0)": the id with the name and node it goes by.
std::string described(const DeviceFacts& d) {
    return formatDeviceId(d.id) + " (" + targetTypeName(d.id.type) + ", " +
           d.node.value_or("no node") + ")";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
    return out;
}

// Why TYPE:INDEX names no device here.
std::string whyNoDevice(const DeviceId& wanted, const std::vector<DeviceFacts>& devices) {
    const std::string name = std::string("no device ") + formatDeviceId(wanted) + " (" +
                             targetTypeName(wanted.type) + ")";
    std::vector<std::string> sameType, sameFamily;
    for (const DeviceFacts& d : devices) {
        if (d.id.type == wanted.type) sameType.push_back(formatDeviceId(d.id));
        if (familyOf(d.id.type) == familyOf(wanted.type)) sameFamily.push_back(described(d));
    }
    if (!sameType.empty()) {
        return name + ": " + targetTypeName(wanted.type) + " has " +
               std::to_string(sameType.size()) + " device(s) here, " + sameType.front() +
               (sameType.size() > 1 ? " to " + sameType.back() : "");
    }
    if (!sameFamily.empty()) {
        return name + ": the " + familyName(familyOf(wanted.type)) + " devices here are " +
               joined(sameFamily);
    }
    return name + ": there is no " + familyName(familyOf(wanted.type)) + " device on this machine";
}

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
    const auto type = targetTypeOf(text.substr(0, colon));
    const auto index = wholeNumber(text.substr(colon + 1));
    if (!type || !index) return std::nullopt;
    return DeviceId{*type, *index};
}

std::vector<DeviceFacts> readDeviceFacts(const std::vector<DeviceId>& devices) {
    std::vector<DeviceFacts> facts;
    for (const DeviceId& id : devices) {
        DeviceFacts d{id, std::nullopt, std::nullopt};
        char text[256] = "";
        if (crvmonGetNodeName(id.type, id.index, text, sizeof text) == CRVMON_STATUS_OK) {
            d.node = text;
        }
        if (crvmonGetPcieSlot(id.type, id.index, text, sizeof text) == CRVMON_STATUS_OK) {
            d.slot = text;
        }
        facts.push_back(std::move(d));
    }
    return facts;
}

std::optional<std::string> deviceTextError(std::string_view text) {
    if (text.empty()) return "an empty device";
    if (!looksTyped(text)) return std::nullopt;
    const auto colon = text.find(':');
    const std::string_view typeText = text.substr(0, colon);
    if (!targetTypeOf(typeText)) {
        // Appended, not added to a literal: GCC 12 warns of an overlap that cannot happen there.
        return std::string(1, '\'')
            .append(typeText)
            .append("' is no target type; the types are ")
            .append(typeList());
    }
    if (!wholeNumber(text.substr(colon + 1))) {
        return "the index after ':' must be a whole number from 0, such as 3:0";
    }
    return std::nullopt;
}

DeviceMatch findDevice(std::string_view text, const std::vector<DeviceFacts>& devices) {
    if (auto error = deviceTextError(text)) return {std::nullopt, *error};
    if (looksTyped(text)) {
        const DeviceId wanted = *parseDeviceId(text);
        for (const DeviceFacts& d : devices) {
            if (d.id == wanted) return {d.id, ""};
        }
        return {std::nullopt, whyNoDevice(wanted, devices)};
    }
    if (const auto position = wholeNumber(text)) {
        if (static_cast<std::size_t>(*position) < devices.size())
            return {devices[*position].id, ""};
        return {std::nullopt,
                std::string("no device at position ")
                    .append(text)
                    .append(": there are " + std::to_string(devices.size()) + " device(s)")
                    .append(devices.empty() ? "" : ", 0 to " + std::to_string(devices.size() - 1))};
    }
    const std::string wanted = asciiLower(text);
    for (const DeviceFacts& d : devices) {
        const std::string node = asciiLower(d.node.value_or(""));
        const std::string slot = asciiLower(d.slot.value_or(""));
        // A node with or without /dev/; a PCI address with or without its domain.
        if ((!node.empty() && (wanted == node || "/dev/" + wanted == node)) ||
            (!slot.empty() && (wanted == slot || "0000:" + wanted == slot))) {
            return {d.id, ""};
        }
    }
    return {std::nullopt, std::string("no device '")
                              .append(text)
                              .append("' on this machine: it is no id, position, node or slot "
                                      "of a device (crvmon-smi --details lists them)")};
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
