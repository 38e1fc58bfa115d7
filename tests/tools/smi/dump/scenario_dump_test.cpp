// crvmon-smi --dump-scenario: a simulated machine read through the library, written as a
// scenario, the scenario simulated and read again. Every reading must come back: identity,
// versions and telemetry exactly; loads within what the activity records' whole microseconds
// allow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/model/activity_ring.h"
#include "sim/model/orvek_card_config.h"
#include "sim/model/scenario.h"
#include "sim/model/sim_clock.h"
#include "sim/private_simulation.h"
#include "tools/common/device_id.h"
#include "tools/common/device_json.h"
#include "tools/common/device_sample.h"
#include "tools/common/field_catalogue.h"
#include "tools/common/library_session.h"
#include "tools/smi/scenario_dump.h"

namespace crvmon::smi {
namespace {

using tools::DeviceSample;

// Time from the simulation's start to the reads: every Orvek ring and every Veltara one-second
// window is full by then, and the built-in's third Veltara process (from 5 s on) is at work. A
// whole number of Orvek activity periods, so that the reads fall on a period's start.
constexpr std::uint64_t kSettleUs = 5'500'000;
// A later moment inside a period, where the ring rule reads a load least faithfully.
constexpr std::uint64_t kMidPeriodUs = 3'333;

// How far the library's busy fraction of one Orvek core entry may lie from the load the card
// runs. The card's busy time per period is the load stretched by (n + 1) / n (n the ring's
// window) and rounded to a whole microsecond (at least one): one microsecond of it moves the
// reading by n / ((n + 1) x period). The library then truncates to millionths. At a period's
// start that is all; inside a period the open or just-closed interval adds up to
// load x (1 - load) / n, at most 1 / (4n).
constexpr double kRounding =
    sim::kActivityWindow / (sim::kActivityWindow + 1.0) / sim::kActivityPeriod + 1e-6;
constexpr double kAtPeriodStart = 100 * kRounding;  // percent
constexpr double kInsidePeriod = 100 * (kRounding + 0.25 / sim::kActivityWindow);
// A Veltara work stream of the dump reproduces its share up to the rounding of the share to a
// whole microsecond of the one-second window.
constexpr double kPerStream = 100 * 0.5 / 1e6;  // percent

class RunningMachine {
  public:
    explicit RunningMachine(const sim::Scenario& scenario)
        : simulation_(std::make_unique<sim::PrivateSimulation>(scenario, clock_)) {
        clock_->advance(kSettleUs);
    }
    void advance(std::uint64_t micros) { clock_->advance(micros); }

    // Every device, read as --dump-scenario reads it.
    std::vector<DeviceSample> read() const {
        const tools::LibrarySession session;
        EXPECT_EQ(session.status(), CRVMON_STATUS_OK);
        std::vector<DeviceSample> samples;
        for (const tools::DeviceId& id : tools::listDevices().devices) {
            samples.push_back(tools::readDevice(id, tools::kReadEverything));
        }
        return samples;
    }

    // Per Orvek card, whether selecting the next extra power monitor changes the extra-PMIC
    // readings: on an older driver's card with newer firmware the library writes a selector
    // register the card does not use, and the dump must keep that.
    std::vector<bool> selectionTakes() const {
        const tools::LibrarySession session;
        std::vector<bool> takes;
        for (const tools::DeviceId& id : tools::listDevices().devices) {
            if (tools::familyOf(id.type) != tools::Family::Orvek) continue;
            const DeviceSample before = tools::readDevice(id, tools::kReadExtraPmic);
            const auto next =
                static_cast<crvmonExtraPmicId_t>((before.extraPmicId.value_or(0) + 1) % 4);
            EXPECT_EQ(crvmonSetExtraPmicID(id.type, id.index, next), CRVMON_STATUS_OK);
            const DeviceSample after = tools::readDevice(id, tools::kReadExtraPmic);
            takes.push_back(after.extraPmicVoltageV != before.extraPmicVoltageV ||
                            after.extraPmicCurrentA != before.extraPmicCurrentA ||
                            after.extraPmicPowerW != before.extraPmicPowerW);
        }
        return takes;
    }

  private:
    std::shared_ptr<sim::ManualSimClock> clock_ = std::make_shared<sim::ManualSimClock>();
    std::unique_ptr<sim::PrivateSimulation> simulation_;
};

// Every value but the time of the read and the loads (compared with their own tolerances), as
// the field list names them.
void expectSameValues(const DeviceSample& a, const DeviceSample& b) {
    static const std::vector<const tools::Field*> fixed = [] {
        std::vector<const tools::Field*> fields = tools::parseFieldList("all");
        std::erase_if(fields, [](const tools::Field* field) {
            const std::string name = field->name;
            return name == "timestamp" || name == "utilization" || name == "cores" ||
                   name == "processes";
        });
        return fields;
    }();
    EXPECT_TRUE(b.errors.empty()) << b.node.value_or("?");
    EXPECT_EQ(tools::deviceJson(a, fixed), tools::deviceJson(b, fixed));
}

// The Orvek core entries against the loads the dump wrote: the dump holds what the first read
// saw (whose source load may have been moving), and the card it describes must read as that.
void expectOrvekLoads(const DeviceSample& first, const DeviceSample& second,
                      const sim::OrvekCardConfig& card, double tolerance) {
    ASSERT_TRUE(first.cores && second.cores);
    ASSERT_EQ(second.cores->size(), first.cores->size());
    double sum = 0;
    int cores = 0;
    for (std::size_t i = 0; i < first.cores->size(); ++i) {
        const tools::CoreLoad& entry = (*first.cores)[i];
        ASSERT_TRUE(entry.cluster);
        const auto cluster = static_cast<std::size_t>(*entry.cluster);
        const double whole = card.load[5 * cluster + 4];
        // The library adds the whole cluster's share to each of its cores.
        const double expected =
            100 * (entry.core
                       ? card.load[5 * cluster + static_cast<std::size_t>(*entry.core) - 1] + whole
                       : whole);
        const std::string where = *first.node + " entry " + std::to_string(i);
        EXPECT_NEAR(*entry.busyPercent(), expected, 1e-9) << where << ": the dump's value";
        EXPECT_NEAR(*(*second.cores)[i].busyPercent(), expected,
                    entry.core ? 2 * tolerance : tolerance)
            << where;
        if (entry.core) {
            sum += expected;
            ++cores;
        }
    }
    const double utilization = std::min(100.0, sum / cores);
    EXPECT_NEAR(*first.utilizationPercent, utilization, 1e-9) << *first.node;
    EXPECT_NEAR(*second.utilizationPercent, utilization, 2 * tolerance) << *first.node;
}

// Veltara busy shares: each process's, and the device's one core record (all processes).
void expectVeltaraLoads(const DeviceSample& first, const DeviceSample& second,
                        const sim::VeltaraDeviceConfig& device) {
    ASSERT_TRUE(first.processes && second.processes);
    ASSERT_EQ(second.processes->size(), first.processes->size());
    for (std::size_t i = 0; i < first.processes->size(); ++i) {
        const tools::ProcessLoad& p = (*first.processes)[i];
        const tools::ProcessLoad& q = (*second.processes)[i];
        EXPECT_EQ(q.pid, p.pid);
        EXPECT_EQ(q.quantity, p.quantity) << p.pid;
        EXPECT_EQ(q.amount, p.amount) << p.pid;
        EXPECT_NEAR(*q.busyPercent(), *p.busyPercent(), kPerStream) << p.pid;
    }
    ASSERT_TRUE(first.cores && second.cores);
    ASSERT_TRUE(first.cores->size() == 1 && second.cores->size() == 1);
    const double streams = static_cast<double>(std::max<std::size_t>(device.work.size(), 1));
    EXPECT_NEAR(*second.cores->front().busyPercent(), *first.cores->front().busyPercent(),
                streams * kPerStream);
    EXPECT_NEAR(*second.utilizationPercent, *first.utilizationPercent, streams * kPerStream);
}

// Dumps the machine, simulates the dump, reads it at the same moment and once more inside an
// Orvek activity period, and compares.
void expectRoundTrip(const sim::Scenario& source) {
    const std::size_t devices = source.orvekCards.size() + source.veltaraDevices.size();
    std::vector<DeviceSample> first;
    std::vector<bool> selectionTook;
    {
        const RunningMachine machine(source);
        first = machine.read();
        selectionTook = machine.selectionTakes();
    }
    ASSERT_EQ(first.size(), devices);
    for (const DeviceSample& sample : first) {
        EXPECT_TRUE(sample.errors.empty()) << sample.node.value_or("?");
    }
    const std::string text = scenarioText(first);
    SCOPED_TRACE(text);
    sim::Scenario dumped;
    ASSERT_NO_THROW(dumped = sim::parseScenario(text, "dump"));

    RunningMachine machine(dumped);
    for (const double tolerance : {kAtPeriodStart, kInsidePeriod}) {
        const std::vector<DeviceSample> second = machine.read();
        ASSERT_EQ(second.size(), first.size());
        std::size_t orvek = 0;
        std::size_t veltara = 0;
        for (std::size_t i = 0; i < first.size(); ++i) {
            expectSameValues(first[i], second[i]);
            if (first[i].family == tools::Family::Orvek) {
                ASSERT_LT(orvek, dumped.orvekCards.size());
                expectOrvekLoads(first[i], second[i], dumped.orvekCards[orvek++], tolerance);
            } else {
                ASSERT_LT(veltara, dumped.veltaraDevices.size());
                expectVeltaraLoads(first[i], second[i], dumped.veltaraDevices[veltara++]);
            }
        }
        machine.advance(kMidPeriodUs);
    }
    EXPECT_EQ(machine.selectionTakes(), selectionTook);
}

TEST(ScenarioDumpRoundTrip, TheBuiltInMachine) {
    expectRoundTrip(sim::builtInScenario());
}

TEST(ScenarioDumpRoundTrip, AwkwardValues) {
    expectRoundTrip(sim::loadScenario(CRVMON_AWKWARD_MACHINE));
}

}  // namespace
}  // namespace crvmon::smi
