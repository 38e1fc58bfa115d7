#include "tools/smi/scenario_dump.h"

#include <algorithm>
#include <array>
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
#include "sim/model/scenario_keys.h"
#include "sim/model/scenario_writer.h"
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

// What the dump writes in place of a value it could not read, or of one no scenario can state;
// the key keeps its default.
std::string notReadable(std::string_view name) {
    return std::string(name) + ": not readable (default)";
}

std::string unfit(std::string_view name, const std::string& value) {
    return std::string(name) + ": " + value + " is beyond what a scenario can state (default)";
}

// An integer key from a reading, within its row's limits (and `max`, where the dump knows a
// tighter one), or a note of why it is left at its default.
template <class Config>
void take(Config& config, sim::KeyNotes& notes, sim::ScenarioKeys<Config> keys,
          std::string_view name, Integer value, Integer max = std::nullopt) {
    const sim::ScenarioKey<Config>& key = *sim::findKey(keys, name);
    if (!value) {
        notes[std::string(name)] = notReadable(name);
    } else if (!key.fits(*value) || (max && *value > *max)) {
        notes[std::string(name)] = unfit(name, std::to_string(*value));
    } else {
        key.setInteger(config, *value);
    }
}

// [major, minor, patch, revision] from a "major.minor.patch" text and a revision.
void takeVersion(std::array<std::uint16_t, 4>& version, sim::KeyNotes& notes, std::string_view name,
                 const std::optional<std::string>& text, Integer revision) {
    const auto parts = text ? dotted(*text) : std::nullopt;
    if (!parts || !revision) {
        notes[std::string(name)] = notReadable(name);
        return;
    }
    std::vector<long long> all = *parts;
    all.push_back(*revision);
    if (all.size() != 4 || *std::max_element(all.begin(), all.end()) > 0xFFFF || *revision < 0) {
        notes[std::string(name)] = unfit(name, *text + " revision " + std::to_string(*revision));
        return;
    }
    std::copy(all.begin(), all.end(), version.begin());
}

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

void writeMonitor(sim::ScenarioWriter& writer, std::string_view header,
                  std::optional<std::size_t> selector, const std::optional<double>& volts,
                  const std::optional<double>& amps, const std::optional<double>& watts) {
    const std::string name(header.substr(header.find_first_not_of('[')));
    if (!volts || !amps || !watts)
        return writer.comment(notReadable(name.substr(0, name.find(']'))));
    const auto chosen = chooseMonitor(*volts, *amps, *watts);
    if (!chosen) return writer.comment(unfit(name.substr(0, name.find(']')), "the reading"));
    writer.table(header);
    if (!chosen->exact) writer.comment("No chip carries these readings exactly: the closest one.");
    writer.powerMonitor(chosen->monitor, selector);
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

void writeErrors(sim::ScenarioWriter& writer, const DeviceSample& sample) {
    for (const tools::ReadError& error : sample.errors) {
        writer.comment("Reading " + error.what + " failed: " + tools::statusText(error.status));
    }
}

void writeOrvek(sim::ScenarioWriter& writer, const DeviceSample& s, int deviceIndex) {
    writer.table("[[orvek]]");
    writer.comment("Card " + tools::formatDeviceId(s.id) + ", " + s.node.value_or("no node name"));
    writeErrors(writer, s);
    if (trailingNumber(s.node) != deviceIndex) {
        writer.comment("The node name gives no card number: one no other card has.");
    }
    const auto keys = sim::orvekCardKeys();
    sim::OrvekCardConfig card;
    // What the library does not read stays at the scenario's default; the power monitors are
    // written below.
    sim::KeyNotes notes{{"aux_status", std::nullopt},         {"legacy_index", std::nullopt},
                        {"load_wave_period_s", std::nullopt}, {"board_power", std::nullopt},
                        {"extra_power", std::nullopt},        {"faults", std::nullopt}};
    card.deviceIndex = deviceIndex;

    const auto firmware = s.firmwareVersion ? dotted(*s.firmwareVersion) : std::nullopt;
    const auto firmwareRead = firmware ? sim::firmwareFromText(*s.firmwareVersion) : std::nullopt;
    if (!firmware) {
        notes["firmware"] = notReadable("firmware");
    } else if (!firmwareRead) {
        notes["firmware"] = unfit("firmware", *s.firmwareVersion);
    } else {
        card.firmware = *firmwareRead;
    }
    const std::pair<std::string_view, Integer> readings[] = {
        {"temperature", wide(s.temperatureC)},
        {"switch_temperature", wide(s.switchTemperatureC)},
        {"npu_clock_mhz", wide(s.npuClockMHz)},
        {"bus_clock_mhz", wide(s.busClockMHz)},
        {"fan_duty", wide(s.fanDutyPercent)},
        {"chip_id", wide(s.chipId)},
        {"firmware_revision", wide(s.firmwareRevision)},
        {"vendor_id", wide(s.vendorId)},
        {"device_id", wide(s.deviceId)},
        {"pcie_gen", wide(s.pcieGen)},
        {"pcie_lanes", wide(s.pcieLanes)},
        {"pcie_rev", wide(s.pcieRev)},
        {"pcie_class_code", wide(s.pcieClassCode)},
        {"extra_pmic_selected", wide(s.extraPmicId)},
    };
    for (const auto& [name, value] : readings) take(card, notes, keys, name, value);
    takeVersion(card.driverVersion, notes, "driver_version", s.driverVersion,
                wide(s.driverRevision));

    // The subsystem id packs the memory size and the board's kind, grade and chip generation.
    const auto fields = s.subDeviceId && *s.subDeviceId >= 0 && *s.subDeviceId <= 0xFFFF
                            ? sim::splitSubsystemId(static_cast<std::uint16_t>(*s.subDeviceId))
                            : std::nullopt;
    if (fields) {
        card.memoryGiB = fields->memoryGiB;
        card.boardKind = fields->boardKind;
        card.grade = fields->grade;
        card.chipGeneration = fields->chipGeneration;
    } else {
        char id[24];
        std::snprintf(id, sizeof id, "0x%04llX", static_cast<long long>(s.subDeviceId.value_or(0)));
        notes["memory_gib"] =
            s.subDeviceId
                ? unfit("subsystem id", id)
                : notReadable("memory_gib, board_kind, grade, chip_generation (subsystem id)");
        for (const char* key : {"board_kind", "grade", "chip_generation"}) notes[key].reset();
    }

    // The library reports no location when the card gave none ("N/A").
    const std::string slot = s.pcieSlot.value_or("");
    std::string chainText = slot;
    std::replace(chainText.begin(), chainText.end(), '-', '.');
    const auto chain = slot.find(':') == std::string::npos ? dotted(chainText) : std::nullopt;
    const auto address = sim::pciAddressFromText(slot);
    if (slot.empty()) {
        card.location.kind = sim::LocationKind::None;
    } else if (chain && chain->size() <= 7 &&
               *std::max_element(chain->begin(), chain->end()) <= 0xFFFF) {
        card.location.kind = sim::LocationKind::SlotChain;
        card.location.slots.assign(chain->begin(), chain->end());
    } else if (address) {
        card.location.address = *address;
    } else {
        notes["location"] = unfit("location", slot);
    }

    // The older driver's table carries no firmware patch, class code or location; the library
    // then reads the extra-PMIC selector where firmware below 1.2.4 keeps it.
    if (firmware && firmware->size() == 2 && !s.pcieSlot && !s.pcieClassCode) {
        card.identityForm = sim::IdentityForm::Legacy;
    }

    const std::uint64_t memoryBytes = std::uint64_t{card.memoryGiB} << 30;
    if (s.memoryUsedBytes && *s.memoryUsedBytes >= 0 &&
        static_cast<std::uint64_t>(*s.memoryUsedBytes) > memoryBytes) {
        notes["memory_used"] = unfit("memory_used", std::to_string(*s.memoryUsedBytes));
    } else {
        take(card, notes, keys, "memory_used", wide(s.memoryUsedBytes));
    }
    if (const auto loads = s.cores ? coreLoads(*s.cores) : std::nullopt) {
        card.load = *loads;  // holding still: no wave
    } else {
        notes["load"] = notReadable("load");
        notes["load_wave_amplitude"].reset();
    }
    writer.keys(card, notes);

    writeMonitor(writer, "[orvek.board_power]", std::nullopt, s.boardVoltageV, s.boardCurrentA,
                 s.boardPowerW);
    const std::size_t selector =
        s.extraPmicId && *s.extraPmicId >= 0 && *s.extraPmicId <= 3 ? *s.extraPmicId : 0;
    writeMonitor(writer, "[[orvek.extra_power]]", selector, s.extraPmicVoltageV,
                 s.extraPmicCurrentA, s.extraPmicPowerW);
    writer.comment("The monitors at the other selector values cannot be read without changing the");
    writer.comment("card's selection: they are left out, and read as zero volts, amps and watts.");
}

// Busy microseconds per window giving the share busy/total.
std::optional<long long> busyPerWindow(std::int64_t busy, std::int64_t total) {
    if (total <= 0) return std::nullopt;
    const double share =
        std::clamp(static_cast<double>(busy) / static_cast<double>(total), 0.0, 1.0);
    return std::llround(share * kVeltaraWindowUs);
}

void writeWork(sim::ScenarioWriter& writer, long long pid, long long busyUs) {
    // One item a window long: any one-second window then holds exactly busyUs of it.
    sim::VeltaraWorkConfig work;
    work.pid = static_cast<std::int32_t>(pid);
    work.periodUs = kVeltaraWindowUs;
    work.busyUs = static_cast<std::uint64_t>(busyUs);
    writer.table("[[veltara.work]]");
    writer.keys(work, {{"start_us", std::nullopt}});
}

void writeVeltara(sim::ScenarioWriter& writer, const DeviceSample& s) {
    writer.table("[[veltara]]");
    writer.comment("Device " + tools::formatDeviceId(s.id) + ", " +
                   s.node.value_or("no node name"));
    writeErrors(writer, s);
    const auto keys = sim::veltaraDeviceKeys();
    sim::VeltaraDeviceConfig device;
    // What the library does not read stays at the scenario's default.
    sim::KeyNotes notes{{"dev_no", std::nullopt},
                        {"name", std::nullopt},
                        {"version", std::nullopt},
                        {"activity_head", std::nullopt},
                        {"faults", std::nullopt}};
    device.flags = s.id.type == CRVMON_TARGET_VELTARA_USB_KIND1 ? 0x3u : 0x1u;  // kind 1 or 0
    takeVersion(device.driverVersion, notes, "driver_version", s.onDeviceDriverVersion,
                wide(s.onDeviceDriverRevision));
    takeVersion(device.hostDriverVersion, notes, "host_driver_version", s.driverVersion,
                wide(s.driverRevision));
    take(device, notes, keys, "host_revision", wide(s.onDeviceDriverRevision));

    // Whole pages; those in use at most the device's (or the default's) memory.
    const auto pages = [&](const char* key, const std::optional<long long>& bytes, Integer max) {
        if (bytes && *bytes % kVeltaraPageBytes != 0) {
            notes[key] = unfit(key, std::to_string(*bytes) + " bytes");
        } else {
            take(device, notes, keys, key,
                 bytes ? Integer(*bytes / kVeltaraPageBytes) : std::nullopt, max);
        }
    };
    pages("memory_pages", s.memoryTotalBytes, std::nullopt);
    const long long total = s.memoryTotalBytes.value_or(-1) / kVeltaraPageBytes;
    pages("pages_in_use", s.memoryUsedBytes,
          total >= 0 && total <= 0xFFFFFFFF && *s.memoryTotalBytes % kVeltaraPageBytes == 0
              ? total
              : sim::VeltaraDeviceConfig{}.memoryPages);
    take(device, notes, keys, "signal_type", wide(s.signalType));
    take(device, notes, keys, "temperature_mc",
         s.temperatureC ? Integer(*s.temperatureC * 1000LL) : std::nullopt);
    take(device, notes, keys, "npu_clock_mhz", wide(s.npuClockMHz));
    writer.keys(device, notes);

    // Work that reproduces each process's busy share of the window, and one more stream for the
    // busy time of processes the snapshot does not list (the device's total holds it too).
    if (!s.processes) writer.comment(notReadable("process list"));
    const std::vector<tools::ProcessLoad> processes =
        s.processes.value_or(std::vector<tools::ProcessLoad>{});
    long long listedUs = 0;
    for (const tools::ProcessLoad& p : processes) {
        const auto busyUs = busyPerWindow(p.busyTime, p.totalTime);
        if (busyUs && *busyUs > 0) writeWork(writer, p.pid, *busyUs);
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
        writer.comment("Busy time of processes the snapshot does not list:");
        writeWork(writer, pid, std::min(*totalUs - listedUs, kVeltaraWindowUs));
    }
    for (const tools::ProcessLoad& p : processes) {
        sim::VeltaraProcessRow row{p.pid, p.quantity, p.amount, {}};
        // A name a scenario can hold; the simulation of the dump then shows the same one.
        if (p.name && sim::isProcessName(*p.name)) row.name = *p.name;
        sim::KeyNotes rowNotes;
        if (p.amount > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
            rowNotes["amount"] = unfit("amount", std::to_string(p.amount));
        }
        writer.table("[[veltara.process]]");
        writer.keys(row, rowNotes);
    }
}

}  // namespace

std::string scenarioText(const std::vector<tools::DeviceSample>& devices) {
    std::string when;
    for (const DeviceSample& sample : devices) {
        if (when.empty()) when = sample.readAt;
    }
    if (when.empty()) when = tools::utcTimestamp(std::chrono::system_clock::now());

    sim::ScenarioWriter writer;
    writer.comment(
        "Scenario written by crvmon-smi --dump-scenario: the devices as the library read");
    writer.comment("them at " + when + " (UTC). It is one moment's state: loads hold still and");
    writer.comment("every reading stays at what was read. Load it with crvmon-sim or --scenario.");
    writer.comment("Driver versions are the library's: one per driver type, its first device's.");
    if (devices.empty()) writer.comment("No devices were read.");

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
        writeOrvek(writer, *card, static_cast<int>(*number));
    }
    for (const DeviceSample* sample : sorted) {
        if (sample->family == tools::Family::Veltara) writeVeltara(writer, *sample);
    }
    for (const DeviceSample* sample : sorted) {
        if (sample->family == tools::Family::Unknown) {
            writer.comment("Device " + tools::formatDeviceId(sample->id) +
                           " is of no family a scenario describes: left out.");
        }
    }
    return std::move(writer.text());
}

}  // namespace crvmon::smi
