// The process as the fuzzers that talk to a simulation need it: an object root of its own,
// removed at exit, and waits that cost no time, so that a retry policy's pauses and time-outs
// do not slow the fuzzer down (what they would wait for is decided by the input anyway).
#pragma once

namespace crvmon::fuzz {

// Once per process, before the simulation starts.
void prepareMachine();

}  // namespace crvmon::fuzz
