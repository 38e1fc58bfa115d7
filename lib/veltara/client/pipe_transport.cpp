#include "lib/veltara/client/pipe_transport.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::veltara {

namespace {
constexpr int kMaxBusyRetries = 200;
constexpr int kMaxNotFoundRetries = 50;
constexpr DWORD kBusyWaitMs = 2000;
constexpr DWORD kRetryPauseMs = 10;
}  // namespace

HANDLE connect_pipe(const std::wstring& name) {
    int busyRetries = 0;
    int notFoundRetries = 0;
    while (busyRetries < kMaxBusyRetries) {
        HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_BUSY) {
            if (!WaitNamedPipeW(name.c_str(), kBusyWaitMs)) Sleep(kRetryPauseMs);
            ++busyRetries;
        } else if (error == ERROR_FILE_NOT_FOUND) {
            if (++notFoundRetries > kMaxNotFoundRetries) break;
            Sleep(kRetryPauseMs);
        } else {
            break;
        }
    }
    return INVALID_HANDLE_VALUE;
}

void setMessageReadMode(HANDLE pipe) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
}

std::int32_t veltara_list_devices(veltara_device_entry* entries, std::int32_t capacity) {
    using namespace wire::device_list;
    HANDLE broker = connect_pipe(wire::kBrokerPipeName);
    if (broker == INVALID_HANDLE_VALUE) return list_failure::kNoBrokerPipe;
    setMessageReadMode(broker);

    std::uint8_t request[4];
    store32(request, kRequest);
    DWORD written = 0;
    if (!WriteFile(broker, request, sizeof request, &written, nullptr)) {
        CloseHandle(broker);
        return list_failure::kRequestNotWritten;
    }

    std::vector<std::uint8_t> reply(kReplyCapacity, 0);
    DWORD received = 0;
    // A reply longer than the buffer is cut: the rest goes with the connection.
    if (!ReadFile(broker, reply.data(), static_cast<DWORD>(reply.size()), &received, nullptr) &&
        GetLastError() != ERROR_MORE_DATA) {
        CloseHandle(broker);
        return list_failure::kReplyNotRead;
    }
    CloseHandle(broker);
    if (received < kEntries) return list_failure::kReplyTooShort;  // no whole count

    const std::uint32_t count = load32(reply.data() + kCount);
    if (entries == nullptr || capacity < 1) {
        // A count beyond the result's range would read as a failure.
        return static_cast<std::int32_t>(
            std::min<std::uint32_t>(count, std::numeric_limits<std::int32_t>::max()));
    }
    // Only records that arrived whole are devices: a count beyond them would make zero-filled
    // records (device number 0, no name) of bytes the service never sent.
    const std::size_t arrived = (received - kEntries) / kEntrySize;
    const std::size_t copied =
        std::min<std::size_t>({static_cast<std::size_t>(capacity), count, kMaxEntries, arrived});
    for (std::size_t i = 0; i < copied; ++i) {
        const std::uint8_t* record = reply.data() + kEntries + i * kEntrySize;
        entries[i].dev_no = static_cast<std::int32_t>(load32(record + kEntryDevNo));
        const char* name = reinterpret_cast<const char*>(record + kEntryName);
        const std::size_t length =
            static_cast<std::size_t>(std::find(name, name + kNameSize - 1, '\0') - name);
        std::memcpy(entries[i].name, name, length);
        std::memset(entries[i].name + length, 0, kNameSize - length);
    }
    return static_cast<std::int32_t>(copied);
}

}  // namespace crvmon::veltara
