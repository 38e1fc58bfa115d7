#include "tools/smi/live_loop.h"

#include <chrono>
#include <cstdio>

#include "tools/common/console.h"
#include "tools/common/interrupt.h"
#include "tools/smi/exit_codes.h"

namespace crvmon::smi {

namespace {

// Home, then every line cleared to its end and whatever stood below cleared: the new round
// overwrites the last without the flicker of clearing the screen first.
std::string overwriting(const std::string& text) {
    std::string out = "\x1b[H";
    for (const char c : text) {
        if (c == '\n') out += "\x1b[K";
        out += c;
    }
    return out + "\x1b[J";
}

}  // namespace

int runRounds(const LoopSettings& settings, tools::RunDeadline& deadline,
              const std::function<Round(int round)>& read) {
    const bool looping = settings.seconds > 0;
    const bool inPlace = looping && settings.inPlace && tools::enableVirtualTerminal();
    if (looping) tools::catchInterrupts();
    if (inPlace) std::fputs("\x1b[2J", stdout);

    bool failed = false;
    for (int round = 0; !tools::interrupted(); ++round) {
        const auto start = std::chrono::steady_clock::now();
        deadline.arm("reading the devices");
        const Round result = read(round);
        deadline.disarm();
        failed = failed || result.failed;
        std::fputs(inPlace ? overwriting(result.text).c_str() : result.text.c_str(), stdout);
        std::fflush(stdout);

        if (!looping || (settings.count > 0 && round + 1 >= settings.count)) break;
        const auto period =
            std::chrono::milliseconds(static_cast<long long>(settings.seconds * 1000));
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (spent < period) tools::sleepUnlessInterrupted(period - spent);
    }
    return failed ? exit_code::kDeviceError : exit_code::kOk;
}

}  // namespace crvmon::smi
