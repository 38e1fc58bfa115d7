#include "tools/exporter/http_routes.h"

#include <chrono>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/device_id.h"
#include "tools/common/device_json.h"
#include "tools/common/field_catalogue.h"
#include "tools/exporter/live_page.h"
#include "tools/exporter/metrics_text.h"

namespace crvmon::exporter {

namespace {

const std::set<std::string> kPaths{"/", "/metrics", "/api/v1/devices", "/api/v1/history",
                                   "/healthz"};

constexpr const char* kOneDevice = "/api/v1/devices/";

void methodNotAllowed(const httplib::Request& request, httplib::Response& response) {
    if (kPaths.count(request.path) == 0 && request.path.rfind(kOneDevice, 0) != 0) {
        response.status = 404;
        response.set_content("not found\n", "text/plain");
        return;
    }
    response.status = 405;
    response.set_header("Allow", "GET, HEAD");
    response.set_content("method not allowed: use GET\n", "text/plain");
}

// This machine's name, so that a fleet's pages tell themselves apart; HTML-escaped.
std::string hostNameHtml() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this machine";
    std::string out;
    for (const char* c = name; *c != '\0'; ++c) {
        switch (*c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += *c;
        }
    }
    return out;
}

// The page with the host's name in its title and heading.
std::string pageFor(const std::string& host) {
    std::string page(livePageHtml());
    static constexpr std::string_view kHost = "{{host}}";
    for (auto at = page.find(kHost); at != std::string::npos; at = page.find(kHost, at)) {
        page.replace(at, kHost.size(), host);
        at += host.size();
    }
    return page;
}

std::vector<tools::DeviceFacts> factsOf(const Scrape& scrape) {
    std::vector<tools::DeviceFacts> facts;
    for (const tools::DeviceSample& s : scrape.devices) facts.push_back({s.id, s.node, s.pcieSlot});
    return facts;
}

const std::vector<const tools::Field*>& allFields() {
    static const std::vector<const tools::Field*> fields = tools::parseFieldList("all");
    return fields;
}

void answerJson(httplib::Response& response, const nlohmann::ordered_json& body) {
    response.set_header("Cache-Control", "no-store");
    response.set_content(body.dump() + '\n', "application/json");
}

// 404 with what --id would say: why the text names no device here.
void noSuchDevice(httplib::Response& response, const std::string& why) {
    response.status = 404;
    answerJson(response, {{"error", why}});
}

// The sample a device text names (as --id takes it), or nullptr with the answer given.
const tools::DeviceSample* chosen(const Scrape& scrape, const std::string& text,
                                  httplib::Response& response) {
    const tools::DeviceMatch match = tools::findDevice(text, factsOf(scrape));
    for (const tools::DeviceSample& s : scrape.devices) {
        if (match.id && s.id == *match.id) return &s;
    }
    noSuchDevice(response, match.error);
    return nullptr;
}

}  // namespace

std::string devicesJson(const Scrape& scrape) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const tools::DeviceSample& sample : scrape.devices) {
        list.push_back(tools::deviceJson(sample, allFields()));
    }
    return list.dump() + '\n';
}

void addRoutes(httplib::Server& server, DeviceCollector& collector, const DeviceHistory& history) {
    // A request sent on a kept-alive connection right after the last answer would otherwise
    // wait for the delayed acknowledgement of that answer, about 40 ms.
    server.set_tcp_nodelay(true);
    server.Get("/metrics", [&collector](const httplib::Request&, httplib::Response& response) {
        response.set_content(metricsText(collector.collect(metricsReadGroups())),
                             kMetricsContentType);
    });
    // Every device, or those ?id= names (repeatable, in the order given), by the ids --id takes.
    server.Get("/api/v1/devices", [&collector](const httplib::Request& request,
                                               httplib::Response& response) {
        const Scrape scrape = collector.collect(tools::kReadEverything);
        const std::size_t ids = request.get_param_value_count("id");
        if (ids == 0) {
            response.set_header("Cache-Control", "no-store");
            response.set_content(devicesJson(scrape), "application/json");
            return;
        }
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < ids; ++i) {
            const auto* sample = chosen(scrape, request.get_param_value("id", i), response);
            if (sample == nullptr) return;
            list.push_back(tools::deviceJson(*sample, allFields()));
        }
        answerJson(response, list);
    });
    // One device, as an object: /api/v1/devices/3:0, /api/v1/devices/0000:03:00.0, ...
    server.Get(R"(/api/v1/devices/(.+))",
               [&collector](const httplib::Request& request, httplib::Response& response) {
                   const Scrape scrape = collector.collect(tools::kReadEverything);
                   if (const auto* sample = chosen(scrape, request.matches[1].str(), response)) {
                       answerJson(response, tools::deviceJson(*sample, allFields()));
                   }
               });
    server.Get("/api/v1/history", [&history](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(history.json(std::chrono::system_clock::now()), "application/json");
    });
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok\n", "text/plain");
    });
    server.Get("/", [page = pageFor(hostNameHtml())](const httplib::Request&,
                                                     httplib::Response& response) {
        response.set_content(page, "text/html; charset=utf-8");
    });
    server.Post(".*", methodNotAllowed);
    server.Put(".*", methodNotAllowed);
    server.Delete(".*", methodNotAllowed);
    server.Patch(".*", methodNotAllowed);
    server.Options(".*", methodNotAllowed);
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            response.set_content(std::to_string(response.status) + "\n", "text/plain");
        }
    });
}

}  // namespace crvmon::exporter
