// The scenario loader on any text: a scenario is either accepted, and then every card and
// device in it passes the same checks as one built in code, or refused with a ScenarioError.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/support/fuzz_check.h"
#include "sim/model/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    crvmon::sim::Scenario scenario;
    try {
        scenario = crvmon::sim::parseScenario(text, "fuzz");
    } catch (const crvmon::sim::ScenarioError&) {
        return 0;
    }
    try {
        for (const auto& card : scenario.orvekCards) crvmon::sim::validateCardConfig(card);
        for (const auto& device : scenario.veltaraDevices) {
            crvmon::sim::validateVeltaraDeviceConfig(device);
        }
        crvmon::sim::validateVeltaraServiceConfig(scenario.veltaraService);
    } catch (const std::exception& e) {
        FUZZ_REQUIRE(false, "accepted a scenario the models refuse: %s", e.what());
    }
    return 0;
}
