#include "tools/exporter/metrics_text.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "lib/common/build_info.h"

namespace crvmon::exporter {

namespace {

using tools::DeviceSample;
using Labels = std::vector<std::pair<std::string, std::string>>;

std::string number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The labels that name a device in every family.
Labels deviceLabels(const DeviceSample& s) {
    return {{"family", tools::familyName(s.family)},
            {"type", std::to_string(static_cast<int>(s.id.type))},
            {"index", std::to_string(s.id.index)},
            {"node", s.node.value_or("")}};
}

class Exposition {
  public:
    // Starts a family: HELP and TYPE, then its samples.
    void family(const char* name, const char* type, const char* help) {
        name_ = name;
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }

    void sample(const Labels& labels, double value) {
        text_ += name_;
        if (!labels.empty()) {
            text_ += '{';
            const char* separator = "";
            for (const auto& [label, labelValue] : labels) {
                text_ += separator;
                text_ += label + "=\"" + escapeLabelValue(labelValue) + '"';
                separator = ",";
            }
            text_ += '}';
        }
        text_ += ' ' + number(value) + '\n';
    }

    // One sample per device that has the value.
    void perDevice(const std::vector<DeviceSample>& devices, const char* name, const char* help,
                   const std::function<std::optional<double>(const DeviceSample&)>& value) {
        family(name, "gauge", help);
        for (const DeviceSample& s : devices) {
            if (const auto v = value(s)) sample(deviceLabels(s), *v);
        }
    }

    std::string take() { return std::move(text_); }

  private:
    std::string text_;
    std::string name_;
};

template <class T>
std::optional<double> scaled(const std::optional<T>& value, double factor) {
    if (!value) return std::nullopt;
    return static_cast<double>(*value) * factor;
}

// A percentage as a ratio, divided rather than multiplied by 0.01: 35 % is 0.35, not
// 0.35000000000000003.
template <class T>
std::optional<double> ratioOf(const std::optional<T>& percent) {
    if (!percent) return std::nullopt;
    return static_cast<double>(*percent) / 100.0;
}

void addIfPresent(Labels& labels, const char* name, const std::optional<std::string>& value) {
    if (value && !value->empty()) labels.emplace_back(name, *value);
}

void addIfPresent(Labels& labels, const char* name, const std::optional<int>& value,
                  bool hex = false) {
    if (!value) return;
    char text[16];
    std::snprintf(text, sizeof text, hex ? "0x%04X" : "%d", *value);
    labels.emplace_back(name, text);
}

void deviceInfo(Exposition& out, const std::vector<DeviceSample>& devices) {
    out.family("crvmon_device_info", "gauge",
               "Identity of each device as labels: PCI ids, slot, versions; the value is 1.");
    for (const DeviceSample& s : devices) {
        Labels labels = deviceLabels(s);
        addIfPresent(labels, "vendor_id", s.vendorId, true);
        addIfPresent(labels, "device_id", s.deviceId, true);
        addIfPresent(labels, "subsystem_vendor_id", s.subVendorId, true);
        addIfPresent(labels, "subsystem_id", s.subDeviceId, true);
        addIfPresent(labels, "pcie_slot", s.pcieSlot);
        addIfPresent(labels, "chip_id", s.chipId);
        addIfPresent(labels, "signal_type", s.signalType);
        addIfPresent(labels, "firmware_version", s.firmwareVersion);
        addIfPresent(labels, "device_driver_version", s.onDeviceDriverVersion);
        addIfPresent(labels, "driver_version", s.driverVersion);
        out.sample(labels, 1);
    }
}

void coresAndProcesses(Exposition& out, const std::vector<DeviceSample>& devices) {
    out.family("crvmon_core_busy_ratio", "gauge",
               "Busy share of each core's sampling window, core=\"all\" for a whole cluster. "
               "On Orvek cards the library adds the cluster's share to each of its cores, so a "
               "core can exceed 1; it is exported as the library gives it.");
    for (const DeviceSample& s : devices) {
        if (!s.cores) continue;
        for (const tools::CoreLoad& core : *s.cores) {
            const auto ratio = core.busyRatio();
            if (!ratio || !core.cluster) continue;
            Labels labels = deviceLabels(s);
            labels.emplace_back("cluster", std::to_string(*core.cluster));
            labels.emplace_back("core", core.core ? std::to_string(*core.core) : "all");
            out.sample(labels, *ratio);
        }
    }
    struct ProcessFamily {
        const char* name;
        const char* help;
        std::function<std::optional<double>(const tools::ProcessLoad&)> value;
    };
    const ProcessFamily families[] = {
        {"crvmon_process_busy_ratio",
         "Busy share of the device's activity window for each process using it (the window's "
         "time unit is the host service's, so no busy seconds are exported).",
         [](const tools::ProcessLoad& p) { return p.busyRatio(); }},
        {"crvmon_process_quantity", "Sum of the counts of the process's snapshot rows.",
         [](const tools::ProcessLoad& p) { return std::optional<double>(p.quantity); }},
        {"crvmon_process_amount", "Sum of the amounts of the process's snapshot rows.",
         [](const tools::ProcessLoad& p) {
             return std::optional<double>(static_cast<double>(p.amount));
         }},
    };
    for (const ProcessFamily& family : families) {
        out.family(family.name, "gauge", family.help);
        for (const DeviceSample& s : devices) {
            if (!s.processes) continue;
            for (const tools::ProcessLoad& p : *s.processes) {
                const auto value = family.value(p);
                if (!value) continue;
                Labels labels = deviceLabels(s);
                labels.emplace_back("pid", std::to_string(p.pid));
                if (p.name) labels.emplace_back("name", *p.name);
                out.sample(labels, *value);
            }
        }
    }
}

}  // namespace

unsigned metricsReadGroups() {
    return tools::kReadEverything;
}

std::string escapeLabelValue(std::string_view value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string metricsText(const Scrape& scrape) {
    Exposition out;
    const auto& devices = scrape.devices;
    out.family("crvmon_exporter_build_info", "gauge",
               "The exporter's version and the source revision it was built from; the value is 1.");
    out.sample({{"version", CRVMON_VERSION}, {"revision", CRVMON_REVISION}}, 1);
    out.family("crvmon_up", "gauge",
               "1 when the library is initialised and found devices, else 0.");
    out.sample({}, scrape.up ? 1 : 0);
    out.family("crvmon_scrape_duration_seconds", "gauge",
               "How long reading the devices for this scrape took.");
    out.sample({}, scrape.seconds);
    out.family("crvmon_devices", "gauge", "Devices the library found and can address.");
    out.sample({}, static_cast<double>(devices.size()));

    out.family("crvmon_driver_info", "gauge",
               "Version of each driver type the library found a device of; the value is 1.");
    for (const tools::DriverVersion& driver : scrape.drivers) {
        Labels labels{{"driver", driver.name}, {"version", driver.version}};
        if (driver.revision) labels.emplace_back("revision", std::to_string(*driver.revision));
        out.sample(labels, 1);
    }
    deviceInfo(out, devices);

    out.perDevice(devices, "crvmon_temperature_celsius", "Chip temperature.",
                  [](const DeviceSample& s) { return scaled(s.temperatureC, 1); });
    out.perDevice(devices, "crvmon_pcie_switch_temperature_celsius",
                  "PCI Express switch temperature (Orvek).",
                  [](const DeviceSample& s) { return scaled(s.switchTemperatureC, 1); });
    out.perDevice(devices, "crvmon_board_power_watts", "Board power (Orvek).",
                  [](const DeviceSample& s) { return s.boardPowerW; });
    out.perDevice(devices, "crvmon_board_current_amperes", "Board current (Orvek).",
                  [](const DeviceSample& s) { return s.boardCurrentA; });
    out.perDevice(devices, "crvmon_board_voltage_volts", "Board voltage (Orvek).",
                  [](const DeviceSample& s) { return s.boardVoltageV; });

    struct Extra {
        const char* name;
        const char* help;
        std::optional<double> DeviceSample::*value;
    };
    for (const Extra& extra :
         {Extra{"crvmon_extra_pmic_power_watts", "Power of the selected extra PMIC (Orvek).",
                &DeviceSample::extraPmicPowerW},
          Extra{"crvmon_extra_pmic_current_amperes", "Current of the selected extra PMIC (Orvek).",
                &DeviceSample::extraPmicCurrentA},
          Extra{"crvmon_extra_pmic_voltage_volts", "Voltage of the selected extra PMIC (Orvek).",
                &DeviceSample::extraPmicVoltageV}}) {
        out.family(extra.name, "gauge", extra.help);
        for (const DeviceSample& s : devices) {
            if (!(s.*extra.value) || !s.extraPmicId) continue;
            Labels labels = deviceLabels(s);
            labels.emplace_back("pmic", std::to_string(*s.extraPmicId));
            out.sample(labels, *(s.*extra.value));
        }
    }

    out.perDevice(devices, "crvmon_npu_clock_hertz",
                  "NPU clock (Veltara: the host service's number, taken as MHz).",
                  [](const DeviceSample& s) { return scaled(s.npuClockMHz, 1e6); });
    out.perDevice(devices, "crvmon_bus_clock_hertz", "Bus clock (Orvek).",
                  [](const DeviceSample& s) { return scaled(s.busClockMHz, 1e6); });
    out.perDevice(devices, "crvmon_fan_duty_ratio", "Fan duty, 0-1 (Orvek).",
                  [](const DeviceSample& s) { return ratioOf(s.fanDutyPercent); });
    out.perDevice(devices, "crvmon_memory_total_bytes", "Device memory.",
                  [](const DeviceSample& s) { return scaled(s.memoryTotalBytes, 1); });
    out.perDevice(devices, "crvmon_memory_used_bytes", "Device memory in use.",
                  [](const DeviceSample& s) { return scaled(s.memoryUsedBytes, 1); });
    out.perDevice(devices, "crvmon_utilization_ratio",
                  "Average busy share of the device's cores, 0-1.",
                  [](const DeviceSample& s) { return ratioOf(s.utilizationPercent); });
    coresAndProcesses(out, devices);

    out.family("crvmon_read_errors_total", "counter",
               "Reads of the device that failed (a status other than \"not provided\") since the "
               "exporter started.");
    for (std::size_t i = 0; i < devices.size() && i < scrape.readErrors.size(); ++i) {
        out.sample(deviceLabels(devices[i]), static_cast<double>(scrape.readErrors[i]));
    }
    return out.take();
}

}  // namespace crvmon::exporter
