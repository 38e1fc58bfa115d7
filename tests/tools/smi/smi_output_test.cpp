// crvmon-smi's output pieces with fixed inputs: CSV cells, a table cut to its width, the exit
// code of a loop of reads, and the operating system's process names.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <sstream>
#include <string>
#include <vector>

#include "tools/common/process_names.h"
#include "tools/common/run_deadline.h"
#include "tools/smi/exit_codes.h"
#include "tools/smi/live_loop.h"
#include "tools/smi/query_output.h"
#include "tools/smi/text_table.h"

namespace crvmon::smi {
namespace {

TEST(SmiOutput, CsvCellsAreQuotedOnlyWhenTheyMustBe) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"47 C", "47 C"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"", ""},
    };
    for (const auto& [text, cell] : cases) EXPECT_EQ(csvCell(text), cell) << text;
}

TEST(SmiOutput, ATableCutToItsWidthFillsItExactly) {
    TextTable table({{"ID"}, {"Node", false, true}, {"Temp", true}});
    table.addRow({"3:0", "/dev/" + std::string(120, 'n') + "/orvek0", "47C"});
    table.addRow({"6:0", "/dev/veltara-usb0", "52C"});
    std::istringstream lines(table.render(80));
    std::size_t widest = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        widest = std::max(widest, line.size());
        EXPECT_EQ(line.back(), line.rfind("ID", 0) == 0 ? 'p' : 'C') << line;
    }
    EXPECT_EQ(widest, 80u);
}

TEST(SmiOutput, ALoopFailsIfAnyRoundFailed) {
    tools::RunDeadline deadline("test", std::chrono::milliseconds(0), exit_code::kTimeout);
    LoopSettings loop;
    loop.seconds = 0.001;
    loop.count = 3;
    for (int failing = 0; failing < 3; ++failing) {
        int rounds = 0;
        const int code = runRounds(loop, deadline, [&](int round) {
            ++rounds;
            return Round{"", round == failing};
        });
        EXPECT_EQ(code, exit_code::kDeviceError) << "round " << failing << " failed";
        EXPECT_EQ(rounds, 3);
    }
    EXPECT_EQ(runRounds(loop, deadline, [](int) { return Round{}; }), exit_code::kOk);
}

// This test program names itself as a process table would; no process has id 0 or below.
TEST(ProcessNames, TheSystemNamesARunningProcessAndNoImpossibleOne) {
#if defined(_WIN32)
    const auto self = static_cast<std::int32_t>(GetCurrentProcessId());
    const char* expected = "smi_output_tests.exe";
#else
    const auto self = static_cast<std::int32_t>(getpid());
    const char* expected = "smi_output_test";  // the kernel keeps 15 characters
#endif
    EXPECT_EQ(tools::systemProcessName(self), expected);
    EXPECT_EQ(tools::systemProcessName(0), std::nullopt);
    EXPECT_EQ(tools::systemProcessName(-5), std::nullopt);
}

}  // namespace
}  // namespace crvmon::smi
