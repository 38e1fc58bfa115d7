#include "tools/exporter/http_routes.h"

#include <set>
#include <string>

#include "tools/common/device_json.h"
#include "tools/common/field_catalogue.h"
#include "tools/exporter/live_page.h"
#include "tools/exporter/metrics_text.h"

namespace crvmon::exporter {

namespace {

const std::set<std::string> kPaths{"/", "/metrics", "/api/v1/devices", "/healthz"};

void methodNotAllowed(const httplib::Request& request, httplib::Response& response) {
    if (kPaths.count(request.path) == 0) {
        response.status = 404;
        response.set_content("not found\n", "text/plain");
        return;
    }
    response.status = 405;
    response.set_header("Allow", "GET, HEAD");
    response.set_content("method not allowed: use GET\n", "text/plain");
}

}  // namespace

std::string devicesJson(const Scrape& scrape) {
    static const std::vector<const tools::Field*> kAllFields = tools::parseFieldList("all");
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const tools::DeviceSample& sample : scrape.devices) {
        list.push_back(tools::deviceJson(sample, kAllFields));
    }
    return list.dump() + '\n';
}

void addRoutes(httplib::Server& server, DeviceCollector& collector) {
    // A request sent on a kept-alive connection right after the last answer would otherwise
    // wait for the delayed acknowledgement of that answer, about 40 ms.
    server.set_tcp_nodelay(true);
    server.Get("/metrics", [&collector](const httplib::Request&, httplib::Response& response) {
        response.set_content(metricsText(collector.collect(metricsReadGroups())),
                             kMetricsContentType);
    });
    server.Get("/api/v1/devices",
               [&collector](const httplib::Request&, httplib::Response& response) {
                   response.set_header("Cache-Control", "no-store");
                   response.set_content(devicesJson(collector.collect(tools::kReadEverything)),
                                        "application/json");
               });
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok\n", "text/plain");
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        const std::string_view page = livePageHtml();
        response.set_content(page.data(), page.size(), "text/html; charset=utf-8");
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
