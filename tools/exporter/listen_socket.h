// The exporter's listening socket: one exporter per port. cpp-httplib's own socket options let a
// second process bind a port the first listens on (SO_REUSEPORT on Linux; on Windows they ask
// for SO_REUSEADDR, which the system then keeps when SO_EXCLUSIVEADDRUSE is refused beside it),
// so two exporters would share the scrapes.
#pragma once

#include <httplib.h>

#include <string>

namespace crvmon::exporter {

// Binds `server` to HOST:PORT with the options below and listens. On failure `why` says why; a
// port another program holds is named as such.
bool bindExclusively(httplib::Server& server, const std::string& host, int port, std::string& why);

// Windows: SO_EXCLUSIVEADDRUSE alone. Elsewhere: SO_REUSEADDR alone, so that a restarted
// exporter binds while the last one's connections linger, and a second listener is refused.
void exclusiveSocketOptions(socket_t socket);

struct BindFailure {
    bool portTaken = false;  // another socket holds the address and port
    std::string text;        // the system's words, empty when a bind now succeeds
};

// Binds a socket of its own with the same options, to learn why the server's bind failed.
BindFailure whyBindFails(const std::string& host, int port);

}  // namespace crvmon::exporter
