#include "tests/soak/fault_plan.h"

namespace crvmon::soak {

long FaultCounts::total() const {
    return orvekFailed + orvekShortened + veltaraCut + veltaraPadded + veltaraDropped +
           serviceRestarts;
}

std::uint32_t FaultPlan::draw(std::uint32_t bound) {
    std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(random_() % bound);
}

void FaultPlan::orvek(std::vector<std::uint8_t>& output, std::uint32_t& error) {
    if (!active() || draw(oneIn_) != 0) return;
    if (draw(2) == 0 || output.empty()) {
        error = 31;  // ERROR_GEN_FAILURE
        ++counts.orvekFailed;
    } else {
        output.resize(draw(static_cast<std::uint32_t>(output.size())));
        ++counts.orvekShortened;
    }
}

void FaultPlan::veltara(sim::VeltaraReply& reply) {
    if (!active() || reply.kind != sim::VeltaraReply::Kind::Send || draw(oneIn_) != 0) return;
    switch (draw(3)) {
        case 0:
            if (reply.bytes.empty()) return;
            reply.bytes.resize(draw(static_cast<std::uint32_t>(reply.bytes.size())));
            ++counts.veltaraCut;
            break;
        case 1:
            reply.bytes.resize(reply.bytes.size() + 1 + draw(64), 0);
            ++counts.veltaraPadded;
            break;
        default:
            reply.kind = sim::VeltaraReply::Kind::Malformed;  // the service drops the connection
            ++counts.veltaraDropped;
            break;
    }
}

}  // namespace crvmon::soak
