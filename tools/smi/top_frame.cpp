#include "tools/smi/top_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "tools/smi/byte_size_text.h"

namespace crvmon::smi {

namespace {

using tools::CoreLoad;
using tools::DeviceSample;

constexpr std::string_view kSparkLevels = "_.:-=+*#";

// One screen line: visible text is cut at columns - 1, escapes do not count.
class Line {
  public:
    explicit Line(int columns) : room_(std::max(0, columns - 1)) {}

    Line& text(std::string_view s) {
        for (char c : s) {
            if (room_ == 0) break;
            const auto byte = static_cast<unsigned char>(c);
            // A node name comes from the device: a control byte in it must not reach the terminal.
            out_ += byte < 0x20 || byte >= 0x7f ? '?' : c;
            --room_;
        }
        return *this;
    }
    Line& pad(int count) {
        return text(std::string(static_cast<std::size_t>(std::max(0, count)), ' '));
    }
    Line& style(const char* sgr) {
        out_ += "\x1b[";
        out_ += sgr;
        out_ += 'm';
        styled_ = true;
        return *this;
    }
    Line& plain() {
        if (styled_) out_ += "\x1b[0m";
        styled_ = false;
        return *this;
    }
    int room() const { return room_; }
    std::string finish() {
        plain();
        return out_ + "\x1b[K";
    }

  private:
    std::string out_;
    int room_;
    bool styled_ = false;
};

std::string decimals(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string rightAligned(std::string text, int width) {
    if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
    return text;
}

std::string leftAligned(std::string text, int width) {
    if (static_cast<int>(text.size()) < width) text.append(width - text.size(), ' ');
    return text;
}

template <class T, class Format>
std::string orNA(const std::optional<T>& value, Format format) {
    return value ? format(*value) : std::string("N/A");
}

// How many of `width` cells a share fills: 0 to 100 percent, anything beyond clipped.
int filled(std::optional<double> percent, int width) {
    if (!percent || !(*percent > 0.0)) return 0;
    return static_cast<int>(std::lround(std::min(*percent, 100.0) / 100.0 * width));
}

// The last `width` values scaled from `low` to `high`, right-aligned: the newest at the end.
std::string sparkline(const History& history, int width, double low, double high) {
    if (width <= 0) return {};
    const auto& values = history.values();
    const std::size_t shown = std::min(values.size(), static_cast<std::size_t>(width));
    std::string out(static_cast<std::size_t>(width) - shown, ' ');
    const int top = static_cast<int>(kSparkLevels.size()) - 1;
    for (auto it = values.end() - static_cast<std::ptrdiff_t>(shown); it != values.end(); ++it) {
        if (!*it || !std::isfinite(**it)) {
            out += ' ';
            continue;
        }
        const double level = std::round((**it - low) / (high - low) * top);
        out += kSparkLevels[static_cast<std::size_t>(std::clamp(level, 0.0, double(top)))];
    }
    return out;
}

// Power has no fixed ceiling: its sparkline runs from 0 to the first round step (1, 2 or 5
// times a power of ten) above the highest value it shows, so a steady draw sits mid-scale
// instead of reading as the maximum. The frame names the step.
double powerCeiling(const History& history) {
    double peak = 0.0;
    for (const auto& value : history.values()) {
        if (value && std::isfinite(*value) && *value > peak) peak = *value;
    }
    double decade = 1.0;
    for (int tens = 0; tens <= std::numeric_limits<double>::max_exponent10; ++tens) {
        for (const double step : {1.0, 2.0, 5.0}) {
            if (step * decade > peak) return step * decade;
        }
        decade *= 10;
    }
    return peak;
}

void titleLine(std::vector<std::string>& lines, int columns, const DeviceSample& s) {
    Line line(columns);
    line.style("1").text(tools::formatDeviceId(s.id)).plain();
    line.text("  ").text(tools::familyName(s.family)).text("  ").text(s.node.value_or("N/A"));
    if (!s.errors.empty()) {
        line.text("  ").style("31").text(std::to_string(s.errors.size()) + " read error(s)");
    }
    lines.push_back(line.finish());
}

void utilizationLine(std::vector<std::string>& lines, int columns, const TopDevice& d) {
    const int usable = columns - 1;
    const int sparkWidth = std::min(usable / 4, static_cast<int>(History::kCapacity));
    const int inner = std::max(1, usable - 18 - sparkWidth);
    const int fill = filled(d.sample.utilizationPercent, inner);
    Line line(columns);
    line.text("  util [").style("32").text(std::string(fill, '|')).plain().pad(inner - fill);
    line.text("] ").text(rightAligned(
        orNA(d.sample.utilizationPercent, [](double v) { return decimals(v, 1) + "%"; }), 6));
    line.text("  ").text(sparkline(d.history.utilization, sparkWidth, 0.0, 100.0));
    lines.push_back(line.finish());
}

void thermalLine(std::vector<std::string>& lines, int columns, const TopDevice& d) {
    const int half = (columns - 1) / 2;
    Line line(columns);
    const std::string temperature =
        orNA(d.sample.temperatureC, [](int v) { return std::to_string(v) + " C"; });
    line.text("  temp ").text(rightAligned(temperature, 6)).text(" ");
    line.text(sparkline(d.history.temperature, half - 15, 0.0, 100.0)).text("  ");
    const std::string power =
        orNA(d.sample.boardPowerW, [](double v) { return decimals(v, 1) + " W"; });
    const double ceiling = powerCeiling(d.history.power);
    const std::string scale = " /" + decimals(ceiling, 0) + " W";
    line.text("power ").text(rightAligned(power, 8)).text(" ");
    line.text(
        sparkline(d.history.power, line.room() - static_cast<int>(scale.size()), 0.0, ceiling));
    line.text(scale);
    lines.push_back(line.finish());
}

void clockLine(std::vector<std::string>& lines, int columns, const DeviceSample& s) {
    Line line(columns);
    line.text("  clock ").text(orNA(s.npuClockMHz, [](int v) {
        return std::to_string(v) + " MHz";
    }));
    line.text("  fan ").text(orNA(s.fanDutyPercent, [](int v) { return std::to_string(v) + "%"; }));
    line.text("  mem ").text(orNA(s.memoryUsedBytes, byteSizeText)).text(" / ");
    line.text(orNA(s.memoryTotalBytes, byteSizeText));
    lines.push_back(line.finish());
}

// One line per cluster: its whole-cluster entry ("0.all", drawn with '#') then its cores, each
// a bar with its share written over its right end; a core's share may pass 100 (the library
// adds the cluster's share), its bar stops at full.
void coreLines(std::vector<std::string>& lines, int columns, const std::vector<CoreLoad>& cores) {
    std::vector<std::optional<int>> clusters;
    for (const CoreLoad& core : cores) {
        if (std::find(clusters.begin(), clusters.end(), core.cluster) == clusters.end()) {
            clusters.push_back(core.cluster);
        }
    }
    for (const auto& cluster : clusters) {
        std::vector<std::pair<std::string, const CoreLoad*>> cells;
        int labels = 0;
        for (const CoreLoad& core : cores) {
            if (core.cluster != cluster) continue;
            std::string label = cluster ? std::to_string(*cluster) : "?";
            label += '.';
            label += core.core ? std::to_string(*core.core) : (cluster ? "all" : "?");
            labels += static_cast<int>(label.size());
            cells.emplace_back(std::move(label), &core);
        }
        const int count = static_cast<int>(cells.size());
        // Sized as for a cluster of four cores, so that the bars of all clusters line up.
        const int spare = columns - 3 - std::max(34, labels + 3 * count);
        const int inner = std::max(4, spare / std::max(5, count));
        Line line(columns);
        line.text("  ");
        for (const auto& [label, core] : cells) {
            const std::optional<double> percent = core->busyPercent();
            const std::string value =
                orNA(percent, [](double v) { return decimals(v, 0) + "%"; }).substr(0, inner);
            const int fill =
                std::min(filled(percent, inner), inner - static_cast<int>(value.size()));
            const char glyph = core->wholeCluster() ? '#' : '|';
            line.text(label).text("[").style(core->wholeCluster() ? "36" : "32");
            line.text(std::string(fill, glyph)).plain();
            line.pad(inner - fill - static_cast<int>(value.size())).text(value).text("] ");
        }
        lines.push_back(line.finish());
    }
}

std::vector<std::string> deviceBlock(int columns, const TopDevice& d) {
    std::vector<std::string> lines;
    titleLine(lines, columns, d.sample);
    utilizationLine(lines, columns, d);
    thermalLine(lines, columns, d);
    clockLine(lines, columns, d.sample);
    if (d.sample.cores) coreLines(lines, columns, *d.sample.cores);
    return lines;
}

std::string processRow(int columns, const std::string& device, const std::string& pid,
                       const std::string& name, const std::string& busy,
                       const std::string& quantity, const std::string& amount, bool bold = false) {
    Line line(columns);
    if (bold) line.style("1");
    line.text("  ").text(leftAligned(device, 8)).text(rightAligned(pid, 8));
    line.text(rightAligned(busy, 8))
        .text(rightAligned(quantity, 10))
        .text(rightAligned(amount, 18));
    // Last, so that a narrow terminal cuts the name before the numbers.
    line.text("  ").text(name);
    return line.finish();
}

// The message, word-wrapped to the terminal, instead of a layout that cannot fit.
std::vector<std::string> tooSmall(int columns, int rows) {
    const std::string message = "crvmon-smi top needs at least " + std::to_string(kTopMinColumns) +
                                "x" + std::to_string(kTopMinRows) + "; this terminal is " +
                                std::to_string(columns) + "x" + std::to_string(rows) + ". q quits.";
    std::vector<std::string> lines;
    std::string current;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find(' ', start);
        if (end == std::string::npos) end = message.size();
        const std::string word = message.substr(start, end - start);
        start = end + 1;
        if (!current.empty() && static_cast<int>(current.size() + 1 + word.size()) > columns - 1) {
            lines.push_back(Line(columns).text(current).finish());
            current.clear();
        }
        current += (current.empty() ? "" : " ") + word;
    }
    if (!current.empty()) lines.push_back(Line(columns).text(current).finish());
    return lines;
}

// The device blocks under the header, as many whole ones as leave the footer and three lines of
// processes (a blank, the column names, one row). Returns how many were placed.
std::size_t placeDevices(std::vector<std::string>& lines, int columns, int rows,
                         const std::vector<TopDevice>& devices) {
    const int room = rows - 2 - 3;
    std::size_t shown = 0;
    for (const TopDevice& device : devices) {
        std::vector<std::string> block = deviceBlock(columns, device);
        const int used = static_cast<int>(lines.size()) - 1;
        const int separator = shown == 0 ? 0 : 1;
        if (used + separator + static_cast<int>(block.size()) > room) {
            if (shown != 0) break;
            // A block taller than the whole room is cut rather than leaving the screen empty.
            block.resize(static_cast<std::size_t>(room));
        }
        if (separator) lines.push_back(Line(columns).finish());
        lines.insert(lines.end(), block.begin(), block.end());
        ++shown;
    }
    return shown;
}

// Every device's processes, in the library's order, one row each.
std::vector<std::string> processRows(int columns, const std::vector<TopDevice>& devices) {
    std::vector<std::string> rows;
    for (const TopDevice& device : devices) {
        if (!device.sample.processes) continue;
        for (const tools::ProcessLoad& p : *device.sample.processes) {
            rows.push_back(
                processRow(columns, tools::formatDeviceId(device.sample.id), std::to_string(p.pid),
                           p.name.value_or("N/A"),
                           orNA(p.busyPercent(), [](double v) { return decimals(v, 1) + "%"; }),
                           std::to_string(p.quantity), std::to_string(p.amount)));
        }
    }
    return rows;
}

std::vector<std::string> fullLayout(int columns, int rows, const std::string& clock,
                                    const std::vector<TopDevice>& devices) {
    std::vector<std::string> lines;
    Line header(columns);
    header.style("7").text("crvmon-smi top  " + clock + "  " + std::to_string(devices.size()) +
                           " device(s)  q quits");
    lines.push_back(header.pad(header.room()).finish());
    const std::size_t shown = placeDevices(lines, columns, rows, devices);

    lines.push_back(Line(columns).finish());
    lines.push_back(
        processRow(columns, "device", "pid", "name", "busy", "quantity", "amount", true));
    const std::vector<std::string> processes = processRows(columns, devices);
    if (processes.empty()) lines.push_back(Line(columns).text("  (no processes)").finish());
    // The device blocks left at least one row free above the footer.
    const std::size_t listed =
        std::min(processes.size(), static_cast<std::size_t>(rows) - 1 - lines.size());
    // `listed` is at most processes.size(), empty or not.
    // cppcheck-suppress containerOutOfBounds
    const auto end = processes.begin() + static_cast<std::ptrdiff_t>(listed);
    lines.insert(lines.end(), processes.begin(), end);
    while (static_cast<int>(lines.size()) < rows - 1) lines.push_back(Line(columns).finish());

    std::string footer;
    const auto note = [&footer](const std::string& text) {
        footer += (footer.empty() ? "" : "; ") + text;
    };
    if (shown < devices.size()) note(std::to_string(devices.size() - shown) + " device(s) hidden");
    if (listed < processes.size()) {
        note(std::to_string(processes.size() - listed) + " process(es) hidden");
    }
    for (const TopDevice& device : devices) {
        for (const tools::ReadError& error : device.sample.errors) {
            note(tools::formatDeviceId(device.sample.id) + " " + error.what + ": " +
                 tools::statusText(error.status));
        }
    }
    lines.push_back(Line(columns).text(footer).finish());
    return lines;
}

// The line without the escapes the style leaves out: colours ("ESC [ ... m") without colour,
// and the clearing to the line's end ("ESC [ K") off a terminal. Every escape in a line is the
// line's own: a control byte in a device's text was replaced as it was added.
std::string styled(const std::string& line, FrameStyle style) {
    if (style.terminal && style.colour) return line;
    std::string out;
    for (std::size_t at = 0; at < line.size();) {
        if (line[at] != '\x1b') {
            out += line[at++];
            continue;
        }
        const std::size_t end = line.find_first_of("mK", at);
        if (end == std::string::npos) break;
        const bool keep = line[end] == 'm' ? style.terminal && style.colour : style.terminal;
        if (keep) out.append(line, at, end + 1 - at);
        at = end + 1;
    }
    return out;
}

}  // namespace

void History::push(std::optional<double> value) {
    values_.push_back(value);
    while (values_.size() > kCapacity) values_.pop_front();
}

void DeviceHistory::record(const DeviceSample& sample) {
    temperature.push(sample.temperatureC ? std::optional<double>(*sample.temperatureC)
                                         : std::nullopt);
    power.push(sample.boardPowerW);
    utilization.push(sample.utilizationPercent);
}

std::string renderTopFrame(int columns, int rows, const std::string& clock,
                           const std::vector<TopDevice>& devices, FrameStyle style) {
    columns = std::max(columns, 0);
    rows = std::max(rows, 0);
    std::vector<std::string> lines = columns < kTopMinColumns || rows < kTopMinRows
                                         ? tooSmall(columns, rows)
                                         : fullLayout(columns, rows, clock, devices);
    lines.resize(static_cast<std::size_t>(rows), Line(columns).finish());

    std::string frame = style.terminal ? "\x1b[H" : "";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != 0) frame += style.terminal ? "\r\n" : "\n";
        frame += styled(lines[i], style);
    }
    return frame;
}

}  // namespace crvmon::smi
