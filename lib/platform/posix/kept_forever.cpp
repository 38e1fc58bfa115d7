#include "lib/platform/posix/kept_forever.h"

#include <vector>

namespace crvmon::platform {

namespace {
// Reachable until the process ends: what is kept is in use, not leaked.
std::vector<std::shared_ptr<void>>* kept = nullptr;
}  // namespace

void keepForever(std::shared_ptr<void> contents) {
    if (kept == nullptr) kept = new std::vector<std::shared_ptr<void>>;
    kept->push_back(std::move(contents));
}

}  // namespace crvmon::platform
