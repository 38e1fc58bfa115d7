// The words a refresh reads from the board's registers, and a core's ring of busy intervals,
// from any bytes: the telemetry derived from them must be numbers within what their fields can
// hold, and the extra-PMIC selector must survive being written back. (Whether a fraction is
// believable is for the usage reply as a whole: the Orvek driver fuzzer reaches that.)
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/support/fuzz_check.h"
#include "lib/orvek/busy_fraction.h"
#include "lib/orvek/register_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);

    std::array<std::uint32_t, 11> words{};
    for (std::uint32_t& word : words) word = input.ConsumeIntegral<std::uint32_t>();
    crvmon::MonitorInfo info;
    crvmon::orvek::decodeRegisters(words, info);
    FUZZ_REQUIRE(info.chipTemperature() >= 0 && info.chipTemperature() <= 255, "temperature");
    FUZZ_REQUIRE(info.fanDuty() >= 0 && info.fanDuty() <= 127, "fan duty");
    for (float reading : {info.totalCurrent, info.totalPower, info.totalVoltage,
                          info.extraPmicCurrent, info.extraPmicPower, info.extraPmicVoltage}) {
        FUZZ_REQUIRE(std::isfinite(reading), "power reading %f", static_cast<double>(reading));
    }

    const std::uint32_t version = input.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t word = input.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t id = input.ConsumeIntegralInRange<std::uint32_t>(0, 3);
    const std::uint32_t written = crvmon::orvek::wordWithSelector(version, word, id);
    FUZZ_REQUIRE(crvmon::orvek::selectorFromWord(version, written) == id,
                 "selector %u written into %08x reads back otherwise", id, word);

    // One ring per core entry, as the usage reply carries them.
    crvmon::orvek::CoreActivity ring;
    ring.head = input.ConsumeIntegral<std::uint8_t>();
    ring.count = input.ConsumeIntegral<std::uint8_t>();
    for (auto& interval : ring.intervals) {
        interval.start = input.ConsumeIntegral<std::uint64_t>();
        interval.end = input.ConsumeIntegral<std::uint64_t>();
    }
    const double fraction =
        crvmon::orvek::busyFraction(ring, input.ConsumeIntegral<std::uint64_t>());
    FUZZ_REQUIRE(std::isfinite(fraction) && fraction >= 0, "busy fraction %f", fraction);
    return 0;
}
