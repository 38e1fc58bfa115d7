// One frame of crvmon-smi top as text: pure rendering, so that it can be checked without a
// terminal. Bars and sparklines are plain ASCII ('|' bars, '#' for a whole cluster, "_.:-=+*#"
// sparks from low to high, a space where a value was absent), so a Windows console shows them
// whatever its code page.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/device_sample.h"

namespace crvmon::smi {

// The smallest terminal that holds the header, one Orvek card's block and a process row.
constexpr int kTopMinColumns = 60;
constexpr int kTopMinRows = 12;

// The last values of one quantity, oldest first; an absent value is kept as a gap.
class History {
  public:
    static constexpr std::size_t kCapacity = 60;

    void push(std::optional<double> value);
    const std::deque<std::optional<double>>& values() const { return values_; }

  private:
    std::deque<std::optional<double>> values_;
};

struct DeviceHistory {
    History temperature, power, utilization;

    void record(const tools::DeviceSample& sample);
};

struct TopDevice {
    tools::DeviceSample sample;  // the latest read
    DeviceHistory history;       // this read included
};

// How a frame reaches its reader. On a terminal: cursor-home, lines cleared to their end and
// separated by "\r\n", and colour unless NO_COLOR asks otherwise. Into a file or pipe: the
// lines alone, separated by "\n", not one escape byte.
struct FrameStyle {
    bool terminal = true;
    bool colour = true;
};

// The whole screen: exactly `rows` lines, each holding at most columns - 1 visible characters
// (writing the last column would leave the cursor waiting to wrap). `clock` is shown in the
// header as is.
std::string renderTopFrame(int columns, int rows, const std::string& clock,
                           const std::vector<TopDevice>& devices, FrameStyle style = {});

}  // namespace crvmon::smi
