// crvmon-smi top's frame, rendered from hand-made samples: the values shown, the bars and
// sparklines, and the shape of the frame on terminals of several sizes.
#include "tools/smi/top_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "tests/tools/smi/top/screen_text.h"

namespace crvmon::smi {
namespace {

using tools::CoreLoad;
using tools::DeviceSample;
using top_test::splitLines;
using top_test::visibleText;

CoreLoad core(int cluster, std::optional<int> number, double percent) {
    CoreLoad load;
    load.cluster = cluster;
    load.core = number;
    load.totalTime = 1000;
    load.busyTime = std::llround(percent * 10);
    return load;
}

DeviceSample orvek(int index) {
    DeviceSample s;
    s.id = {CRVMON_TARGET_ORVEK_PCIE, index};
    s.family = tools::Family::Orvek;
    s.node = "/dev/orvek" + std::to_string(index);
    s.npuClockMHz = 1200;
    s.temperatureC = 47;
    s.fanDutyPercent = 35;
    s.boardPowerW = 30.0;
    s.memoryTotalBytes = 16LL << 30;
    s.memoryUsedBytes = 4LL << 30;
    s.utilizationPercent = 45.5;
    s.cores.emplace();
    for (int cluster = 0; cluster < 2; ++cluster) {
        s.cores->push_back(core(cluster, std::nullopt, 58));
        for (int n = 1; n <= 4; ++n) s.cores->push_back(core(cluster, n, 10.0 * n + cluster));
    }
    return s;
}

DeviceSample veltara(int processes) {
    DeviceSample s;
    s.id = {CRVMON_TARGET_VELTARA_USB_KIND1, 0};
    s.family = tools::Family::Veltara;
    s.node = "/dev/veltara-usb0";
    s.temperatureC = 41;
    s.npuClockMHz = 900;
    s.cores = std::vector<CoreLoad>{core(0, 1, 35)};
    s.processes.emplace();
    for (int i = 0; i < processes; ++i) {
        s.processes->push_back({4120 + i, "worker", 5, 58720256, 350, 1000});
    }
    return s;
}

std::vector<TopDevice> withHistory(std::vector<DeviceSample> samples) {
    std::vector<TopDevice> devices;
    for (DeviceSample& sample : samples) {
        TopDevice device{std::move(sample), {}};
        device.history.record(device.sample);
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<std::string> screen(const std::string& frame) {
    return splitLines(visibleText(frame), "\n");
}

// The screen line that starts (after blanks) with `label`; empty when there is none.
std::string lineStarting(const std::vector<std::string>& lines, const std::string& label) {
    for (const std::string& line : lines) {
        const std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && line.compare(first, label.size(), label) == 0) {
            return line;
        }
    }
    return {};
}

// The inside of the bar labelled `label` ("0.all") on a line of core bars.
std::string cellOf(const std::string& line, const std::string& label) {
    const std::size_t at = line.find(label + "[");
    if (at == line.npos) return "(no " + label + ")";
    const std::size_t open = at + label.size() + 1;
    return line.substr(open, line.find(']', open) - open);
}

bool onScreen(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != line.npos; });
}

TEST(TopFrame, HasExactlyTheRowsAndNoLineWiderThanTheTerminal) {
    const auto devices = withHistory({orvek(0), orvek(1), veltara(3), orvek(2)});
    // At 41 columns the message's first 41 characters end with a word: it must wrap there.
    const std::pair<int, int> kSizes[] = {{60, 12}, {80, 24}, {100, 40}, {200, 60}, {40, 10},
                                          {41, 10}, {10, 3},  {59, 40},  {100, 11}};
    for (const auto& [columns, rows] : kSizes) {
        const std::string size = std::to_string(columns) + "x" + std::to_string(rows);
        SCOPED_TRACE(size);
        const std::string frame = renderTopFrame(columns, rows, "12:34:56", devices);
        ASSERT_EQ(frame.rfind("\x1b[H", 0), 0u) << "the frame starts at the top left";
        const std::vector<std::string> raw = splitLines(frame, "\r\n");
        ASSERT_EQ(raw.size(), static_cast<std::size_t>(rows));
        for (const std::string& line : raw) {
            EXPECT_LE(visibleText(line).size(), static_cast<std::size_t>(columns - 1)) << line;
            EXPECT_EQ(line.find('\n'), line.npos);
            EXPECT_TRUE(line.ends_with("\x1b[K")) << "stale text of the last frame stays";
        }
        // Below 60x12 a message in place of a layout that cannot fit.
        const std::string text = visibleText(frame);
        const bool fits = columns >= 60 && rows >= 12;
        EXPECT_EQ(text.find("/dev/orvek0") != text.npos, fits) << text;
        if (!fits && columns >= 40) {
            const std::string words = std::regex_replace(text, std::regex("\\s+"), " ");
            EXPECT_NE(words.find("crvmon-smi top needs at least 60x12; this terminal is " + size +
                                 ". q quits."),
                      words.npos)
                << text;
        }
    }
    EXPECT_EQ(renderTopFrame(0, 0, "", devices), "\x1b[H");
    EXPECT_EQ(renderTopFrame(-5, -1, "", devices), "\x1b[H");

    // Into a file: the same lines, plain. Without colour on a terminal: no colour, still cleared.
    const std::regex colour("\x1b\\[[0-9;]*m");
    const std::string styled = renderTopFrame(80, 24, "", devices);
    ASSERT_TRUE(std::regex_search(styled, colour));
    const std::string plain = renderTopFrame(80, 24, "", devices, {.terminal = false});
    EXPECT_EQ(plain.find_first_of("\x1b\r"), plain.npos);
    EXPECT_EQ(splitLines(plain, "\n"), splitLines(visibleText(styled), "\n"));
    const std::string noColour = renderTopFrame(80, 24, "", devices, {.colour = false});
    EXPECT_FALSE(std::regex_search(noColour, colour));
    EXPECT_EQ(noColour.rfind("\x1b[H", 0), 0u);
    EXPECT_EQ(visibleText(noColour), visibleText(styled));
}

TEST(TopFrame, ShowsTheValuesOfEachDevice) {
    const auto lines =
        screen(renderTopFrame(100, 40, "12:34:56", withHistory({orvek(0), veltara(2)})));
    // The values themselves are checked on a real terminal (test_top_pty.py): here what a
    // run of the built-in machine cannot pin down, the time and the exact shares.
    EXPECT_TRUE(onScreen({lines[0]}, "12:34:56"));
    EXPECT_NE(lineStarting(lines, "util").find("45.5%"), std::string::npos);
    // Each cluster on its line, the whole-cluster entry marked "all" and drawn with '#'; each
    // process with its busy share.
    const char* const kLines[] = {"  clock 1200 MHz  fan 35%  mem 4.0 GiB / 16.0 GiB",
                                  "  0.all[#######  58%] 0.1[|        10%] 0.2[||       20%] "
                                  "0.3[||||     30%] 0.4[|||||    40%] ",
                                  "  1.all[#######  58%] 1.1[|        11%] 1.2[|||      21%] "
                                  "1.3[||||     31%] 1.4[|||||    41%] ",
                                  "6:0  Veltara  /dev/veltara-usb0",
                                  "  0.1[||||     35%] ",
                                  "  device       pid    busy  quantity            amount  name",
                                  "  6:0         4120   35.0%         5          58720256  worker",
                                  "  6:0         4121   35.0%         5          58720256  worker"};
    for (const char* line : kLines)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
}

TEST(TopFrame, AbsentValuesShowNotAvailable) {
    DeviceSample bare;
    bare.id = {CRVMON_TARGET_ORVEK_PCIE, 0};
    bare.family = tools::Family::Orvek;
    const auto lines = screen(renderTopFrame(100, 40, "", withHistory({bare, veltara(0)})));
    EXPECT_NE(lineStarting(lines, "3:0").find("N/A"), std::string::npos) << "no node";
    EXPECT_NE(lineStarting(lines, "util").find("N/A"), std::string::npos);
    const std::string thermal = lineStarting(lines, "temp");
    EXPECT_NE(thermal.find("temp    N/A"), thermal.npos) << thermal;
    EXPECT_NE(thermal.find("power      N/A"), thermal.npos) << thermal;
    EXPECT_NE(lineStarting(lines, "clock").find("clock N/A  fan N/A  mem N/A / N/A"),
              std::string::npos);
    EXPECT_TRUE(onScreen(lines, "(no processes)"));
    EXPECT_FALSE(onScreen(lines, "-1"));

    // A core whose window has no length has no share.
    DeviceSample idle = veltara(0);
    idle.cores->front().totalTime = 0;
    EXPECT_NE(
        lineStarting(screen(renderTopFrame(100, 40, "", withHistory({idle}))), "0.1[").find("N/A]"),
        std::string::npos);
}

// The '|' cells between the brackets of the utilisation bar, and the bar's width.
std::pair<std::size_t, std::size_t> utilizationBar(double percent) {
    DeviceSample s = orvek(0);
    s.utilizationPercent = percent;
    const std::string line =
        lineStarting(screen(renderTopFrame(100, 40, "", withHistory({s}))), "util");
    const std::size_t open = line.find('['), close = line.find(']');
    const std::string bar = line.substr(open + 1, close - open - 1);
    return {static_cast<std::size_t>(std::count(bar.begin(), bar.end(), '|')), bar.size()};
}

TEST(TopFrame, BarsScaleWithTheShareAndStopAtFull) {
    const auto [empty, width] = utilizationBar(0);
    ASSERT_GE(width, 40u) << "a 100-column terminal gives the bar most of the line";
    EXPECT_EQ(empty, 0u);
    EXPECT_NEAR(static_cast<double>(utilizationBar(50).first), width / 2.0, 1.0);
    EXPECT_EQ(utilizationBar(100).first, width);
    EXPECT_EQ(utilizationBar(250).first, width);

    // A core may pass 100 percent: its text says so, its bar is full and no wider than the rest.
    DeviceSample s = orvek(0);
    (*s.cores)[1] = core(0, 1, 140);
    (*s.cores)[2] = core(0, 2, 0);
    const std::string line =
        lineStarting(screen(renderTopFrame(100, 40, "", withHistory({s}))), "0.all[");
    const auto cell = [&line](const std::string& label) { return cellOf(line, label); };
    EXPECT_TRUE(cell("0.1").ends_with("140%"));
    EXPECT_EQ(cell("0.1").find(' '), std::string::npos) << cell("0.1");
    EXPECT_EQ(cell("0.1").size(), cell("0.3").size());
    EXPECT_EQ(cell("0.2").find('|'), std::string::npos) << cell("0.2");
    EXPECT_TRUE(cell("0.2").ends_with("0%"));
}

TEST(TopFrame, SparklinesFollowTheHistory) {
    TopDevice device{orvek(0), {}};
    for (double value : {0.0, 25.0, 50.0, 75.0, 100.0}) device.history.utilization.push(value);
    device.history.temperature.push(20);
    device.history.temperature.push(std::nullopt);  // a read that gave no temperature
    device.history.temperature.push(95);
    for (double watts : {10.0, 20.0, 40.0}) device.history.power.push(watts);
    const auto lines = screen(renderTopFrame(100, 40, "", {device}));

    // The utilisation's five values, lowest to highest, end its line; no values before the first.
    const std::string util = lineStarting(lines, "util");
    EXPECT_TRUE(util.ends_with(" _:=+#")) << util;

    // The gap of the missing temperature stays a gap; power runs from 0 to the round step
    // above its peak, which the line names.
    const std::string thermal = lineStarting(lines, "temp");
    const std::size_t power = thermal.find("power");
    const std::string temperatureSpark = thermal.substr(0, power);
    EXPECT_NE(temperatureSpark.find(". #"), std::string::npos) << thermal;
    EXPECT_TRUE(thermal.ends_with(".-* /50 W")) << thermal;

    // A steady draw is not drawn as the maximum; a value that is no number is a gap, and does
    // not spoil the scale of the others.
    TopDevice steady{orvek(0), {}};
    for (int i = 0; i < 3; ++i) steady.history.power.push(30.0);
    EXPECT_TRUE(lineStarting(screen(renderTopFrame(100, 40, "", {steady})), "temp")
                    .ends_with(" === /50 W"));
    TopDevice odd{orvek(0), {}};
    for (double watts : {40.0, std::numeric_limits<double>::infinity(), std::nan(""), 20.0}) {
        odd.history.power.push(watts);
    }
    EXPECT_TRUE(
        lineStarting(screen(renderTopFrame(100, 40, "", {odd})), "temp").ends_with("*  - /50 W"));

    History history;
    for (int i = 0; i < 200; ++i) history.push(i);
    EXPECT_EQ(history.values().size(), History::kCapacity);
    EXPECT_EQ(history.values().back(), 199.0);
}

TEST(TopFrame, ReadErrorsAndControlBytesFromADevice) {
    DeviceSample s = orvek(0);
    s.node = "/dev/x\x1b[2Jy\x7f\n";
    s.errors.push_back({"temperature", CRVMON_STATUS_INVALID_ARGUMENT});
    const std::string frame = renderTopFrame(100, 40, "", withHistory({s}));
    EXPECT_EQ(frame.find("\x1b[2J"), std::string::npos) << "a device name cannot clear the screen";
    const auto lines = screen(frame);
    EXPECT_NE(lineStarting(lines, "3:0").find("/dev/x?[2Jy??  1 read error(s)"), std::string::npos);
    EXPECT_NE(
        lines.back().find("3:0 temperature: " + tools::statusText(CRVMON_STATUS_INVALID_ARGUMENT)),
        std::string::npos)
        << lines.back();
}

}  // namespace
}  // namespace crvmon::smi
