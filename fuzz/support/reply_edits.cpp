#include "fuzz/support/reply_edits.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace crvmon::fuzz {
namespace {

// Longest reply an edit makes: past the largest record the protocols know (the usage reply),
// so that every "longer than the buffer" path is reached.
constexpr std::size_t kLongestReply = 12'000;

// Word values at which counts, indexes and sizes go wrong.
constexpr std::array<std::uint32_t, 10> kBoundaryWords = {
    0, 1, 63, 64, 65, 0x7FFF'FFFF, 0x8000'0000, 0xFFFF'FFFF, 0x10000, 4356,
};

}  // namespace

void ReplyEdits::reset(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    input_.assign(data, data + size);
    position_ = 0;
}

std::uint8_t ReplyEdits::byte() {
    return position_ < input_.size() ? input_[position_++] : 0;
}

std::uint16_t ReplyEdits::word16() {
    const std::uint16_t low = byte();
    return static_cast<std::uint16_t>(low | byte() << 8);
}

std::vector<std::uint8_t> ReplyEdits::take(std::size_t count) {
    count = std::min(count, input_.size() - position_);
    std::vector<std::uint8_t> bytes(
        input_.begin() + static_cast<std::ptrdiff_t>(position_),
        input_.begin() + static_cast<std::ptrdiff_t>(position_ + count));
    position_ += count;
    return bytes;
}

ReplyEdits::Outcome ReplyEdits::edit(std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    if (position_ >= input_.size()) return Outcome::Send;
    switch (byte() % 8) {
        case 1:  // cut
            bytes.resize(std::min<std::size_t>(bytes.size(), word16() % (bytes.size() + 1)));
            break;
        case 2:  // pad
            bytes.resize(std::min(kLongestReply, bytes.size() + 1 + word16() % 512), 0);
            break;
        case 3: {  // overwrite a few bytes
            if (bytes.empty()) break;
            const std::size_t at = word16() % bytes.size();
            const std::vector<std::uint8_t> patch = take(1 + byte() % 16);
            std::copy_n(patch.begin(), std::min(patch.size(), bytes.size() - at),
                        bytes.begin() + at);
            break;
        }
        case 4:  // replace whole
            bytes = take(std::min<std::size_t>(word16(), kLongestReply));
            break;
        case 5: {  // a word at a boundary value
            if (bytes.size() < 4) break;
            const std::size_t at = (word16() % (bytes.size() / 4)) * 4;
            const std::uint32_t value = kBoundaryWords[byte() % kBoundaryWords.size()];
            std::memcpy(bytes.data() + at, &value, 4);
            break;
        }
        case 6: return Outcome::Fail;
        default: break;  // keep
    }
    return Outcome::Send;
}

}  // namespace crvmon::fuzz
