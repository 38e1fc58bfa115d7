// crvmon-smi run as a user runs it, against simulated machines: what it prints, in each format,
// read back by a CSV reader and a JSON parser, and how it ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/csv_reader.h"
#include "tests/support/run_program.h"

namespace {

using crvmon::testing::ProgramRun;
using crvmon::testing::readCsv;
using nlohmann::json;
using ::testing::_;
using ::testing::HasSubstr;
using ::testing::Not;

std::string scenario(const char* name) {
    return std::string(CRVMON_SMI_SCENARIOS) + "/" + name;
}

ProgramRun smi(std::vector<std::string> arguments) {
    return crvmon::testing::runProgram(CRVMON_SMI_PATH, arguments);
}

ProgramRun smiOn(const char* scenarioName, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--scenario", scenario(scenarioName)});
    return smi(arguments);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> rowOf(const std::string& table, const std::string& id) {
    for (const std::string& line : linesOf(table)) {
        std::istringstream words(line);
        std::vector<std::string> cells;
        for (std::string w; words >> w;) cells.push_back(w);
        if (!cells.empty() && cells[0] == id) return cells;
    }
    return {};
}

const json& deviceIn(const json& list, const std::string& id) {
    for (const json& device : list) {
        if (device.at("id") == id) return device;
    }
    throw std::runtime_error("no device " + id + " in " + list.dump());
}

TEST(SmiViews, DefaultTablesShowTelemetryAndProcessesWithinEightyColumns) {
    const ProgramRun run = smiOn("two_families.toml", {});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& line : linesOf(run.out)) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_THAT(run.out, HasSubstr("Drivers: Orvek 1.8.2, Veltara USB 2.5.0"));

    // ID Family Node Temp Power NPU-clock Fan Memory Util
    EXPECT_THAT(rowOf(run.out, "3:0"),
                ::testing::ElementsAre("3:0", "Orvek", ::testing::EndsWith("orvek0"), "61C",
                                       "31.5W", "1250MHz", "40%", "4096/16384", "100.0%"));
    // No power reading on Veltara devices, nor a fan; the load moves with the activity window.
    EXPECT_THAT(rowOf(run.out, "6:0"), ::testing::ElementsAre("6:0", "Veltara", _, "52C", "N/A",
                                                              "900MHz", "N/A", "272/1024", _));
    std::istringstream words(run.out);
    for (std::string word; words >> word;) EXPECT_NE(word.rfind("-1", 0), 0u) << word;

    // The process table: the two rows of pid 4120 summed and named by the scenario's row that
    // names it, pid 4188 idle under the default name; the busy share, not the raw ticks.
    std::vector<std::vector<std::string>> processes;
    for (const std::string& line : linesOf(run.out)) {
        const auto cells = rowOf(line, "6:0");
        if (cells.size() == 6) processes.push_back(cells);
    }
    ASSERT_EQ(processes.size(), 2u) << run.out;
    EXPECT_THAT(processes[0], ::testing::ElementsAre("6:0", "4120", "trainer",
                                                     ::testing::EndsWith("%"), "5", "58720256"));
    EXPECT_THAT(processes[1],
                ::testing::ElementsAre("6:0", "4188", "simulated", "0.0%", "1", "16777216"));
}

TEST(SmiViews, DetailsListEveryValueOfTheDevicesFamily) {
    const ProgramRun run = smiOn("two_families.toml", {"--details", "--id", "3:0", "--id", "6:0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line :
         {"firmware.version        1.2.3", "pcie.slot               0000:03:00.0",
          "extra_pmic.power        14.50 W", "device_driver.version   2.5.0", "pid 4120"}) {
        EXPECT_THAT(run.out, HasSubstr(line));
    }
    // An Orvek card lists no Veltara-only field, and the other way round.
    const std::string veltara = run.out.substr(run.out.find("Device 6:0"));
    EXPECT_THAT(veltara, Not(HasSubstr("firmware.version")));
    EXPECT_THAT(run.out.substr(0, run.out.find("Device 6:0")), Not(HasSubstr("device_driver")));
}

TEST(SmiQuery, CsvCarriesTheScenarioWithHeaderAndUnitsOrWithout) {
    const std::vector<std::string> query{
        "-q", "id,temperature.chip,power.draw,pcie.slot,memory.total", "-f", "csv"};
    ProgramRun run = smiOn("two_families.toml", query);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "id,temperature.chip [C],power.draw [W],pcie.slot,memory.total [B]\n"
              "3:0,61 C,31.50 W,0000:03:00.0,17179869184 B\n3:1,70 C,24.00 W,N/A,34359738368 B\n"
              "5:0,39 C,N/A,N/A,1073741824 B\n6:0,52 C,N/A,N/A,1073741824 B\n");

    auto bare = query;
    bare.insert(bare.end(), {"--no-header", "--no-units"});
    run = smiOn("two_families.toml", bare);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "3:0,61,31.50,0000:03:00.0,17179869184\n3:1,70,24.00,N/A,34359738368\n"
              "5:0,39,N/A,N/A,1073741824\n6:0,52,N/A,N/A,1073741824\n");

    // Hexadecimal ids as they are written, and no padding in a CSV cell.
    run = smiOn("two_families.toml", {"-q", "id,pci.device_id,firmware.crc,pci.vendor_id", "-f",
                                      "csv", "--no-header", "--id", "3:0", "--id", "6:0"});
    EXPECT_EQ(run.out, "3:0,0x0100,0x8003,0x1D9C\n6:0,N/A,N/A,N/A\n");
}

TEST(SmiQuery, JsonHasTypedValuesAndNullForWhatADeviceLacks) {
    const ProgramRun run = smiOn("two_families.toml", {"-q", "all", "-f", "json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json list = json::parse(run.out);
    ASSERT_EQ(list.size(), 4u);

    const json& card = deviceIn(list, "3:0");
    const json values = {{"temperature.chip", 61},    {"clocks.npu", 1250},
                         {"power.draw", 31.5},        {"extra_pmic.id", 1},
                         {"memory.used", 4294967296}, {"firmware.version", "1.2.3"},
                         {"pci.vendor_id", 0x1D9C},   {"processes", nullptr}};
    for (const auto& [field, value] : values.items()) EXPECT_EQ(card.at(field), value) << field;
    ASSERT_EQ(card.at("cores").size(), 10u);
    EXPECT_TRUE(card.at("cores")[0].at("core").is_null());  // the whole-cluster entry
    // A power reading is the library's single-precision value at its shortest, not its widening.
    EXPECT_THAT(run.out, HasSubstr("\"extra_pmic.voltage\": 3.3,"));

    const json& legacy = deviceIn(list, "3:1");
    EXPECT_TRUE(legacy.at("pcie.slot").is_null());
    EXPECT_TRUE(legacy.at("firmware.crc").is_null());

    const json& device = deviceIn(list, "6:0");
    EXPECT_EQ(device.at("family"), "Veltara");
    EXPECT_EQ(device.at("temperature.chip"), 52);
    for (const char* absent : {"power.draw", "fan.duty", "pci.vendor_id", "firmware.version"}) {
        EXPECT_TRUE(device.at(absent).is_null()) << absent;
    }
    ASSERT_EQ(device.at("processes").size(), 2u);
    EXPECT_EQ(device.at("processes")[0].at("pid"), 4120);
    EXPECT_EQ(device.at("processes")[0].at("quantity"), 5);
    EXPECT_EQ(device.at("processes")[0].at("amount"), 58720256);
}

TEST(SmiSettings, ExtraPmicSelectionIsReadBack) {
    const ProgramRun run = smiOn("two_families.toml", {"--set-extra-pmic", "3:0=3"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("3:0: extra PMIC 3 selected (read back: 3)"));
}

TEST(SmiDump, GoesToStandardOutputOnDashAndAFileThatCannotBeWrittenFailsTheRun) {
    const ProgramRun out = smiOn("two_families.toml", {"--dump-scenario", "-"});
    EXPECT_EQ(out.exitCode, 0) << out.err;
    EXPECT_THAT(out.out, HasSubstr("[[veltara]]"));
    EXPECT_THAT(out.err, HasSubstr("wrote 4 device(s) to standard output"));

    const ProgramRun run =
        smi({"--simulate", "--dump-scenario", std::string(CRVMON_SMI_WORK_DIR) + "/no/such/dir/x"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot write"));
}

// A value the device's family always has but the device failed to deliver: N/A in its place,
// named on standard error, the device-error code, and the other devices still shown.
TEST(SmiErrors, AFailedReadIsNamedAndTheRestStillShown) {
    const ProgramRun run = smiOn(
        "failing_reads.toml", {"-q", "id,temperature.chip,utilization", "-f", "csv", "--no-units"});
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_THAT(run.err, HasSubstr("3:0: utilization: "));
    EXPECT_THAT(run.err, Not(HasSubstr("6:0")));
    const auto rows = readCsv(run.out);
    ASSERT_EQ(rows.size(), 3u) << run.out;
    EXPECT_THAT(rows[1], ::testing::ElementsAre("3:0", "50", "N/A"));
    EXPECT_EQ(rows[2][0], "6:0");
    EXPECT_EQ(rows[2][1], "40");

    // A process list that fails is a failed read too.
    const ProgramRun processes = smiOn("failing_reads.toml", {"-p"});
    EXPECT_EQ(processes.exitCode, 4) << processes.err;
    EXPECT_THAT(processes.err, HasSubstr("6:0: process"));
    // A memory size of 0 is none: N/A, null.
    const ProgramRun memory = smiOn("failing_reads.toml", {"-q", "memory.total", "-f", "json"});
    EXPECT_EQ(json::parse(memory.out)[1].at("memory.total"), nullptr) << memory.out;
}

TEST(SmiErrors, EachEndsWithItsCodeAndAClearMessageAndNoTable) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        const char* message;
        const char* machine = "two_families.toml";
    };
    const Case kCases[] = {
        {{"-q", "id,bogus"}, 2, "unknown field 'bogus'"},
        {{"-q", "id,,node"}, 2, "empty field name"},
        {{"-q", "id,"}, 2, "empty field name"},  // a trailing comma
        {{"--id", "3:0abc"}, 2, "--id '3:0abc': the index after ':' must be a whole number from 0"},
        {{"--id", "9:0"},
         2,
         "'9' is no target type; the types are 1 orvek, 2 veltara, 3 orvek-pcie, "
         "4 veltara-reserved, 5 veltara-kind0, 6 veltara-kind1"},
        {{"--id", "3:7"},
         3,
         "no device 3:7 (orvek-pcie): orvek-pcie has 2 device(s) here, 3:0 to 3:1"},
        {{"--id", "orvek:0"},
         3,
         "no device 1:0 (orvek): the Orvek devices here are 3:0 (orvek-pcie, /dev/orvek0), "
         "3:1 (orvek-pcie, /dev/orvek1)"},
        {{"--id", "4"}, 3, "no device at position 4: there are 4 device(s), 0 to 3"},
        {{"--id", "3-0"}, 3, "no device '3-0'"},
        {{"--frobnicate"}, 2, "--frobnicate"},
        {{"-q", "id", "-f", "xml"}, 2, "crvmon-smi: --format: got 'xml'; takes table, csv or json"},
        {{"-q", "id", "-f", "2"}, 2, "got '2'"},  // a format by its number
        {{"-l", "0"}, 2, "--loop: got '0'; takes a number of seconds from 0.05 to 86400"},
        {{"-l", "1", "-c", "x"}, 2, "--count: got 'x'"},
        {{"--count", "2"}, 2, "--count needs --loop"},
        {{"--details", "--processes"}, 2, "choose one"},
        {{"--set-extra-pmic", "3:0=7"}, 2, "ID 0-3"},
        {{"--set-extra-pmic", "3:9=1"}, 3, "3:9"},
        {{"--set-extra-pmic", "6:0=1"}, 4, "6:0: cannot select extra PMIC 1"},
        {{}, 2, "cannot simulate", "../smi_cli_test.cpp"},
        {{}, 3, "no device found", "no_devices.toml"},
        {{"--timeout", "2", "-q", "id", "-f", "json"},
         5,
         "initialisation did not finish within 2 s",
         "busy_service.toml"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.message);
        const ProgramRun run = smiOn(c.machine, c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.message));
        EXPECT_EQ(run.out, "");
    }
    // A script reading JSON still gets a list to parse.
    for (const char* missing : {"no_devices.toml", "two_families.toml"}) {
        const ProgramRun run = smiOn(missing, {"-q", "id", "-f", "json", "--id", "3:7"});
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_EQ(run.out, "[]\n") << missing;
    }
}

// Top into a file or pipe: frames of plain lines, one after another, not one escape byte.
TEST(SmiTop, FramesIntoAPipeArePlainText) {
    const ProgramRun run = smi({"--simulate", "top", "--count", "2", "--loop", "0.1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    const auto lines = linesOf(run.out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("/dev/orvek0") != l.npos; }),
              2);
}

}  // namespace
