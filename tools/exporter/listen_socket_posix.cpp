#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "tools/exporter/listen_socket.h"

namespace crvmon::exporter {

void exclusiveSocketOptions(socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

BindFailure whyBindFails(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) {
        return {false, gai_strerror(resolved)};
    }
    BindFailure failure;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket < 0) {
            failure = {false, std::generic_category().message(errno)};
            continue;
        }
        exclusiveSocketOptions(socket);
        const bool bound = bind(socket, address->ai_addr, address->ai_addrlen) == 0;
        const int error = errno;
        close(socket);
        if (bound) {
            failure = {};
            break;
        }
        failure = {error == EADDRINUSE, std::generic_category().message(error)};
    }
    freeaddrinfo(found);
    return failure;
}

}  // namespace crvmon::exporter
