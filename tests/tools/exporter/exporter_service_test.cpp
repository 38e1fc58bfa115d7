// What the exporter keeps of its life as a service: a log file of bounded size, and the recovery
// the service manager is given (on Windows).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/exporter/exporter_log.h"
#ifdef _WIN32
#include "tools/exporter/windows_service.h"
#endif

namespace crvmon::exporter {
namespace {

std::vector<std::string> linesOf(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

TEST(ServiceLogFile, KeepsItsBoundAndTheLinesBeforeItInOnePreviousFile) {
    const auto folder =
        std::filesystem::temp_directory_path() /
        ("crvmon-log-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    constexpr std::uintmax_t kBound = 300;
    BoundedLogFile log(folder / "exporter.log", kBound);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(
            log.write(i % 2 ? Severity::kError : Severity::kInfo, "line " + std::to_string(i)));
    }
    const auto previousPath = folder / "exporter.log.1";
    EXPECT_LE(std::filesystem::file_size(log.path()), kBound);
    EXPECT_LE(std::filesystem::file_size(previousPath), kBound);

    // The newest lines, in order and whole, across the two files.
    std::vector<std::string> lines = linesOf(previousPath);
    const std::vector<std::string> current = linesOf(log.path());
    ASSERT_FALSE(current.empty());
    lines.insert(lines.end(), current.begin(), current.end());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = 40 - static_cast<int>(lines.size() - i);
        const std::string tail =
            std::string(number % 2 ? "] error: " : "] info: ") + "line " + std::to_string(number);
        ASSERT_GE(lines[i].size(), tail.size()) << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail);
        EXPECT_EQ(lines[i].find("Z ["), 23u) << lines[i];  // after the UTC time
    }

    // A folder that is not there: a failure to say, not a crash.
    BoundedLogFile nowhere(folder / "missing" / "exporter.log", kBound);
    EXPECT_FALSE(nowhere.write(Severity::kInfo, "lost"));
    std::filesystem::remove_all(folder);
}

#ifdef _WIN32
TEST(ServiceRecovery, RestartsAMinuteAfterEachOfThreeFailuresThenStaysStoppedForADay) {
    const RecoveryActions recovery;
    ASSERT_EQ(recovery.config.cActions, 4u);
    ASSERT_EQ(recovery.config.lpsaActions, recovery.actions.data());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(recovery.actions[i].Type, SC_ACTION_RESTART) << i;
        EXPECT_EQ(recovery.actions[i].Delay, 60'000u) << i;  // milliseconds
    }
    EXPECT_EQ(recovery.actions[3].Type, SC_ACTION_NONE);
    EXPECT_EQ(recovery.config.dwResetPeriod, 86'400u);  // seconds
    EXPECT_EQ(recovery.config.lpCommand, nullptr);
    EXPECT_EQ(recovery.config.lpRebootMsg, nullptr);
}
#endif

}  // namespace
}  // namespace crvmon::exporter
