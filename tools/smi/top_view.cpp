#include "tools/smi/top_view.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <functional>
#include <string>

#include "tools/common/console.h"
#include "tools/common/device_sample.h"
#include "tools/common/interrupt.h"
#include "tools/smi/exit_codes.h"
#include "tools/smi/top_frame.h"

namespace crvmon::smi {

namespace {

using std::chrono::milliseconds;

constexpr unsigned kTopGroups = tools::kReadClocks | tools::kReadThermal | tools::kReadPower |
                                tools::kReadMemory | tools::kReadUtilization | tools::kReadCores |
                                tools::kReadProcesses;

// The alternate screen with the cursor hidden, while alive: left again on every way out of the
// loop, an exception included. Output that is not a terminal gets the frames alone.
class FullScreen {
  public:
    FullScreen() : terminal_(tools::isTerminal(stdout)) {
        if (terminal_) write("\x1b[?1049h\x1b[?25l");
    }
    ~FullScreen() { leave(); }
    // Idempotent: also called when an overrun ends the process.
    void leave() {
        if (left_.exchange(true)) return;
        if (terminal_) write("\x1b[?25h\x1b[?1049l");
    }
    bool terminal() const { return terminal_; }
    FullScreen(const FullScreen&) = delete;
    FullScreen& operator=(const FullScreen&) = delete;

  private:
    static void write(const char* text) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    bool terminal_;
    std::atomic<bool> left_{false};
};

int environmentNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 10000) return fallback;
    return static_cast<int>(value);
}

// The terminal's size; for a file or pipe, what COLUMNS and LINES say, else 80x24.
tools::TerminalSize screenSize() {
    if (auto size = tools::terminalSize(); size && size->columns > 0 && size->rows > 0) {
        return *size;
    }
    return {environmentNumber("COLUMNS", 80), environmentNumber("LINES", 24)};
}

std::string clockText() {
    const std::time_t now = std::time(nullptr);
    char text[16] = "";
    // The view's thread is the program's only caller of localtime.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    if (const std::tm* local = std::localtime(&now)) {
        (void)std::strftime(text, sizeof text, "%H:%M:%S", local);  // 8 characters always fit
    }
    return text;
}

// Waits out the interval in short slices, so that Ctrl-C is seen soon; true to end the view.
bool waitForQuit(tools::KeyboardInput& keyboard, milliseconds interval) {
    constexpr milliseconds kSlice{100};
    const auto end = std::chrono::steady_clock::now() + interval;
    do {
        const auto left =
            std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
        const std::optional<char> key = keyboard.readKey(std::clamp(left, milliseconds{0}, kSlice));
        if (key == 'q' || key == 'Q') return true;
    } while (!tools::interrupted() && std::chrono::steady_clock::now() < end);
    return tools::interrupted();
}

// The exit code is that of the last frame drawn: a read that failed once and then recovered
// does not fail the view, while a device still failing when the view ends does.
int runLoop(const TopOptions& options, const std::vector<tools::DeviceId>& ids,
            tools::RunDeadline& deadline) {
    tools::enableVirtualTerminal();
    FullScreen screen;
    tools::KeyboardInput keyboard;
    // A read that overruns --timeout ends the process from another thread: give the terminal
    // back first. The cleanup it replaces is put back before the two go away.
    std::function<void()> before;
    before = deadline.setCleanup([&] {
        keyboard.restore();
        screen.leave();
        if (before) before();
    });
    struct RestoreCleanup {
        tools::RunDeadline& deadline;
        std::function<void()>& before;
        ~RestoreCleanup() { deadline.setCleanup(before); }
    } restoreCleanup{deadline, before};
    std::vector<TopDevice> devices(ids.size());
    // NO_COLOR set and not empty asks for no colour, whatever the terminal can do.
    const char* noColour = std::getenv("NO_COLOR");
    const FrameStyle style{screen.terminal(), noColour == nullptr || *noColour == '\0'};
    bool failed = false;
    for (int frame = 1; !tools::interrupted(); ++frame) {
        deadline.arm("reading the devices");
        for (std::size_t i = 0; i < ids.size(); ++i) {
            devices[i].sample = tools::readDevice(ids[i], kTopGroups);
        }
        deadline.disarm();
        failed = false;
        for (TopDevice& device : devices) {
            device.history.record(device.sample);
            failed = failed || !device.sample.errors.empty();
        }
        const tools::TerminalSize size = screenSize();
        std::fputs(renderTopFrame(size.columns, size.rows, clockText(), devices, style).c_str(),
                   stdout);
        // Frames written to a file or pipe follow each other, one a block of lines.
        if (!screen.terminal()) std::fputs("\n", stdout);
        std::fflush(stdout);
        if (options.count && frame >= *options.count) break;
        if (waitForQuit(keyboard, options.interval)) break;
    }
    return failed ? exit_code::kDeviceError : exit_code::kOk;
}

}  // namespace

int runTopView(const TopOptions& options, tools::RunDeadline& deadline) {
    if (options.ids.empty()) {
        std::fprintf(stderr, "crvmon-smi: top: no device found\n");
        return exit_code::kNoDevice;
    }
    // Idempotent; without it Ctrl-C would end the process on the alternate screen.
    tools::catchInterrupts();
    try {
        return runLoop(options, options.ids, deadline);
    } catch (const std::exception& error) {
        // The screen is restored by now, so the message is seen.
        deadline.disarm();
        std::fprintf(stderr, "crvmon-smi: top: %s\n", error.what());
        return exit_code::kFailure;
    }
}

}  // namespace crvmon::smi
