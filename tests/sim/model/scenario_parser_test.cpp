// Scenario files: the documented example and the built-in scenario read as intended, and every
// kind of mistake is refused with the key and the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "example_scenario.h"
#include "model/scenario.h"

namespace crvmon::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(ScenarioExample, ReadsEveryDocumentedKey) {
    const Scenario scenario = parseScenario(kExampleScenario, "example.toml");
    ASSERT_EQ(scenario.orvekCards.size(), 2u);
    const OrvekCardSpec& a = scenario.orvekCards[0];
    EXPECT_EQ(a.temperatureC, 47u);
    EXPECT_EQ(a.extraPmicSelected, 1u);
    EXPECT_EQ(a.firmware.code(), 0x01020003u);
    EXPECT_THAT(a.driverVersion, ElementsAre(1, 8, 2, 0));
    EXPECT_EQ(a.location.kind, LocationKind::PciAddress);
    EXPECT_EQ(a.location.address.bus, 3);
    EXPECT_EQ(a.memoryUsedBytes, 4'294'967'296u);
    EXPECT_DOUBLE_EQ(a.load[3], 0.70);
    EXPECT_DOUBLE_EQ(a.boardPower.watts, 30.0);
    ASSERT_TRUE(a.extraPower[1].has_value());
    EXPECT_EQ(a.extraPower[1]->chip, 0x546E);
    EXPECT_FALSE(a.extraPower[2].has_value());
    EXPECT_THAT(a.faults.failingRegisters, ElementsAre(0x0FC12058u));

    const OrvekCardSpec& b = scenario.orvekCards[1];
    EXPECT_EQ(b.firmware.code(), 0x01030000u);
    EXPECT_EQ(b.location.kind, LocationKind::SlotChain);
    EXPECT_THAT(b.location.slots, ElementsAre(1, 4, 2));
    EXPECT_EQ(b.identityForm, IdentityForm::Legacy);
    EXPECT_EQ(b.legacyIndex, 1);
    EXPECT_EQ(b.faults.legacyReplyLength, 1024u);
}

TEST(ScenarioBuiltIn, TwoCardsThatDifferWhereTheLibraryLooks) {
    const Scenario scenario = builtInScenario();
    ASSERT_EQ(scenario.orvekCards.size(), 2u);
    const OrvekCardSpec& a = scenario.orvekCards[0];
    const OrvekCardSpec& b = scenario.orvekCards[1];
    EXPECT_LT(a.firmware.code(), 0x01020004u);
    EXPECT_GE(b.firmware.code(), 0x01020004u);
    EXPECT_NE(a.boardPower.chip, b.boardPower.chip);
    EXPECT_EQ(a.location.kind, LocationKind::PciAddress);
    EXPECT_EQ(b.location.kind, LocationKind::SlotChain);
    EXPECT_NE(a.memoryGiB, b.memoryGiB);
    EXPECT_GT(a.loadWaveAmplitude, 0);
    EXPECT_GT(b.loadWaveAmplitude, 0);
}

TEST(ScenarioDefaults, LeftOutKeysTakeTheDocumentedDefaults) {
    const Scenario scenario = parseScenario("[[orvek]]\n[[orvek]]\nidentity_form = \"legacy\"\n");
    ASSERT_EQ(scenario.orvekCards.size(), 2u);
    const OrvekCardSpec& first = scenario.orvekCards[0];
    EXPECT_EQ(first.deviceIndex, 0);
    EXPECT_EQ(first.temperatureC, 45u);
    EXPECT_EQ(first.location.address.bus, 1);
    EXPECT_THAT(first.driverVersion, ElementsAre(1, 8, 0, 0));
    EXPECT_EQ(first.faults.usageReplyLength, 10352u);
    EXPECT_EQ(scenario.orvekCards[1].deviceIndex, 1);
    EXPECT_EQ(scenario.orvekCards[1].legacyIndex, 1);
    EXPECT_EQ(scenario.orvekCards[1].location.address.bus, 2);

    // Watts default to volts x amps for a chip with its own power reading.
    const Scenario power =
        parseScenario("[[orvek]]\n[orvek.board_power]\nchip = 0x2586\nvolts = 12\namps = 3\n");
    EXPECT_DOUBLE_EQ(power.orvekCards[0].boardPower.watts, 36.0);
    EXPECT_TRUE(parseScenario("").orvekCards.empty());
}

TEST(ScenarioFile, LoadsFromDiskAndNamesAMissingFile) {
    const auto path = std::filesystem::temp_directory_path() / "crvmon_sim_model_test.toml";
    {
        std::ofstream file(path);
        file << "[[orvek]]\ndevice_index = 3\n";
    }
    const Scenario scenario = loadScenario(path);
    std::filesystem::remove(path);
    ASSERT_EQ(scenario.orvekCards.size(), 1u);
    EXPECT_EQ(scenario.orvekCards[0].deviceIndex, 3);
    try {
        loadScenario(path);
        FAIL() << "a missing file was read";
    } catch (const ScenarioError& e) {
        EXPECT_THAT(e.what(), HasSubstr("crvmon_sim_model_test.toml"));
    }
}

struct BadScenario {
    const char* name;
    const char* text;
    const char* where;  // "scenario:line:column" of the problem
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
        EXPECT_THAT(e.what(), HasSubstr(bad.where));
        EXPECT_THAT(e.what(), HasSubstr(bad.says));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, ScenarioErrors,
    ::testing::Values(
        BadScenario{"SyntaxError", "[[orvek]]\ntemperature = \n", "scenario:2:", ""},
        BadScenario{"UnknownKey", "[[orvek]]\ntemprature = 47\n", "scenario:2:1",
                    "unknown key 'temprature'"},
        BadScenario{"StringForInteger", "[[orvek]]\ntemperature = \"hot\"\n",
                    "scenario:2:", "must be an integer"},
        BadScenario{"TemperatureTooHigh", "[[orvek]]\n\ntemperature = 300\n",
                    "scenario:3:", "from 0 to 255"},
        BadScenario{"MemoryNotPowerOfTwo", "[[orvek]]\nmemory_gib = 12\n",
                    "scenario:2:", "power of two"},
        BadScenario{"MemoryUsedBeyondSize", "[[orvek]]\nmemory_gib = 2\nmemory_used = 2147483649\n",
                    "scenario:3:", "exceeds the card's 2 GiB"},
        BadScenario{"FirmwareNotNumeric", "[[orvek]]\nfirmware = \"1.x\"\n",
                    "scenario:2:", "major.minor"},
        BadScenario{"DriverVersionThreeParts", "[[orvek]]\ndriver_version = [1, 8, 0]\n",
                    "scenario:2:", "four numbers"},
        BadScenario{"PciDeviceAbove1F", "[[orvek]]\nlocation = \"0000:03:20.0\"\n",
                    "scenario:2:", "device 00-1F"},
        BadScenario{"BooleanLocation", "[[orvek]]\nlocation = true\n",
                    "scenario:2:", "not a boolean"},
        BadScenario{"UnknownIdentityForm", "[[orvek]]\nidentity_form = \"old\"\n",
                    "scenario:2:", "\"legacy\""},
        BadScenario{"LegacyIndexWithCurrentForm", "[[orvek]]\nlegacy_index = 2\n",
                    "scenario:2:", "identity_form"},
        BadScenario{"LoadTooShort", "[[orvek]]\nload = [0.5, 0.5]\n",
                    "scenario:2:", "10 fractions"},
        BadScenario{"UnknownChip", "[[orvek]]\n[orvek.board_power]\nchip = 0x1234\n",
                    "scenario:3:", "0x5449, 0x2260"},
        BadScenario{"WattsForComputedPower",
                    "[[orvek]]\n[orvek.board_power]\nchip = 0x2260\nwatts = 5\n",
                    "scenario:4:", "volts x amps"},
        BadScenario{"VoltsBeyondChip", "[[orvek]]\n[orvek.board_power]\nvolts = 90\n",
                    "scenario:3:", "at most 81.9"},
        BadScenario{"DuplicateSelector",
                    "[[orvek]]\n[[orvek.extra_power]]\nselector = 1\n[[orvek.extra_power]]\n"
                    "selector = 1\n",
                    "scenario:4:", "selector 1"},
        BadScenario{"FiveExtraMonitors",
                    "[[orvek]]\n[[orvek.extra_power]]\n[[orvek.extra_power]]\n"
                    "[[orvek.extra_power]]\n[[orvek.extra_power]]\n[[orvek.extra_power]]\n",
                    "scenario:6:", "more than 4"},
        BadScenario{"FailingUnknownRegister",
                    "[[orvek]]\n[orvek.faults]\nfailing_registers = [0x0FC12000]\n",
                    "scenario:3:", "0x0FC12000, which is not a register"},
        BadScenario{"DuplicateDeviceIndex", "[[orvek]]\ndevice_index = 1\n[[orvek]]\n",
                    "scenario:3:", "device_index 1, which orvek[0] has already"}));

}  // namespace
}  // namespace crvmon::sim::testing
