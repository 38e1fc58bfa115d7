// The scenario the simulator runs when given none: enough variety that every column of the
// tools shows something, and load that moves so a watch loop has something to watch.
#include "sim/model/scenario.h"

namespace crvmon::sim {
namespace {

constexpr std::string_view kBuiltInScenario = R"toml(
# Older firmware: the extra-PMIC selector sits in bits 28-29 of 0x0FC12068.
[[orvek]]
device_index = 0
temperature = 47
switch_temperature = 41
npu_clock_mhz = 1200
bus_clock_mhz = 600
fan_duty = 35
chip_id = 0
firmware = "1.2.3"
firmware_revision = 2
driver_version = [1, 8, 2, 0]
memory_gib = 16
board_kind = 1
grade = 1
chip_generation = 1
pcie_gen = 4
pcie_lanes = 8
location = "0000:03:00.0"
memory_used = 4_294_967_296
load = [0.62, 0.55, 0.48, 0.70, 0.20, 0.35, 0.30, 0.25, 0.40, 0.10]
load_wave_amplitude = 0.5
load_wave_period_s = 40

[orvek.board_power]
chip = 0x5449
volts = 12.0
amps = 2.5
watts = 30.0

[[orvek.extra_power]]
chip = 0x2260
volts = 0.85
amps = 8.2

[[orvek.extra_power]]
chip = 0xA480
volts = 1.8
amps = 1.25

# Newer firmware: the selector sits in bits 0-1 of 0x0FC12050. Located by a slot chain.
[[orvek]]
device_index = 1
temperature = 58
switch_temperature = 44
npu_clock_mhz = 1400
bus_clock_mhz = 700
fan_duty = 52
chip_id = 1
firmware = "1.3.1"
firmware_revision = 5
driver_version = [1, 8, 2, 0]
memory_gib = 32
board_kind = 2
grade = 0
chip_generation = 2
pcie_gen = 5
pcie_lanes = 16
location = [1, 4, 2]
memory_used = 21_474_836_480
load = [0.85, 0.90, 0.80, 0.75, 0.60, 0.15, 0.05, 0.10, 0.20, 0.05]
load_wave_amplitude = 0.3
load_wave_period_s = 90
extra_pmic_selected = 1

[orvek.board_power]
chip = 0x546E
volts = 12.05
amps = 6.75

[[orvek.extra_power]]
chip = 0x49D2
volts = 0.9
amps = 21.4

[[orvek.extra_power]]
chip = 0x2586
volts = 3.3
amps = 4.5
watts = 14.5

# A Veltara device of kind 1 (target type 6): two steady processes, and a third that works for
# a minute after the first five seconds. Process 4120 holds two snapshot rows.
[[veltara]]
dev_no = 3
name = "vt0"
driver_version = [2, 5, 3, 1]
host_driver_version = [2, 5, 0, 0]
host_revision = 1
kind = 1
memory_pages = 0x40000
pages_in_use = 0x11000
signal_type = 1
temperature_mc = 47_500
npu_clock_mhz = 900

[[veltara.work]]
pid = 4120
period_us = 100_000
busy_us = 35_000

[[veltara.work]]
pid = 4188
start_us = 20_000
period_us = 250_000
busy_us = 90_000

[[veltara.work]]
pid = 5002
start_us = 5_000_000
stop_us = 65_000_000
period_us = 40_000
busy_us = 10_000

[[veltara.process]]
pid = 4120
name = "inference-server"
count = 3
amount = 50_331_648

[[veltara.process]]
pid = 4188
name = "batch-embed"
count = 1
amount = 16_777_216

[[veltara.process]]
pid = 4120
count = 2
amount = 8_388_608

# A Veltara device of kind 0 (target type 5) with one process.
[[veltara]]
dev_no = 7
name = "vt1"
driver_version = [2, 5, 3, 1]
host_driver_version = [2, 5, 0, 0]
host_revision = 1
kind = 0
memory_pages = 0x80000
pages_in_use = 0x8000
signal_type = 2
temperature_mc = 41_000
npu_clock_mhz = 700

[[veltara.work]]
pid = 6020
period_us = 50_000
busy_us = 20_000

[[veltara.process]]
pid = 6020
name = "vision-pipeline"
count = 2
amount = 33_554_432
)toml";

}  // namespace

std::string_view builtInScenarioText() {
    return kBuiltInScenario;
}

Scenario builtInScenario() {
    return parseScenario(kBuiltInScenario, "built-in scenario");
}

}  // namespace crvmon::sim
