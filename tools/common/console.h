// What the tools need of the terminal and the standard streams, the same on Linux and Windows:
// console_posix.cpp and console_windows.cpp hold the two ways of doing it.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

namespace crvmon::tools {

// While alive, whatever is written to standard output (by this process, the library included)
// goes to standard error instead: the library prints a line on standard output while it
// initialises, and a tool's output must stay machine-readable.
class StdoutToStderr {
  public:
    StdoutToStderr();
    ~StdoutToStderr();
    StdoutToStderr(const StdoutToStderr&) = delete;
    StdoutToStderr& operator=(const StdoutToStderr&) = delete;

  private:
    int saved_ = -1;
};

bool isTerminal(std::FILE* stream);

struct TerminalSize {
    int columns = 0;
    int rows = 0;
};
// The size of the terminal standard output is shown on; nullopt when it is not a terminal.
std::optional<TerminalSize> terminalSize();

// Lets ANSI/VT sequences written to standard output work (a Windows console needs to be told);
// false when the console refuses them.
bool enableVirtualTerminal();

// Standard input, key by key and without echo, while alive (when it is a terminal).
class KeyboardInput {
  public:
    KeyboardInput();
    ~KeyboardInput();
    KeyboardInput(const KeyboardInput&) = delete;
    KeyboardInput& operator=(const KeyboardInput&) = delete;

    // The next key typed within `wait`, or nullopt. Without a terminal it only waits.
    std::optional<char> readKey(std::chrono::milliseconds wait);

    // Gives the terminal its modes back now (the destructor does it otherwise); idempotent.
    void restore();

  private:
    struct State;
    State* state_ = nullptr;
};

}  // namespace crvmon::tools
