#include "tools/smi/scenario_dump.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "sim/model/orvek_card_config.h"
#include "sim/model/power_encoding.h"
#include "sim/model/veltara_device_config.h"
#include "tools/common/utc_time.h"

namespace crvmon::smi {
namespace {

using tools::DeviceSample;
using Integer = std::optional<long long>;

// The look-back window of the library's Veltara busy times, microseconds of the service's clock.
constexpr long long kVeltaraWindowUs = 1'000'000;
constexpr long long kVeltaraPageBytes = 4096;

template <class T>
Integer wide(const std::optional<T>& value) {
    return value ? Integer(static_cast<long long>(*value)) : std::nullopt;
}

// A TOML basic string. Bytes above 0x7E are taken as Latin-1, as the scenario's names are, so
// that the file stays valid UTF-8 whatever the device sent.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// The shortest text that reads back as the same value, with a point or an exponent so that TOML
// takes it as a float.
template <class Float>
std::string shortest(Float value) {
    char text[40];
    std::string out(text, std::to_chars(text, text + sizeof text, value).ptr);
    return out.find_first_of(".e") == std::string::npos ? out + ".0" : out;
}

// A power reading, which the library decodes in single precision: the float's own text ("0.85"),
// which the chip's step rounds back to the same half-word.
std::string reading(double value) {
    const auto single = static_cast<float>(value);
    return static_cast<double>(single) == value ? shortest(single) : shortest(value);
}

// "[1, 4, 2]".
template <class Items, class Text>
std::string list(const Items& items, Text text) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ", ") + text(item);
    return "[" + out + "]";
}

std::string hex(long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llX", value);
    return text;
}

// "1.8.2" → {1, 8, 2}: dot-separated decimal numbers and nothing else.
std::optional<std::vector<long long>> dotted(std::string_view text) {
    std::vector<long long> parts;
    while (true) {
        long long part = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), part);
        if (error != std::errc() || end == text.data() || part < 0) return std::nullopt;
        parts.push_back(part);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        if (text.empty()) return parts;
        if (text.front() != '.') return std::nullopt;
        text.remove_prefix(1);
    }
}

// The number a node path ends in: "/dev/orvek3" → 3.
Integer trailingNumber(const std::optional<std::string>& node) {
    if (!node) return std::nullopt;
    const std::size_t digits = node->find_last_not_of("0123456789") + 1;
    long long value = 0;
    const char* first = node->data() + digits;
    const char* last = node->data() + node->size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || end != last || error != std::errc()) return std::nullopt;
    return value;
}

// "DDDD:BB:DD.F" in hexadecimal, device at most 1F and function at most 7, as a scenario takes it.
bool isPciAddress(std::string_view text) {
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || text[10] != '.') return false;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11}) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return (text[8] == '0' || text[8] == '1') && text[11] >= '0' && text[11] <= '7';
}

class Toml {
  public:
    void comment(std::string_view text) {
        out_ += "# ";
        // A comment ends at the line's end and must be valid UTF-8: anything else is replaced.
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            out_ += byte < 0x20 || byte > 0x7E ? '?' : c;
        }
        out_ += '\n';
    }
    void key(std::string_view name, const std::string& value) {
        out_.append(name).append(" = ").append(value) += '\n';
    }
    void table(std::string_view header) { out_.append("\n").append(header) += '\n'; }
    void absent(std::string_view name) { comment(std::string(name) + ": not readable (default)"); }
    void unfit(std::string_view name, const std::string& value) {
        comment(std::string(name) + ": " + value +
                " is beyond what a scenario can state (default)");
    }

    // A bounded integer key; a value the scenario cannot hold is named in a comment instead.
    void integer(std::string_view name, Integer value, long long min, long long max,
                 bool inHex = false) {
        if (!value) return absent(name);
        if (*value < min || *value > max) return unfit(name, std::to_string(*value));
        key(name, inHex ? hex(*value) : std::to_string(*value));
    }

    // [major, minor, patch, revision] from a "major.minor.patch" text and a revision.
    void version4(std::string_view name, const std::optional<std::string>& text, Integer revision) {
        const auto parts = text ? dotted(*text) : std::nullopt;
        if (!parts || !revision) return absent(name);
        std::vector<long long> all = *parts;
        all.push_back(*revision);
        if (all.size() != 4 || *std::max_element(all.begin(), all.end()) > 0xFFFF) {
            return unfit(name, *text + " revision " + std::to_string(*revision));
        }
        key(name, list(all, [](long long part) { return std::to_string(part); }));
    }

    std::string& text() { return out_; }

  private:
    std::string out_;
};

// A chip whose half-words carry the readings. The library hands them on in single precision, so
// a chip reproduces them when its rounded readings agree at that precision; the chips that read
// power as volts x amps qualify only when the read power is that product.
struct ChosenMonitor {
    // Read through the optional that chooseMonitor returns.
    // cppcheck-suppress unusedStructMember
    sim::PowerMonitorConfig monitor;
    bool exact = false;
};

std::optional<ChosenMonitor> chooseMonitor(double volts, double amps, double watts) {
    using namespace sim::power_chip;
    if (!std::isfinite(volts) || !std::isfinite(amps) || !std::isfinite(watts)) return std::nullopt;
    const bool product =
        static_cast<float>(volts) * static_cast<float>(amps) == static_cast<float>(watts);
    const std::vector<std::uint16_t> chips =
        product ? std::vector<std::uint16_t>{k2260, k49D2, k546E, kA480, k5449, k2586}
                : std::vector<std::uint16_t>{k5449, k2586};
    const auto error = [](double carried, double read) {
        const double single = static_cast<float>(carried);
        return single == read ? 0.0 : std::abs(single - read) / std::max(std::abs(read), 1e-300);
    };
    std::optional<ChosenMonitor> best;
    double bestError = std::numeric_limits<double>::infinity();
    for (const std::uint16_t chip : chips) {
        const sim::PowerMonitorConfig wanted{chip, volts, amps, watts};
        sim::PowerMonitorConfig carried;
        try {
            carried = sim::nearestReadings(wanted);
        } catch (const std::invalid_argument&) {
            continue;  // beyond the chip's range
        }
        const double worst =
            std::max({error(carried.volts, volts), error(carried.amps, amps),
                      sim::reportsOwnPower(chip) ? error(carried.watts, watts) : 0.0});
        if (worst <= 1e-9) return ChosenMonitor{wanted, true};
        if (worst < bestError) {
            bestError = worst;
            best = ChosenMonitor{wanted, false};
        }
    }
    return best;
}

void writeMonitor(Toml& toml, std::string_view header, std::optional<int> selector,
                  const std::optional<double>& volts, const std::optional<double>& amps,
                  const std::optional<double>& watts) {
    const std::string name(header.substr(header.find_first_not_of('[')));
    if (!volts || !amps || !watts) return toml.absent(name.substr(0, name.find(']')));
    const auto chosen = chooseMonitor(*volts, *amps, *watts);
    if (!chosen) return toml.unfit(name.substr(0, name.find(']')), "the reading");
    toml.table(header);
    if (!chosen->exact) toml.comment("No chip carries these readings exactly: the closest one.");
    if (selector) toml.key("selector", std::to_string(*selector));
    toml.key("chip", hex(chosen->monitor.chip));
    toml.key("volts", reading(*volts));
    toml.key("amps", reading(*amps));
    if (sim::reportsOwnPower(chosen->monitor.chip)) toml.key("watts", reading(*watts));
}

// The scenario's ten loads (cluster 0 cores 0-3, cluster 0 whole, then cluster 1) from the
// library's list, which gives per cluster the whole entry first and each core as the whole
// entry's share plus its own.
std::optional<std::array<double, sim::kCoreEntries>> coreLoads(
    const std::vector<tools::CoreLoad>& cores) {
    std::array<const tools::CoreLoad*, sim::kCoreEntries> read{};
    for (const tools::CoreLoad& core : cores) {
        if (!core.cluster || *core.cluster < 0 || *core.cluster > 1 || !core.busyPercent())
            continue;
        if (core.core && (*core.core < 1 || *core.core > 4)) continue;
        // Both checked in range above: the sum is an index of the array.
        // NOLINTNEXTLINE(bugprone-misplaced-widening-cast)
        read[static_cast<std::size_t>(5 * *core.cluster + (core.core ? *core.core - 1 : 4))] =
            &core;
    }
    std::array<double, sim::kCoreEntries> loads{};
    for (std::size_t i = 0; i < sim::kCoreEntries; ++i) {
        const tools::CoreLoad* entry = read[i];
        const tools::CoreLoad* whole = read[i / 5 * 5 + 4];
        if (!entry || !whole) return std::nullopt;
        // In whole units of a common window, so that 0.579211 is written as such.
        const std::int64_t base = entry == whole ? 0 : whole->busyTime;
        const double load = entry->totalTime == whole->totalTime
                                ? static_cast<double>(entry->busyTime - base) /
                                      static_cast<double>(entry->totalTime)
                                : (*entry->busyPercent() - *whole->busyPercent()) / 100;
        loads[i] = std::clamp(load, 0.0, 1.0);
    }
    return loads;
}

void writeErrors(Toml& toml, const DeviceSample& sample) {
    for (const tools::ReadError& error : sample.errors) {
        toml.comment("Reading the " + error.what + " failed: " + tools::statusText(error.status));
    }
}

void writeOrvek(Toml& toml, const DeviceSample& s, int deviceIndex) {
    toml.table("[[orvek]]");
    toml.comment("Card " + tools::formatDeviceId(s.id) + ", " + s.node.value_or("no node name"));
    writeErrors(toml, s);
    if (trailingNumber(s.node) != deviceIndex) {
        toml.comment("The node name gives no card number: one no other card has.");
    }
    toml.key("device_index", std::to_string(deviceIndex));
    toml.integer("temperature", wide(s.temperatureC), 0, 255);
    toml.integer("switch_temperature", wide(s.switchTemperatureC), 0, 255);
    toml.integer("npu_clock_mhz", wide(s.npuClockMHz), 0, 4294);
    toml.integer("bus_clock_mhz", wide(s.busClockMHz), 0, 4294);
    toml.integer("fan_duty", wide(s.fanDutyPercent), 0, 100);
    toml.integer("chip_id", wide(s.chipId), 0, 3);

    const auto firmware = s.firmwareVersion ? dotted(*s.firmwareVersion) : std::nullopt;
    if (!firmware) {
        toml.absent("firmware");
    } else if (firmware->size() < 2 || firmware->size() > 3 || (*firmware)[0] > 63 ||
               (*firmware)[1] > 1023 || (firmware->size() == 3 && (*firmware)[2] > 32767)) {
        toml.unfit("firmware", *s.firmwareVersion);
    } else {
        toml.key("firmware", quoted(*s.firmwareVersion));
    }
    toml.integer("firmware_revision", wide(s.firmwareRevision), 0, 15);
    toml.version4("driver_version", s.driverVersion, wide(s.driverRevision));
    toml.integer("vendor_id", wide(s.vendorId), 0, 0xFFFF, true);
    toml.integer("device_id", wide(s.deviceId), 0, 0xFFFF, true);

    // The subsystem id packs the memory size and the board's kind, grade and chip generation.
    std::uint64_t memoryBytes = std::uint64_t{sim::OrvekCardConfig{}.memoryGiB} << 30;
    const auto fields = s.subDeviceId && *s.subDeviceId >= 0 && *s.subDeviceId <= 0xFFFF
                            ? sim::splitSubsystemId(static_cast<std::uint16_t>(*s.subDeviceId))
                            : std::nullopt;
    if (fields) {
        memoryBytes = std::uint64_t{fields->memoryGiB} << 30;
        toml.key("memory_gib", std::to_string(fields->memoryGiB));
        toml.key("board_kind", std::to_string(fields->boardKind));
        toml.key("grade", std::to_string(fields->grade));
        toml.key("chip_generation", std::to_string(fields->chipGeneration));
    } else if (s.subDeviceId) {
        toml.unfit("subsystem id", hex(*s.subDeviceId));
    } else {
        toml.absent("memory_gib, board_kind, grade, chip_generation (subsystem id)");
    }
    toml.integer("pcie_gen", wide(s.pcieGen), 0, 255);
    toml.integer("pcie_lanes", wide(s.pcieLanes), 0, 255);
    toml.integer("pcie_rev", wide(s.pcieRev), 0, 255);
    toml.integer("pcie_class_code", wide(s.pcieClassCode), 0, 0xFFFFFFFF, true);

    // The library reports no location when the card gave none ("N/A").
    const std::string slot = s.pcieSlot.value_or("");
    std::string chainText = slot;
    std::replace(chainText.begin(), chainText.end(), '-', '.');
    const auto chain = slot.find(':') == std::string::npos ? dotted(chainText) : std::nullopt;
    if (slot.empty()) {
        toml.key("location", "\"\"");
    } else if (chain && chain->size() <= 7 &&
               *std::max_element(chain->begin(), chain->end()) <= 0xFFFF) {
        toml.key("location", list(*chain, [](long long slot) { return std::to_string(slot); }));
    } else if (isPciAddress(slot)) {
        toml.key("location", quoted(slot));
    } else {
        toml.unfit("location", slot);
    }

    // The older driver's table carries no firmware patch, class code or location; the library
    // then reads the extra-PMIC selector where firmware below 1.2.4 keeps it.
    if (firmware && firmware->size() == 2 && !s.pcieSlot && !s.pcieClassCode) {
        toml.key("identity_form", "\"legacy\"");
    }

    if (s.memoryUsedBytes && *s.memoryUsedBytes >= 0 &&
        static_cast<std::uint64_t>(*s.memoryUsedBytes) > memoryBytes) {
        toml.unfit("memory_used", std::to_string(*s.memoryUsedBytes));
    } else {
        toml.integer("memory_used", wide(s.memoryUsedBytes), 0,
                     std::numeric_limits<long long>::max());
    }
    if (const auto loads = s.cores ? coreLoads(*s.cores) : std::nullopt) {
        toml.key("load", list(*loads, shortest<double>));
        toml.key("load_wave_amplitude", "0.0");
    } else {
        toml.absent("load");
    }

    toml.integer("extra_pmic_selected", wide(s.extraPmicId), 0, 3);
    writeMonitor(toml, "[orvek.board_power]", std::nullopt, s.boardVoltageV, s.boardCurrentA,
                 s.boardPowerW);
    const int selector =
        s.extraPmicId && *s.extraPmicId >= 0 && *s.extraPmicId <= 3 ? *s.extraPmicId : 0;
    writeMonitor(toml, "[[orvek.extra_power]]", selector, s.extraPmicVoltageV, s.extraPmicCurrentA,
                 s.extraPmicPowerW);
    toml.comment("The monitors at the other selector values cannot be read without changing the");
    toml.comment("card's selection: they are left out, and read as zero volts, amps and watts.");
}

// Busy microseconds per window giving the share busy/total.
std::optional<long long> busyPerWindow(std::int64_t busy, std::int64_t total) {
    if (total <= 0) return std::nullopt;
    const double share =
        std::clamp(static_cast<double>(busy) / static_cast<double>(total), 0.0, 1.0);
    return std::llround(share * kVeltaraWindowUs);
}

void writeWork(Toml& toml, long long pid, long long busyUs) {
    // One item a window long: any one-second window then holds exactly busyUs of it.
    toml.table("[[veltara.work]]");
    toml.key("pid", std::to_string(pid));
    toml.key("period_us", std::to_string(kVeltaraWindowUs));
    toml.key("busy_us", std::to_string(busyUs));
}

void writeVeltara(Toml& toml, const DeviceSample& s) {
    toml.table("[[veltara]]");
    toml.comment("Device " + tools::formatDeviceId(s.id) + ", " + s.node.value_or("no node name"));
    writeErrors(toml, s);
    toml.key("kind", s.id.type == CRVMON_TARGET_VELTARA_USB_KIND1 ? "1" : "0");
    toml.version4("driver_version", s.onDeviceDriverVersion, wide(s.onDeviceDriverRevision));
    toml.version4("host_driver_version", s.driverVersion, wide(s.driverRevision));
    toml.integer("host_revision", wide(s.onDeviceDriverRevision), 0, 0xFFFF);

    // Whole pages; those in use at most the device's (or the default's) memory.
    const auto pages = [&](const char* key, const std::optional<long long>& bytes, long long max) {
        if (bytes && *bytes % kVeltaraPageBytes != 0) {
            return toml.unfit(key, std::to_string(*bytes) + " bytes");
        }
        toml.integer(key, bytes ? Integer(*bytes / kVeltaraPageBytes) : std::nullopt, 0, max, true);
    };
    pages("memory_pages", s.memoryTotalBytes, 0xFFFFFFFF);
    const long long total = s.memoryTotalBytes.value_or(-1) / kVeltaraPageBytes;
    pages("pages_in_use", s.memoryUsedBytes,
          total >= 0 && total <= 0xFFFFFFFF && *s.memoryTotalBytes % kVeltaraPageBytes == 0
              ? total
              : sim::VeltaraDeviceConfig{}.memoryPages);
    toml.integer("signal_type", wide(s.signalType), INT32_MIN, INT32_MAX);
    toml.integer("temperature_mc",
                 s.temperatureC ? Integer(*s.temperatureC * 1000LL) : std::nullopt, INT32_MIN,
                 INT32_MAX);
    toml.integer("npu_clock_mhz", wide(s.npuClockMHz), INT32_MIN, INT32_MAX);

    // Work that reproduces each process's busy share of the window, and one more stream for the
    // busy time of processes the snapshot does not list (the device's total holds it too).
    if (!s.processes) toml.absent("process list");
    const std::vector<tools::ProcessLoad> processes =
        s.processes.value_or(std::vector<tools::ProcessLoad>{});
    long long listedUs = 0;
    for (const tools::ProcessLoad& p : processes) {
        const auto busyUs = busyPerWindow(p.busyTime, p.totalTime);
        if (busyUs && *busyUs > 0) writeWork(toml, p.pid, *busyUs);
        listedUs += busyUs.value_or(0);
    }
    const auto totalUs = s.cores && s.cores->size() == 1
                             ? busyPerWindow(s.cores->front().busyTime, s.cores->front().totalTime)
                             : std::nullopt;
    if (totalUs && *totalUs > listedUs) {
        long long pid = 0;
        while (std::any_of(processes.begin(), processes.end(),
                           [&](const tools::ProcessLoad& p) { return p.pid == pid; })) {
            ++pid;
        }
        toml.comment("Busy time of processes the snapshot does not list:");
        writeWork(toml, pid, std::min(*totalUs - listedUs, kVeltaraWindowUs));
    }
    for (const tools::ProcessLoad& p : processes) {
        toml.table("[[veltara.process]]");
        toml.key("pid", std::to_string(p.pid));
        toml.key("count", std::to_string(p.quantity));
        if (p.amount > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
            toml.unfit("amount", std::to_string(p.amount));
        } else {
            toml.key("amount", std::to_string(p.amount));
        }
    }
}

}  // namespace

std::string scenarioText(const std::vector<tools::DeviceSample>& devices) {
    std::string when;
    for (const DeviceSample& sample : devices) {
        if (when.empty()) when = sample.readAt;
    }
    if (when.empty()) when = tools::utcTimestamp(std::chrono::system_clock::now());

    Toml toml;
    toml.comment("Scenario written by crvmon-smi --dump-scenario: the devices as the library read");
    toml.comment("them at " + when + " (UTC). It is one moment's state: loads hold still and");
    toml.comment("every reading stays at what was read. Load it with crvmon-sim or --scenario.");
    toml.comment("Driver versions are the library's: one per driver type, its first device's.");
    if (devices.empty()) toml.comment("No devices were read.");

    // Each family in the order of its node numbers, which is the order the library finds them in.
    std::vector<const DeviceSample*> sorted;
    sorted.reserve(devices.size());
    for (const DeviceSample& sample : devices) sorted.push_back(&sample);
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return trailingNumber(a->node).value_or(std::numeric_limits<long long>::max()) <
               trailingNumber(b->node).value_or(std::numeric_limits<long long>::max());
    });
    // A card's number names its device object: each card keeps its own, and cards without a
    // usable one (or with one an earlier card has) take free ones.
    std::vector<std::pair<const DeviceSample*, Integer>> cards;
    std::array<bool, 64> taken{};
    for (const DeviceSample* sample : sorted) {
        if (sample->family != tools::Family::Orvek) continue;
        Integer number = trailingNumber(sample->node);
        if (number && (*number < 0 || *number >= 64 || taken[static_cast<std::size_t>(*number)])) {
            number.reset();
        }
        if (number) taken[static_cast<std::size_t>(*number)] = true;
        cards.emplace_back(sample, number);
    }
    std::size_t free = 0;
    for (auto& [card, number] : cards) {
        while (!number && free < taken.size()) {
            if (!taken[free]) number = static_cast<long long>(free);
            ++free;
        }
        if (!number) break;  // the simulator serves at most 64 cards
        writeOrvek(toml, *card, static_cast<int>(*number));
    }
    for (const DeviceSample* sample : sorted) {
        if (sample->family == tools::Family::Veltara) writeVeltara(toml, *sample);
    }
    for (const DeviceSample* sample : sorted) {
        if (sample->family == tools::Family::Unknown) {
            toml.comment("Device " + tools::formatDeviceId(sample->id) +
                         " is of no family a scenario describes: left out.");
        }
    }
    return std::move(toml.text());
}

}  // namespace crvmon::smi
