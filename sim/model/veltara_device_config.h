// What a scenario states about one simulated Veltara device and about the host service that
// serves it. VeltaraDeviceModel turns a device into the service's replies.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace crvmon::sim {

// Commands are named in faults by a key: the number of a device command ('R', 0-255), or
// kHostCommandBase plus the number of a host command ('H').
constexpr std::uint32_t kHostCommandBase = 0x100;
constexpr std::uint32_t kHostInfoCommand = kHostCommandBase + 0;

// "IOC_GET_TEMPERATURE" → 10, "IOC_HOST_INFO" → kHostInfoCommand; nullopt for other names.
std::optional<std::uint32_t> veltaraCommandByName(std::string_view name);
std::string veltaraCommandName(std::uint32_t command);
// What the service sends back for a command, fixed by the protocol.
enum class VeltaraReplyShape {
    None,     // rejected: the client reads nothing
    Status,   // 4-byte status word
    Value,    // 4-byte signed value
    Version,  // 8 bytes
    Record,   // a record of the command's own length
};
VeltaraReplyShape veltaraReplyShape(std::uint32_t command);

// Bound of every time a scenario gives (about 11.6 days), so that sums of them never overflow.
constexpr std::uint64_t kMaxScenarioMicros = 1'000'000'000'000;
constexpr std::uint64_t kMaxScenarioMillis = kMaxScenarioMicros / 1000;

// Work one process runs on the device: an item begins every period and runs for the busy
// time. Times are microseconds; the first item begins startUs after the model is made (when
// the simulation starts).
struct VeltaraWorkConfig {
    std::int32_t pid = 0;
    std::uint64_t startUs = 0;
    std::uint64_t periodUs = 100'000;
    std::uint64_t busyUs = 50'000;        // 0 to periodUs; 0 records end == start
    std::optional<std::uint64_t> stopUs;  // no item begins at or after this; nullopt: never

    bool operator==(const VeltaraWorkConfig&) const = default;
};

// One row of the process snapshot. Several rows may carry the same pid.
struct VeltaraProcessRow {
    std::int32_t pid = 0;
    std::uint32_t count = 0;
    std::uint64_t amount = 0;
    // What the tools call the process: a simulated pid is made up, so the machine running the
    // simulation cannot name it. Empty: kDefaultProcessName. Not part of the snapshot.
    std::string name;

    bool operator==(const VeltaraProcessRow&) const = default;
};

constexpr const char* kDefaultProcessName = "simulated";
constexpr std::size_t kProcessNameMax = 64;
// 1 to kProcessNameMax printable ASCII characters: the name reaches tables, JSON and metric
// labels as it is.
bool isProcessName(std::string_view name);

// Which slot the monitor record's head names: the one the next item will take, or the newest.
enum class ActivityHead { Next, Newest };

struct VeltaraDeviceFaults {
    // For this long after the service starts, sim-clock milliseconds, every instance of the
    // device's pipe is taken by the service itself: clients find the pipe busy.
    std::uint64_t busyMs = 0;
    // The service ends every connection to the device's pipe after answering this many
    // requests on it; 0 never.
    std::uint32_t brokenAfterRequests = 0;
    // Per command: bytes its reply has instead of the protocol's length (cut, or padded with
    // zeros).
    std::map<std::uint32_t, std::uint32_t> replyLength;
    // Per status command: the status word it answers with instead of 0xBEEF.
    std::map<std::uint32_t, std::uint32_t> status;
    // Commands whose requests are read and never answered, until the service stops.
    std::set<std::uint32_t> silent;
    // A captured snapshot never ends: past its last row it starts again, until released.
    bool endlessSnapshot = false;

    bool operator==(const VeltaraDeviceFaults&) const = default;
};

constexpr std::size_t kVeltaraNameMax = 64;  // 64 bytes leave no room for the NUL: a fault

struct VeltaraDeviceConfig {
    std::int32_t devNo = 0;
    std::string name = "usb0";  // bytes; the suffix of the device's pipe and section names

    // On-device driver: major, minor, patch, revision (the library accepts revision 1 only).
    std::array<std::uint16_t, 4> driverVersion{2, 5, 0, 1};
    // Host USB driver (the host info record): its version, whose revision must be 0, and the
    // on-device driver revision it supports.
    std::array<std::uint16_t, 4> hostDriverVersion{2, 5, 0, 0};
    std::uint16_t hostRevision = 1;

    // Bit 0: a kind is given; bits 1-4: the kind (1 → target type 6, 0 → 5).
    std::uint32_t flags = 0x3;
    std::uint32_t memoryPages = 0x40000;  // 4096-byte pages: 1 GiB
    std::uint32_t pagesInUse = 0;         // at most memoryPages

    std::int32_t signalType = 1;
    std::int32_t temperatureMilliC = 45'000;
    std::int32_t npuClockMHz = 800;              // changed by IOC_SET_CLOCK_NPU
    std::array<std::uint32_t, 2> version{1, 0};  // the 8-byte IOC_VERSION reply

    ActivityHead activityHead = ActivityHead::Next;
    std::vector<VeltaraWorkConfig> work;
    std::vector<VeltaraProcessRow> processes;

    VeltaraDeviceFaults faults;

    bool operator==(const VeltaraDeviceConfig&) const = default;
};

// Throws std::invalid_argument naming the first field out of its range, as for Orvek cards.
void validateVeltaraDeviceConfig(const VeltaraDeviceConfig& config);

// The host service as a whole: its pipes and the faults of its broker.
struct VeltaraServiceConfig {
    std::uint32_t pipeInstances = 40;  // per device pipe; the library pre-opens 32
    std::uint32_t brokerInstances = 4;
    // Sim-clock milliseconds after start before any pipe or section exists.
    std::uint64_t absentMs = 0;
    // Sim-clock milliseconds after the service appears during which every broker instance is
    // taken by the service itself.
    std::uint64_t brokerBusyMs = 0;
    // The count the device list reports; nullopt: the number of entries sent.
    std::optional<std::uint32_t> listCount;
    // Made-up entries (no pipe behind them) sent after the devices.
    std::uint32_t listExtraEntries = 0;
    // Bytes of the device-list reply instead of its natural length (cut, or padded with zeros).
    std::optional<std::uint32_t> listReplyLength;

    bool operator==(const VeltaraServiceConfig&) const = default;
};

constexpr std::uint32_t kMaxPipeInstances = 254;  // 255 means "unlimited" to CreateNamedPipeW
constexpr std::uint32_t kMaxListExtraEntries = 1000;
constexpr std::uint32_t kMaxReplyLength = 65536;

void validateVeltaraServiceConfig(const VeltaraServiceConfig& config);

}  // namespace crvmon::sim
