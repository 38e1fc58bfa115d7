// Hooks that see a reply of the simulated driver or host service before the library does and
// may change it: how fuzzing and the fault soak put the library in front of replies that no
// scenario describes (cut, padded, altered, failed). Both run on the servers' own threads,
// several at once, so a filter must be safe to call concurrently.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/model/veltara_device_model.h"

namespace crvmon::sim {

// An Orvek request to card `deviceIndex` with control code `code`: `output` holds the bytes the
// card transfers (those beyond the caller's buffer are dropped afterwards, as a driver cannot
// write past it) and `error` the Windows error code the request fails with, 0 for success.
using OrvekReplyFilter = std::function<void(
    int deviceIndex, std::uint32_t code, std::vector<std::uint8_t>& output, std::uint32_t& error)>;

// A request on the host service's pipe named `pipe` (the broker's or a device's) and the reply
// the service is about to send.
using VeltaraReplyFilter = std::function<void(
    std::wstring_view pipe, std::span<const std::uint8_t> request, VeltaraReply& reply)>;

struct ReplyFilters {
    OrvekReplyFilter orvek;  // not on Windows: the kernel-mode driver answers by itself
    VeltaraReplyFilter veltara;
};

}  // namespace crvmon::sim
