// What a registry of the stand-in still holds when the registry goes (its image unloads, or the
// process ends) stays as it is, as a process's handles and views outlive a DLL on Windows: it
// is moved aside and never destroyed, so no object is torn down behind a thread still using it.
// Called from static destructors only, which run one at a time.
#pragma once

#include <memory>
#include <utility>

namespace crvmon::platform {

void keepForever(std::shared_ptr<void> contents);

template <class Contents>
void keepForever(Contents& contents) {
    if (!contents.empty()) keepForever(std::make_shared<Contents>(std::move(contents)));
}

}  // namespace crvmon::platform
