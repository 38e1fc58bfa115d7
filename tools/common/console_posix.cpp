#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "tools/common/console.h"

namespace crvmon::tools {

StdoutToStderr::StdoutToStderr() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
}

bool isTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

std::optional<TerminalSize> terminalSize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return std::nullopt;
    return TerminalSize{size.ws_col, size.ws_row};
}

bool enableVirtualTerminal() {
    return true;
}

struct KeyboardInput::State {
    termios saved{};
    bool restored = false;
};

KeyboardInput::KeyboardInput() {
    if (isatty(STDIN_FILENO) != 1) return;
    state_ = new State;
    if (tcgetattr(STDIN_FILENO, &state_->saved) != 0) {
        delete state_;
        state_ = nullptr;
        return;
    }
    termios raw = state_->saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

KeyboardInput::~KeyboardInput() {
    restore();
    delete state_;
}

void KeyboardInput::restore() {
    if (state_ == nullptr || state_->restored) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &state_->saved);
    state_->restored = true;
}

std::optional<char> KeyboardInput::readKey(std::chrono::milliseconds wait) {
    if (state_ == nullptr || state_->restored) {
        std::this_thread::sleep_for(wait);
        return std::nullopt;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
    char key = 0;
    if (read(STDIN_FILENO, &key, 1) != 1) return std::nullopt;
    return key;
}

}  // namespace crvmon::tools
