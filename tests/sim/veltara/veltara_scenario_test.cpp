// The [[veltara]] and [veltara_service] tables: the documented example and the built-in
// scenario read as intended, and every kind of mistake is refused with the key and the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "example_scenario.h"
#include "model/scenario.h"

namespace crvmon::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

TEST(VeltaraScenario, ExampleReadsEveryDocumentedKey) {
    const Scenario scenario = parseScenario(kExampleScenario, "example.toml");
    ASSERT_EQ(scenario.veltaraDevices.size(), 1u);
    const VeltaraDeviceSpec& d = scenario.veltaraDevices[0];
    EXPECT_EQ(d.devNo, 3);
    EXPECT_EQ(d.name, "vt0");
    EXPECT_THAT(d.driverVersion, ElementsAre(2, 5, 3, 1));
    EXPECT_EQ(d.flags, 0x3u);
    EXPECT_EQ(d.pagesInUse, 0x11000u);
    ASSERT_EQ(d.work.size(), 1u);
    EXPECT_EQ(d.work[0].busyUs, 35'000u);
    EXPECT_EQ(d.work[0].stopUs, 65'000'000u);
    ASSERT_EQ(d.processes.size(), 1u);
    EXPECT_EQ(d.processes[0].amount, 50'331'648u);
    EXPECT_THAT(d.faults.silent, ElementsAre(8u));
    EXPECT_THAT(d.faults.replyLength, ElementsAre(Pair(1u, 4u)));
    EXPECT_THAT(d.faults.status, ElementsAre(Pair(3u, 5u)));
    EXPECT_EQ(scenario.veltaraService.brokerInstances, 4u);
}

TEST(VeltaraScenario, BuiltInHasOneDeviceOfEachKindAtWork) {
    const Scenario scenario = builtInScenario();
    ASSERT_EQ(scenario.veltaraDevices.size(), 2u);
    const VeltaraDeviceSpec& a = scenario.veltaraDevices[0];
    const VeltaraDeviceSpec& b = scenario.veltaraDevices[1];
    EXPECT_EQ(a.flags, 0x3u);  // kind 1: target type 6
    EXPECT_EQ(b.flags, 0x1u);  // kind 0: target type 5
    EXPECT_FALSE(a.work.empty() || b.work.empty() || a.processes.empty());
    EXPECT_EQ(a.driverVersion[3], a.hostRevision);  // else the library drops the device
}

TEST(VeltaraScenario, DefaultsAndNameBytes) {
    const Scenario scenario = parseScenario(
        "[[veltara]]\n[[veltara]]\nname = \"caf\\u00E9 \\u00FF\"\nflags = 0x5\n"
        "[[veltara]]\nname = \"" +
        std::string(64, 'x') + "\"\n");
    ASSERT_EQ(scenario.veltaraDevices.size(), 3u);
    EXPECT_EQ(scenario.veltaraDevices[0].devNo, 0);
    EXPECT_EQ(scenario.veltaraDevices[0].name, "usb0");
    EXPECT_EQ(scenario.veltaraDevices[0].flags, 0x3u);
    EXPECT_EQ(scenario.veltaraDevices[1].devNo, 1);
    EXPECT_EQ(scenario.veltaraDevices[1].name, "caf\xE9 \xFF");
    EXPECT_EQ(scenario.veltaraDevices[1].flags, 0x5u);
    EXPECT_EQ(scenario.veltaraDevices[2].name.size(), 64u);
    EXPECT_EQ(scenario.veltaraService.pipeInstances, 40u);
    EXPECT_EQ(parseScenario("[veltara_service]\nlist_count = 7\n").veltaraService.listCount, 7u);
}

struct BadScenario {
    const char* name;
    std::string text;
    const char* where;
    const char* says;
};

void PrintTo(const BadScenario& bad, std::ostream* out) {
    *out << bad.name;
}

class VeltaraScenarioErrors : public ::testing::TestWithParam<BadScenario> {};

TEST_P(VeltaraScenarioErrors, NameTheKeyAndTheLine) {
    const BadScenario& bad = GetParam();
    try {
        parseScenario(bad.text);
        FAIL() << "accepted:\n" << bad.text;
    } catch (const ScenarioError& e) {
        EXPECT_THAT(e.what(), HasSubstr(bad.where));
        EXPECT_THAT(e.what(), HasSubstr(bad.says));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, VeltaraScenarioErrors,
    ::testing::Values(
        BadScenario{"UnknownKey", "[[veltara]]\ntemperature = 4\n", "scenario:2:1",
                    "unknown key 'temperature'"},
        BadScenario{"KindAndFlags", "[[veltara]]\nkind = 1\nflags = 3\n",
                    "scenario:3:", "give one"},
        BadScenario{"PagesInUseBeyondMemory", "[[veltara]]\nmemory_pages = 4\npages_in_use = 5\n",
                    "scenario:3:", "exceeds memory_pages"},
        BadScenario{"NameTooLong", "[[veltara]]\nname = \"" + std::string(65, 'x') + "\"\n",
                    "scenario:2:", "at most 64 bytes"},
        BadScenario{"NameBeyondLatin1", "[[veltara]]\nname = \"\\u0100\"\n",
                    "scenario:2:", "above U+00FF"},
        BadScenario{"DuplicateNameButForCase",
                    "[[veltara]]\nname = \"\\u00E9a\"\n[[veltara]]\nname = \"\\u00C9A\"\n",
                    "scenario:3:", "which veltara[0] has already"},
        BadScenario{"BusyBeyondPeriod",
                    "[[veltara]]\n[[veltara.work]]\nperiod_us = 10\n"
                    "busy_us = 11\n",
                    "scenario:4:", "exceeds period_us"},
        BadScenario{"StopBeforeStart", "[[veltara]]\n[[veltara.work]]\nstart_us = 5\nstop_us = 5\n",
                    "scenario:4:", "after start_us"},
        BadScenario{"UnknownCommand", "[[veltara]]\n[veltara.faults.reply_length]\nIOC_FOO = 2\n",
                    "scenario:3:1", "not a command"},
        BadScenario{"StatusOfValueCommand",
                    "[[veltara]]\n[veltara.faults]\nstatus = { IOC_GET_TEMPERATURE = 5 }\n",
                    "scenario:3:", "status word"},
        BadScenario{"SilentRejectedCommand",
                    "[[veltara]]\n[veltara.faults]\nsilent = [\"IOC_RESET\"]\n",
                    "scenario:3:", "never answers"},
        BadScenario{"ServiceAsArray", "[[veltara_service]]\n", "scenario:1:", "must be a table"}));

}  // namespace
}  // namespace crvmon::sim::testing
