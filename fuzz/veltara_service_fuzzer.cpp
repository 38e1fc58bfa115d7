// The Veltara path from the host service's bytes to the caller, through the stand-in's named
// pipes: the device list on the broker pipe, then on the device pipes every reply shape (status
// word, value, version, the driver and host information records, the 2576-byte activity log,
// snapshot rows) and the connection dropped. The simulated service serves the built-in
// scenario's devices, and the input alters each of its replies in turn.
#include <cstddef>
#include <cstdint>

#include "crvmon.h"
#include "fuzz/support/every_value.h"
#include "fuzz/support/fuzz_machine.h"
#include "fuzz/support/reply_edits.h"
#include "sim/model/scenario.h"
#include "sim/veltara/veltara_host_service.h"

namespace {

crvmon::fuzz::ReplyEdits edits;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    crvmon::fuzz::prepareMachine();
    static crvmon::sim::ManualSimClock clock;
    const crvmon::sim::Scenario scenario = crvmon::sim::builtInScenario();
    static crvmon::sim::VeltaraHostService service(
        scenario.veltaraDevices, scenario.veltaraService, clock,
        [](std::wstring_view, std::span<const std::uint8_t>, crvmon::sim::VeltaraReply& reply) {
            if (reply.kind == crvmon::sim::VeltaraReply::Kind::Withhold) return;
            if (edits.edit(reply.bytes) == crvmon::fuzz::ReplyEdits::Outcome::Fail) {
                reply.kind = crvmon::sim::VeltaraReply::Kind::Malformed;  // connection dropped
            } else if (reply.kind == crvmon::sim::VeltaraReply::Kind::None &&
                       !reply.bytes.empty()) {
                reply.kind = crvmon::sim::VeltaraReply::Kind::Send;  // a reply where none is due
            }
        });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edits.reset(data, size);
    if (crvmonInit() != CRVMON_STATUS_OK) return 0;
    crvmon::fuzz::readEveryValue();
    crvmonShutdown();
    return 0;
}
