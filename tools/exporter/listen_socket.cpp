#include "tools/exporter/listen_socket.h"

namespace crvmon::exporter {

bool bindExclusively(httplib::Server& server, const std::string& host, int port, std::string& why) {
    server.set_socket_options(exclusiveSocketOptions);
    if (server.bind_to_port(host.c_str(), port)) return true;
    // cpp-httplib keeps the system's error to itself: a bind of our own asks again.
    const BindFailure failure = whyBindFails(host, port);
    const std::string portText = std::to_string(port);
    if (failure.portTaken) {
        why = "port " + portText +
              " is taken: another program (another crvmon-exporter?) listens on it";
    } else if (!failure.text.empty()) {
        why = failure.text;
    } else {
        why = "the address or port " + portText + " could not be bound";
    }
    return false;
}

}  // namespace crvmon::exporter
