#include "fuzz/support/fuzz_machine.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "lib/platform/posix/wait_hook.h"

namespace crvmon::fuzz {
namespace {

class NoWaiting final : public platform::WaitHook {
  public:
    void slept(DWORD) override {}
    void waitTimedOut(DWORD) override {}
    void pipeOpened(std::wstring_view, DWORD) override {}
    void pipeWaited(std::wstring_view, DWORD, DWORD) override {}
    void endlessWait() override {}
};

std::string& objectRoot() {
    static std::string root;
    return root;
}

void removeObjectRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(objectRoot(), ignored);
}

}  // namespace

void prepareMachine() {
    char pattern[] = "/tmp/crvmon-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("crvmon fuzz: cannot make an object root");
        std::exit(1);
    }
    objectRoot() = pattern;
    setenv("CRVMON_OBJECT_ROOT", pattern, 1);
    std::atexit(removeObjectRoot);
    static NoWaiting hook;
    platform::installWaitHook(&hook);
}

}  // namespace crvmon::fuzz
