// Scenario files: the writer's text reads back, limits hold for files and code alike, and every
// kind of mistake is refused with the key and the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

#include "sim/model/scenario.h"
#include "sim/model/scenario_writer.h"
#include "tests/sim/model/example_scenario.h"

namespace crvmon::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

// The writer gives every key of the table back: its text reads as the same scenario.
TEST(Scenario, TheWritersTextReadsBackAsTheSameScenario) {
    for (const Scenario& source :
         {parseScenario(kExampleScenario, "example.toml"), builtInScenario()}) {
        const std::string text = scenarioToml(source);
        SCOPED_TRACE(text);
        Scenario again;
        ASSERT_NO_THROW(again = parseScenario(text, "written"));
        EXPECT_TRUE(again.orvekCards == source.orvekCards);
        EXPECT_TRUE(again.veltaraDevices == source.veltaraDevices);
        EXPECT_TRUE(again.veltaraService == source.veltaraService);
    }
}

// The largest values each limit allows are taken, one past them refused (ScenarioErrors).
TEST(Scenario, ValuesAtTheirLimitsAreTaken) {
    const Scenario scenario = parseScenario(
        "[[orvek]]\nmemory_gib = 256\n[[orvek.extra_power]]\n[[orvek.extra_power]]\n"
        "[[orvek.extra_power]]\n[[orvek.extra_power]]\n"
        "[[veltara]]\nname = \"" +
        std::string(64, 'x') + "\"\n");
    ASSERT_EQ(scenario.orvekCards.size(), 1u);
    ASSERT_EQ(scenario.veltaraDevices.size(), 1u);
    EXPECT_EQ(scenario.orvekCards[0].memoryGiB, 256u);
    EXPECT_TRUE(scenario.orvekCards[0].extraPower[3].has_value());
    EXPECT_EQ(scenario.veltaraDevices[0].name.size(), 64u);
}

// A config built in code is held to the limits of the scenario's keys, and to the rules across
// them, as one read from a file.
TEST(Scenario, ConfigsBuiltInCodeAreHeldToTheSameLimits) {
    const auto refusal = [](auto validate) -> std::string {
        try {
            validate();
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "accepted";
    };
    OrvekCardConfig card;
    EXPECT_EQ(refusal([&] { validateCardConfig(card); }), "accepted");
    card.temperatureC = 256;
    EXPECT_EQ(refusal([&] { validateCardConfig(card); }),
              "temperatureC must be from 0 to 255, got 256");
    card = {};
    card.memoryGiB = 12;
    EXPECT_THAT(refusal([&] { validateCardConfig(card); }), HasSubstr("power of two"));
    VeltaraDeviceConfig device;
    device.work = {{1, 0, 100, 101, {}}};
    EXPECT_EQ(refusal([&] { validateVeltaraDeviceConfig(device); }),
              "work[0].busyUs exceeds periodUs");
    VeltaraServiceConfig service;
    service.pipeInstances = 0;
    EXPECT_EQ(refusal([&] { validateVeltaraServiceConfig(service); }),
              "pipeInstances must be from 1 to 254, got 0");
}

struct BadScenario {
    const char* name;
    std::string text;
    const char* where;  // "line:column" of the problem, or "line:"
    const char* says;
};

void PrintTo(const BadScenario& bad, std::ostream* out) {
    *out << bad.name;
}

class ScenarioErrors : public ::testing::TestWithParam<BadScenario> {};

TEST_P(ScenarioErrors, NameTheKeyAndTheLine) {
    const BadScenario& bad = GetParam();
    try {
        parseScenario(bad.text);
        FAIL() << "accepted:\n" << bad.text;
    } catch (const ScenarioError& e) {
        EXPECT_THAT(e.what(), HasSubstr(std::string("scenario:") + bad.where));
        EXPECT_THAT(e.what(), HasSubstr(bad.says));
    }
}

const BadScenario kBadScenarios[] = {
    {"SyntaxError", "[[orvek]]\ntemperature = \n", "2:", ""},
    {"UnknownKey", "[[orvek]]\ntemprature = 47\n", "2:1", "unknown key 'temprature'"},
    {"TemperatureTooHigh", "[[orvek]]\n\ntemperature = 300\n", "3:", "from 0 to 255"},
    {"MemoryNotPowerOfTwo", "[[orvek]]\nmemory_gib = 12\n", "2:", "power of two"},
    {"MemoryUsedBeyondSize", "[[orvek]]\nmemory_gib = 2\nmemory_used = 2147483649\n",
     "3:", "exceeds the card's 2 GiB"},
    {"FirmwareNotNumeric", "[[orvek]]\nfirmware = \"1.x\"\n", "2:", "major.minor"},
    {"DriverVersionThreeParts", "[[orvek]]\ndriver_version = [1, 8, 0]\n", "2:", "four numbers"},
    {"PciDeviceAbove1F", "[[orvek]]\nlocation = \"0000:03:20.0\"\n", "2:", "device 00-1F"},
    {"BooleanLocation", "[[orvek]]\nlocation = true\n", "2:", "not a boolean"},
    {"UnknownIdentityForm", "[[orvek]]\nidentity_form = \"old\"\n", "2:", "\"legacy\""},
    {"LegacyIndexWithCurrentForm", "[[orvek]]\nlegacy_index = 2\n", "2:", "identity_form"},
    {"LoadTooShort", "[[orvek]]\nload = [0.5, 0.5]\n", "2:", "10 fractions"},
    {"UnknownChip", "[[orvek]]\n[orvek.board_power]\nchip = 0x1234\n", "3:", "0x5449, 0x2260"},
    {"WattsForComputedPower", "[[orvek]]\n[orvek.board_power]\nchip = 0x2260\nwatts = 5\n",
     "4:", "volts x amps"},
    {"VoltsBeyondChip", "[[orvek]]\n[orvek.board_power]\nvolts = 90\n", "3:", "at most 81.9"},
    {"DuplicateSelector",
     "[[orvek]]\n[[orvek.extra_power]]\nselector = 1\n[[orvek.extra_power]]\nselector = 1\n",
     "4:", "selector 1"},
    {"FiveExtraMonitors",
     "[[orvek]]\n[[orvek.extra_power]]\n[[orvek.extra_power]]\n[[orvek.extra_power]]\n"
     "[[orvek.extra_power]]\n[[orvek.extra_power]]\n",
     "6:", "more than 4"},
    {"FailingUnknownRegister", "[[orvek]]\n[orvek.faults]\nfailing_registers = [0x0FC12000]\n",
     "3:", "0x0FC12000, which is not a register"},
    {"DuplicateDeviceIndex", "[[orvek]]\ndevice_index = 1\n[[orvek]]\n",
     "3:", "device_index 1, which orvek[0] has already"},
    {"VeltaraKindAndFlags", "[[veltara]]\nkind = 1\nflags = 3\n", "3:", "give one"},
    {"PagesInUseBeyondMemory", "[[veltara]]\nmemory_pages = 4\npages_in_use = 5\n",
     "3:", "exceeds memory_pages"},
    {"NameTooLong", "[[veltara]]\nname = \"" + std::string(65, 'x') + "\"\n",
     "2:", "at most 64 bytes"},
    {"NameBeyondLatin1", "[[veltara]]\nname = \"\\u0100\"\n", "2:", "above U+00FF"},
    {"DuplicateNameButForCase",
     "[[veltara]]\nname = \"\\u00E9a\"\n[[veltara]]\nname = \"\\u00C9A\"\n",
     "3:", "which veltara[0] has already"},
    {"ProcessNameNotAscii", "[[veltara]]\n[[veltara.process]]\nname = \"t\\u00E9\"\n",
     "3:", "printable ASCII"},
    {"BusyBeyondPeriod", "[[veltara]]\n[[veltara.work]]\nperiod_us = 10\nbusy_us = 11\n",
     "4:", "exceeds period_us"},
    {"StopBeforeStart", "[[veltara]]\n[[veltara.work]]\nstart_us = 5\nstop_us = 5\n",
     "4:", "after start_us"},
    {"UnknownCommand", "[[veltara]]\n[veltara.faults.reply_length]\nIOC_FOO = 2\n", "3:1",
     "not a command"},
    {"StatusOfValueCommand",
     "[[veltara]]\n[veltara.faults]\nstatus = { IOC_GET_TEMPERATURE = 5 }\n", "3:", "status word"},
    {"SilentRejectedCommand", "[[veltara]]\n[veltara.faults]\nsilent = [\"IOC_RESET\"]\n",
     "3:", "never answers"},
    {"ServiceAsArray", "[[veltara_service]]\n", "1:", "must be a table"},
};

INSTANTIATE_TEST_SUITE_P(EveryKind, ScenarioErrors, ::testing::ValuesIn(kBadScenarios));

}  // namespace
}  // namespace crvmon::sim::testing
