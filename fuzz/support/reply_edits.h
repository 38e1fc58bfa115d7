// How the fuzzer's input alters the replies of the simulated driver and service on their way to
// the library. The input is read as a list of edits, one per reply in the order the replies
// are made: keep it, cut it, pad it, overwrite some bytes, replace it whole, set a word to a
// boundary value, or fail the request. Replies past the end of the list go through unaltered,
// so an empty input is a run against the plain scenario.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace crvmon::fuzz {

class ReplyEdits {
  public:
    // Starts over with a new input (copied).
    void reset(const std::uint8_t* data, std::size_t size);

    enum class Outcome { Send, Fail };
    // Applies the next edit to `bytes`; Fail means the request fails instead of answering.
    Outcome edit(std::vector<std::uint8_t>& bytes);

  private:
    std::uint8_t byte();
    std::uint16_t word16();
    std::vector<std::uint8_t> take(std::size_t count);

    std::mutex mutex_;  // replies are made on the servers' threads
    std::vector<std::uint8_t> input_;
    std::size_t position_ = 0;
};

}  // namespace crvmon::fuzz
