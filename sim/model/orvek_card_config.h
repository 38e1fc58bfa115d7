// What a scenario states about one simulated Orvek card, in the units a person would use
// (degrees, megahertz, volts, GiB). OrvekCardModel turns it into the driver's words.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lib/orvek/orvek_wire.h"

namespace crvmon::sim {

// Identifiers a power monitor reports in the high half of its second word; each has its own
// scaling of the voltage, current and power half-words.
namespace power_chip {
constexpr std::uint16_t k5449 = 0x5449;  // reports its own power
constexpr std::uint16_t k2260 = 0x2260;
constexpr std::uint16_t k2586 = 0x2586;  // reports its own power
constexpr std::uint16_t k49D2 = 0x49D2;
constexpr std::uint16_t k546E = 0x546E;  // current as exponent and mantissa
constexpr std::uint16_t kA480 = 0xA480;
}  // namespace power_chip

bool isKnownPowerChip(std::uint16_t chip);
// True for the chips whose power reading is their own; the others are read as volts x amps.
bool reportsOwnPower(std::uint16_t chip);

// The fourteen register addresses a card answers, in the order of the board's register table.
constexpr std::array<std::uint32_t, 14> kCardRegisters{
    orvek::wire::registers::kNpuClock,         orvek::wire::registers::kBusClock,
    orvek::wire::registers::kPmicSelectLegacy, orvek::wire::registers::kPmicSelect,
    orvek::wire::registers::kThermalStatus,    orvek::wire::registers::kBoardStatus,
    orvek::wire::registers::kUnused0,          orvek::wire::registers::kUnused1,
    orvek::wire::registers::kUnused2,          orvek::wire::registers::kAuxStatus,
    orvek::wire::registers::kExtraPmicFirst,   orvek::wire::registers::kExtraPmicSecond,
    orvek::wire::registers::kBoardPmicFirst,   orvek::wire::registers::kBoardPmicSecond};
bool isCardRegister(std::uint32_t address);

struct PowerMonitorConfig {
    std::uint16_t chip = power_chip::k5449;
    double volts = 12.0;
    double amps = 2.0;
    double watts = 24.0;  // only used by the chips that report their own power

    bool operator==(const PowerMonitorConfig&) const = default;
};

struct FirmwareVersion {
    std::uint32_t major = 1;                 // 0-63
    std::uint32_t minor = 2;                 // 0-1023
    std::optional<std::uint32_t> patch = 4;  // 0-32767
    std::uint32_t revision = 0;              // 0-15

    // As the library compares it: major << 24 | minor << 16 | patch (0 when absent).
    std::uint32_t code() const { return (major << 24) | (minor << 16) | patch.value_or(0); }

    bool operator==(const FirmwareVersion&) const = default;
};

enum class LocationKind { None, SlotChain, PciAddress };

struct PciAddress {
    std::uint16_t domain = 0;
    std::uint8_t bus = 0;
    std::uint8_t device = 0;    // 0-31
    std::uint8_t function = 0;  // 0-7

    bool operator==(const PciAddress&) const = default;
};

struct CardLocation {
    LocationKind kind = LocationKind::PciAddress;
    PciAddress address;
    std::vector<std::uint16_t> slots;  // 1-7 slot numbers, outermost first

    bool operator==(const CardLocation&) const = default;
};

enum class IdentityForm {
    Current,  // the 128-byte block
    Legacy,   // nothing for the 128-byte request, then the 1040-byte table
};

// Cores in the order of the usage reply: cluster 0 cores 0-3 and its cluster entry, then
// cluster 1 likewise.
constexpr std::size_t kCoreEntries = 10;

struct OrvekCardFaults {
    // Bytes the 1040-byte table request transfers; nullopt means the whole table.
    std::optional<std::uint32_t> legacyReplyLength;
    // Register requests to these addresses transfer nothing (reads) or are dropped (writes).
    std::vector<std::uint32_t> failingRegisters;
    // Writes to these addresses fail: the driver completes them with an error. Reads answer.
    std::vector<std::uint32_t> failingWrites;
    // Bytes the usage request transfers: 10352 normally, 88 for "no activity data", 0 for none.
    std::uint32_t usageReplyLength = 10352;

    bool operator==(const OrvekCardFaults&) const = default;
};

struct OrvekCardConfig {
    int deviceIndex = 0;  // the N of "\\.\corvanta_pcieN"; 0 has no number

    // Telemetry.
    std::uint32_t temperatureC = 45;        // 0-255
    std::uint32_t switchTemperatureC = 40;  // 0-255
    std::uint32_t npuClockMHz = 1000;       // the register holds Hz, so at most 4294
    std::uint32_t busClockMHz = 500;
    std::uint32_t fanDutyPercent = 30;  // 0-100
    std::uint32_t chipId = 0;           // 0-3
    std::uint32_t auxStatus = 0;        // raw word, not interpreted
    PowerMonitorConfig boardPower;
    // Indexed by the 2-bit selector; an empty slot reads as two zero words.
    std::array<std::optional<PowerMonitorConfig>, 4> extraPower{};
    std::uint32_t extraPmicSelected = 0;  // 0-3, the selector at start

    // Identity.
    FirmwareVersion firmware;
    std::array<std::uint16_t, 4> driverVersion{1, 8, 0, 0};  // major, minor, patch, revision
    std::uint16_t vendorId = 0x1D9C;
    std::uint16_t deviceId = 0x0100;
    std::uint32_t memoryGiB = 16;      // a power of two from 2 to 256
    std::uint32_t boardKind = 0;       // 0-7
    std::uint32_t grade = 0;           // 0-3
    std::uint32_t chipGeneration = 0;  // 0-3
    std::uint8_t pcieGen = 4;
    std::uint8_t pcieLanes = 8;
    std::uint8_t pcieRev = 0;
    std::uint32_t pcieClassCode = 0x120000;
    CardLocation location;
    IdentityForm identityForm = IdentityForm::Current;
    std::int32_t legacyIndex =
        0;  // this card's entry in the 1040-byte table; outside 0-63 is a fault

    // Activity.
    std::uint64_t memoryUsedBytes = 0;
    std::array<double, kCoreEntries> load{};  // busy fraction 0..1 per core entry
    double loadWaveAmplitude = 0.0;           // 0..1: load swings by this share of itself
    double loadWavePeriodSeconds = 60.0;

    OrvekCardFaults faults;

    bool operator==(const OrvekCardConfig&) const = default;
};

// Throws std::invalid_argument naming the first field out of its range or inconsistent with
// another, so that a card built in code is held to the same rules as one read from a scenario.
void validateCardConfig(const OrvekCardConfig& config);

// The PCI subsystem ids the card reports. The subsystem vendor id holds the firmware's major
// (bits 10-15) and minor (bits 0-9); the subsystem id the memory size code (bits 0-2: 2 << code
// GiB), board kind (bits 3-5), grade (bits 6-7), firmware revision (bits 8-11) and chip
// generation (bits 12-13).
std::uint16_t subsystemVendorId(const OrvekCardConfig& config);
std::uint16_t subsystemId(const OrvekCardConfig& config);

struct SubsystemIdFields {
    std::uint32_t memoryGiB = 16;
    std::uint32_t boardKind = 0;
    std::uint32_t grade = 0;
    std::uint32_t firmwareRevision = 0;
    std::uint32_t chipGeneration = 0;
};
// What subsystemId packed; nullopt when bits 14-15, which no field uses, are set.
std::optional<SubsystemIdFields> splitSubsystemId(std::uint16_t id);

}  // namespace crvmon::sim
