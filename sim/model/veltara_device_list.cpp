#include "sim/model/veltara_device_list.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::sim {

std::vector<std::uint8_t> veltaraDeviceList(const std::vector<VeltaraDeviceConfig>& devices,
                                            const VeltaraServiceConfig& service) {
    namespace list = veltara::wire::device_list;
    const std::size_t entries = devices.size() + service.listExtraEntries;
    std::vector<std::uint8_t> bytes(list::kEntries + entries * list::kEntrySize, 0);

    auto put = [&](std::size_t i, std::int32_t devNo, std::string_view name) {
        std::uint8_t* entry = bytes.data() + list::kEntries + i * list::kEntrySize;
        store32(entry + list::kEntryDevNo, static_cast<std::uint32_t>(devNo));
        std::copy_n(name.begin(), std::min(name.size(), list::kNameSize), entry + list::kEntryName);
    };
    for (std::size_t i = 0; i < devices.size(); ++i) put(i, devices[i].devNo, devices[i].name);
    for (std::uint32_t i = 0; i < service.listExtraEntries; ++i) {
        put(devices.size() + i, kExtraEntryDevNo + static_cast<std::int32_t>(i),
            "extra" + std::to_string(i));
    }

    store32(bytes.data() + list::kCount,
            service.listCount.value_or(static_cast<std::uint32_t>(entries)));
    if (service.listReplyLength) bytes.resize(*service.listReplyLength, 0);
    return bytes;
}

}  // namespace crvmon::sim
