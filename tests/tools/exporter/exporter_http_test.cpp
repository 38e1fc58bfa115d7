// The exporter's HTTP interface in process, against simulated machines: what a scrape shows,
// and how it answers what it does not serve.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/model/scenario.h"
#include "sim/private_simulation.h"
#include "tools/common/process_names.h"
#include "tools/exporter/device_collector.h"
#include "tools/exporter/http_routes.h"
#include "tools/exporter/metrics_text.h"

namespace crvmon::exporter {
namespace {

using ::testing::HasSubstr;

std::string scenario(const char* name) {
    return std::string(CRVMON_TEST_SCENARIOS) + "/" + name;
}

// A simulated machine, the exporter's collector on it, and its server on a free port.
class Exporter {
  public:
    explicit Exporter(const char* scenarioName)
        : scenario_(sim::loadScenario(scenario(scenarioName))),
          names_(scenario_),
          simulation_(scenario_),
          collector_(DeviceCollector::Settings{}) {
        addRoutes(server_, collector_, history_);
        port_ = server_.bind_to_any_port("127.0.0.1");
        // The socket listens from the bind on: clients may connect before the thread accepts.
        serving_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~Exporter() {
        server_.stop();
        serving_.join();
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(30, 0);
        return c;
    }

  private:
    sim::Scenario scenario_;
    tools::ScenarioProcessNames names_;  // as crvmon-exporter --simulate names the processes
    sim::PrivateSimulation simulation_;
    DeviceCollector collector_;
    DeviceHistory history_;
    httplib::Server server_;
    int port_ = 0;
    std::thread serving_;
};

// Two Orvek cards and two Veltara devices with steady values.
constexpr const char* kMachine = "two_families.toml";

// The exposition as its parser sees it: families with their HELP and TYPE, and each sample's
// series ("name{labels}") with its value.
struct Page {
    std::map<std::string, std::string> types;
    std::map<std::string, double> samples;
    std::vector<std::string> problems;
};

Page parse(const std::string& text) {
    Page page;
    std::istringstream lines(text);
    std::map<std::string, bool> helped;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# HELP ", 0) == 0) {
            helped[line.substr(7, line.find(' ', 7) - 7)] = true;
        } else if (line.rfind("# TYPE ", 0) == 0) {
            const auto name = line.substr(7, line.find(' ', 7) - 7);
            page.types[name] = line.substr(line.rfind(' ') + 1);
        } else if (!line.empty()) {
            const auto space = line.rfind(' ');
            const std::string series = line.substr(0, space);
            const std::string name = series.substr(0, series.find('{'));
            if (!page.types.count(name) || !helped[name]) {
                page.problems.push_back("sample before HELP and TYPE: " + line);
            }
            if (page.samples.count(series)) page.problems.push_back("series twice: " + series);
            page.samples[series] = std::stod(line.substr(space + 1));
        }
    }
    if (text.empty() || text.back() != '\n')
        page.problems.push_back("page not ended by a line feed");
    return page;
}

const char* kCard = R"(family="Orvek",type="3",index="0",node="/dev/orvek0")";
const char* kDevice = R"(family="Veltara",type="6",index="0",node="/dev/veltara-usb0")";

// The answer's HTTP status; 0 for none.
int statusOf(const httplib::Result& result) {
    return result ? result->status : 0;
}

std::string series(const char* name, const char* labels, const std::string& more = "") {
    return std::string(name) + "{" + labels + more + "}";
}

TEST(ExporterMetrics, APageCarriesTheMachineAndNothingForWhatADeviceLacks) {
    Exporter exporter(kMachine);
    const auto response = exporter.client().Get("/metrics");
    ASSERT_EQ(statusOf(response), 200);
    EXPECT_EQ(response->get_header_value("Content-Type"), kMetricsContentType);
    const Page page = parse(response->body);
    EXPECT_THAT(page.problems, ::testing::IsEmpty());

    EXPECT_EQ(page.samples.at("crvmon_up"), 1);
    EXPECT_EQ(page.samples.at("crvmon_devices"), 4);
    // What runs where: the project's version, and the revision the exporter was built from.
    const std::string buildInfo =
        "crvmon_exporter_build_info{version=\"" CRVMON_TEST_PROJECT_VERSION "\",revision=\"";
    const auto info = page.samples.lower_bound(buildInfo);
    ASSERT_NE(info, page.samples.end());
    EXPECT_EQ(info->first.rfind(buildInfo, 0), 0u) << info->first;
    EXPECT_EQ(info->second, 1);
    for (const auto& [name, value] : {std::pair{"crvmon_temperature_celsius", 61.0},
                                      {"crvmon_npu_clock_hertz", 1.25e9},
                                      {"crvmon_fan_duty_ratio", 0.40},
                                      {"crvmon_board_power_watts", 31.5},
                                      {"crvmon_memory_used_bytes", 4294967296.0},
                                      {"crvmon_read_errors_total", 0.0}}) {
        EXPECT_DOUBLE_EQ(page.samples.at(series(name, kCard)), value) << name;
    }
    EXPECT_EQ(page.samples.at(
                  series("crvmon_process_quantity", kDevice, ",pid=\"4120\",name=\"trainer\"")),
              5);
    EXPECT_EQ(page.types.at("crvmon_read_errors_total"), "counter");
    // A power reading is the library's single-precision value at its shortest, not its widening.
    const std::string extraVoltage = "crvmon_extra_pmic_voltage_volts{" + std::string(kCard);
    const std::size_t line = response->body.find(extraVoltage);
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(response->body.substr(response->body.find('}', line), 6), "} 3.3\n");
    // A core's share is the cluster's plus its own.
    EXPECT_NEAR(
        page.samples.at(series("crvmon_core_busy_ratio", kCard, ",cluster=\"0\",core=\"1\"")), 1.0,
        0.01);

    // The Veltara device has no board power, fan or bus clock: no sample, never a -1.
    for (const char* absent :
         {"crvmon_board_power_watts", "crvmon_fan_duty_ratio", "crvmon_bus_clock_hertz"}) {
        EXPECT_EQ(page.samples.count(series(absent, kDevice)), 0u) << absent;
    }
    for (const auto& [name, value] : page.samples) EXPECT_GE(value, 0) << name;
}

TEST(ExporterMetrics, LabelValuesAreEscaped) {
    Scrape scrape;
    scrape.up = true;
    tools::DeviceSample sample;
    sample.id = {CRVMON_TARGET_ORVEK_PCIE, 0};
    sample.family = tools::Family::Orvek;
    sample.node = "/dev/\"odd\\\nname";
    sample.temperatureC = 40;
    sample.fanDutyPercent = 35;
    sample.deviceId = 0x100;
    sample.firmwareVersion = "";  // no text: no label
    scrape.devices.push_back(sample);
    scrape.readErrors.push_back(0);
    const std::string text = metricsText(scrape);
    EXPECT_THAT(text, HasSubstr(R"(node="/dev/\"odd\\\nname"} 40)"));
    EXPECT_THAT(text, HasSubstr("name\",device_id=\"0x0100\"} 1\n"));
    EXPECT_THAT(text, HasSubstr("name\"} 0.35\n"));  // a ratio of 0.35, not 0.35000000000000003
    EXPECT_THAT(parse(text).problems, ::testing::IsEmpty());
}

// The page's history holds a fixed number of points a device, and only the devices still there.
TEST(ExporterHistory, KeepsTheLastPointsOfThePresentDevicesOnly) {
    Scrape two;
    for (int index : {0, 1}) {
        tools::DeviceSample sample;
        sample.id = {CRVMON_TARGET_ORVEK_PCIE, index};
        sample.temperatureC = 40 + index;
        two.devices.push_back(sample);
    }
    DeviceHistory history;
    const std::chrono::system_clock::time_point start{std::chrono::seconds(1'000'000)};
    for (std::size_t i = 0; i <= DeviceHistory::kPoints; ++i) {
        history.record(two, start + i * DeviceHistory::kInterval);
    }
    Scrape one = two;
    one.devices.erase(one.devices.begin());
    history.record(one, start + 400 * DeviceHistory::kInterval);
    const auto answer = nlohmann::json::parse(history.json(start));
    ASSERT_EQ(answer.at("devices").size(), 1u) << answer;
    const auto& device = answer["devices"][0];
    EXPECT_EQ(device.at("id"), "3:1");
    const auto& points = device.at("points");
    ASSERT_EQ(points.size(), DeviceHistory::kPoints);
    // The oldest two fell out; the newest is the last read, null for the utilisation not read.
    EXPECT_EQ(points[0][0], 1'000'000'000 + 2 * 2000);
    EXPECT_EQ(points.back(), nlohmann::json({1'000'000'000 + 400 * 2000, nullptr, 41}));
}

// One device, or a list chosen with ?id=, by any of the ids crvmon-smi --id takes.
TEST(ExporterApi, DevicesAreChosenByTheIdsCrvmonSmiTakes) {
    Exporter exporter(kMachine);
    auto client = exporter.client();
    for (const char* path : {"/api/v1/devices/3:0", "/api/v1/devices/0000:03:00.0",
                             "/api/v1/devices/%2Fdev%2Forvek0", "/api/v1/devices/0"}) {
        const auto response = client.Get(path);
        ASSERT_EQ(statusOf(response), 200) << path;
        EXPECT_EQ(nlohmann::json::parse(response->body).at("id"), "3:0") << path;
    }
    auto response = client.Get("/api/v1/devices?id=6:0&id=orvek-pcie:1");
    ASSERT_TRUE(response);
    const auto list = nlohmann::json::parse(response->body);
    ASSERT_EQ(list.size(), 2u) << response->body;
    EXPECT_EQ(list[0].at("id"), "6:0");
    EXPECT_EQ(list[0].at("processes").at(0).at("name"), "trainer");
    EXPECT_EQ(list[1].at("id"), "3:1");

    response = client.Get("/api/v1/devices/3:7");
    ASSERT_EQ(statusOf(response), 404);
    EXPECT_THAT(nlohmann::json::parse(response->body).at("error").get<std::string>(),
                HasSubstr("orvek-pcie has 2 device(s) here, 3:0 to 3:1"));
    EXPECT_EQ(statusOf(client.Get("/api/v1/devices?id=3:0&id=nothing")), 404);
}

TEST(ExporterHttp, WhatItDoesNotServeIsRefusedAndItServesOn) {
    Exporter exporter(kMachine);
    auto client = exporter.client();
    EXPECT_EQ(statusOf(client.Get("/nothing")), 404);
    const auto post = client.Post("/metrics", "x", "text/plain");
    EXPECT_EQ(statusOf(post), 405);
    EXPECT_EQ(post ? post->get_header_value("Allow") : "", "GET, HEAD");
    EXPECT_EQ(statusOf(client.Delete("/api/v1/devices")), 405);

    EXPECT_EQ(statusOf(client.Get("/" + std::string(100'000, 'a'))) / 100, 4);
    // A header too large may also end the connection unanswered.
    const auto huge = client.Get("/metrics", {{"X-Filler", std::string(100'000, 'b')}});
    EXPECT_EQ(huge ? huge->status / 100 : 4, 4) << statusOf(huge);

    EXPECT_EQ(statusOf(client.Get("/metrics")), 200);
}

// A card that fails to deliver its load and a device that fails its process list: their
// counters rise, and the rest of their values are still on the page; a memory size of 0 is none.
TEST(ExporterMetrics, AFailingDeviceCountsItsErrorsAndTheRestStillShows) {
    Exporter exporter("failing_reads.toml");
    auto client = exporter.client();
    client.Get("/metrics");
    const Page page = parse(client.Get("/metrics")->body);
    EXPECT_THAT(page.problems, ::testing::IsEmpty());
    EXPECT_GE(page.samples.at(series("crvmon_read_errors_total", kCard)), 4);  // two scrapes
    EXPECT_EQ(page.samples.count(series("crvmon_utilization_ratio", kCard)), 0u);
    EXPECT_EQ(page.samples.at(series("crvmon_temperature_celsius", kCard)), 50);
    EXPECT_GE(page.samples.at(series("crvmon_read_errors_total", kDevice)), 2);
    EXPECT_EQ(page.samples.at(series("crvmon_temperature_celsius", kDevice)), 40);
    EXPECT_EQ(page.samples.count(series("crvmon_memory_total_bytes", kDevice)), 0u);
}

// Initialised again between scrapes, the collector follows the machine: a device that went away
// leaves no series behind, one that came is read.
TEST(ExporterCollector, ReinitialisationDropsVanishedDevicesAndFindsNewOnes) {
    auto first = std::make_unique<sim::PrivateSimulation>(sim::loadScenario(scenario(kMachine)));
    DeviceCollector::Settings settings;
    settings.threads = 2;
    settings.reinitInterval = std::chrono::milliseconds(1);
    DeviceCollector collector(settings);
    EXPECT_THAT(metricsText(collector.collect(metricsReadGroups())), HasSubstr(kCard));

    first.reset();
    const sim::PrivateSimulation second(sim::parseScenario(R"toml(
[[veltara]]
name = "other"
temperature_mc = 33_000
)toml"));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const Page page = parse(metricsText(collector.collect(metricsReadGroups())));
    EXPECT_EQ(page.samples.at("crvmon_devices"), 1);
    EXPECT_EQ(page.samples.at(series("crvmon_temperature_celsius", kDevice)), 33);
    for (const auto& [name, value] : page.samples) {
        EXPECT_EQ(name.find("orvek"), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace crvmon::exporter
