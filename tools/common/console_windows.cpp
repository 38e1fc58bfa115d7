#include <io.h>
#include <windows.h>

#include <thread>

#include "tools/common/console.h"

namespace crvmon::tools {

// The library and this program share the C runtime, so moving descriptor 1 moves both.
StdoutToStderr::StdoutToStderr() {
    std::fflush(stdout);
    saved_ = _dup(1);
    if (saved_ >= 0) _dup2(2, 1);
}

StdoutToStderr::~StdoutToStderr() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, 1);
        _close(saved_);
    }
}

bool isTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

std::optional<TerminalSize> terminalSize() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return std::nullopt;
    return TerminalSize{info.srWindow.Right - info.srWindow.Left + 1,
                        info.srWindow.Bottom - info.srWindow.Top + 1};
}

bool enableVirtualTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) return false;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

struct KeyboardInput::State {
    HANDLE input = nullptr;
    DWORD savedMode = 0;
    bool restored = false;
};

KeyboardInput::KeyboardInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
    state_ = new State{input, mode, false};
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
}

KeyboardInput::~KeyboardInput() {
    restore();
    delete state_;
}

void KeyboardInput::restore() {
    if (state_ == nullptr || state_->restored) return;
    SetConsoleMode(state_->input, state_->savedMode);
    state_->restored = true;
}

std::optional<char> KeyboardInput::readKey(std::chrono::milliseconds wait) {
    if (state_ == nullptr || state_->restored) {
        std::this_thread::sleep_for(wait);
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        if (WaitForSingleObject(state_->input, static_cast<DWORD>(left.count())) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputA(state_->input, &record, 1, &read) || read != 1) return std::nullopt;
        // Mouse, focus and key-release events wake the wait too; only a key press is a key.
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.uChar.AsciiChar != 0) {
            return record.Event.KeyEvent.uChar.AsciiChar;
        }
    }
}

}  // namespace crvmon::tools
