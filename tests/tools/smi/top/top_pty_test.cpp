// crvmon-smi on pseudo-terminals of fixed sizes, against the built-in simulated machine: what top
// shows, that `q` and Ctrl-C end it and a loop of reads, and that the terminal is given back.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/tools/smi/top/screen_text.h"

namespace crvmon::smi {
namespace {

using namespace std::chrono_literals;
using top_test::splitLines;
using top_test::visibleText;

constexpr const char* kEnterAlternateScreen = "\x1b[?1049h";
constexpr const char* kLeaveAlternateScreen = "\x1b[?1049l";

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct PtyRun {
    std::string output;           // all the program wrote, control sequences included
    std::optional<int> exitCode;  // empty: ended by a signal, or still running after 20 s
};

// Runs crvmon-smi with `arguments` on a new terminal of columns x rows; once `cue` shows `times`
// times in its output, types `keys`. A program still running after 20 s is killed.
PtyRun runOnPty(std::vector<std::string> arguments, unsigned short columns, unsigned short rows,
                const std::string& cue = "", const std::string& keys = "", std::size_t times = 1) {
    winsize size{};
    size.ws_col = columns;
    size.ws_row = rows;
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) {
        ADD_FAILURE() << "forkpty: " << std::strerror(errno);
        return {};
    }
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(CRVMON_SMI_PROGRAM)};
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }

    PtyRun run;
    bool typed = keys.empty();
    const auto limit = std::chrono::steady_clock::now() + 20s;
    // Until the program closes the terminal (the master then reads EIO) or the time is up.
    while (std::chrono::steady_clock::now() < limit) {
        pollfd input{master, POLLIN, 0};
        if (poll(&input, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) {
                run.output.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
        if (!typed && occurrences(run.output, cue) >= times) {
            typed = write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
        }
    }
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < limit) {
        usleep(10'000);
    }
    if (ended == 0) {
        ADD_FAILURE() << "crvmon-smi " << arguments[0] << " did not end within 20 s";
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    } else if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    close(master);
    return run;
}

// The alternate screen was entered, then left at the very end with the cursor shown again.
void expectTerminalGivenBack(const std::string& output) {
    const std::size_t enter = output.find(kEnterAlternateScreen);
    const std::size_t leave = output.rfind(kLeaveAlternateScreen);
    ASSERT_NE(enter, std::string::npos);
    ASSERT_NE(leave, std::string::npos);
    EXPECT_LT(enter, leave);
    EXPECT_EQ(output.find(kEnterAlternateScreen, enter + 1), std::string::npos);
    EXPECT_NE(output.rfind("\x1b[?25h"), std::string::npos);
    EXPECT_GT(output.rfind("\x1b[?25h"), output.rfind("\x1b[?25l"));
    const std::string after = visibleText(output.substr(leave));
    EXPECT_EQ(after.find_first_not_of(" \n"), std::string::npos) << after;
}

TEST(TopOnATerminal, ShowsTheBuiltInMachineSizedToTheTerminal) {
    const PtyRun run = runOnPty({"top", "--simulate", "--count", "1"}, 100, 40);
    ASSERT_EQ(run.exitCode, 0) << visibleText(run.output);
    expectTerminalGivenBack(run.output);

    const std::size_t home = run.output.rfind("\x1b[H");
    ASSERT_NE(home, std::string::npos);
    const std::string frame =
        run.output.substr(home, run.output.rfind(kLeaveAlternateScreen) - home);
    const std::vector<std::string> lines = splitLines(frame, "\r\n");
    EXPECT_EQ(lines.size(), 40u);
    for (const std::string& line : lines) EXPECT_LE(visibleText(line).size(), 99u) << line;

    EXPECT_TRUE(std::regex_search(frame, std::regex("\x1b\\[[0-9;]*m")));

    const std::string text = visibleText(frame);
    for (const char* value : {"4 device(s)", "/dev/orvek0", "/dev/orvek1", "/dev/veltara-usb0",
                              "/dev/veltara-usb1", "47 C", "58 C", "30.0 W", "1200 MHz", "1400 MHz",
                              "0.all[", "1.4[", " 4120 ", " 4188 ", " 6020 "}) {
        EXPECT_NE(text.find(value), std::string::npos) << value << " not in\n" << text;
    }
}

TEST(TopOnATerminal, NoColourWhenNoColorIsSet) {
    setenv("NO_COLOR", "1", 1);
    const PtyRun run = runOnPty({"top", "--simulate", "--count", "1"}, 100, 40);
    unsetenv("NO_COLOR");
    ASSERT_EQ(run.exitCode, 0) << visibleText(run.output);
    EXPECT_FALSE(std::regex_search(run.output, std::regex("\x1b\\[[0-9;]*m")));
    EXPECT_NE(visibleText(run.output).find("/dev/orvek0"), std::string::npos);
}

TEST(TopOnATerminal, QuitsOnQAndOnCtrlC) {
    for (const std::string key : {"q", "Q", "\x03"}) {
        SCOPED_TRACE(key == "\x03" ? "Ctrl-C" : key);
        const PtyRun run = runOnPty({"top", "--simulate"}, 100, 40, "q quits", key);
        EXPECT_EQ(run.exitCode, 0) << visibleText(run.output);
        expectTerminalGivenBack(run.output);
    }
}

// Ctrl-C in a loop of reads ends it between two rounds, with the library shut down and code 0.
TEST(LoopOnATerminal, CtrlCEndsItAfterAWholeRound) {
    // On a terminal each round starts at the top left and ends by clearing what stood below it.
    constexpr const char* kRoundEnd = "\x1b[J";
    const PtyRun run = runOnPty({"--simulate", "--loop", "0.1", "-q", "id", "-f", "csv"}, 100, 40,
                                kRoundEnd, "\x03", 2);
    EXPECT_EQ(run.exitCode, 0) << visibleText(run.output);
    EXPECT_GT(run.output.rfind(kRoundEnd), run.output.rfind("\x1b[H")) << "a round was cut short";
}

}  // namespace
}  // namespace crvmon::smi
