#include <winsock2.h>
#include <ws2tcpip.h>

#include "tools/exporter/listen_socket.h"

namespace crvmon::exporter {

namespace {

std::string socketMessage(int error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(error);
    if (length > 0 && text != nullptr) {
        std::string words(text, length);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' ||
                                  words.back() == ' ' || words.back() == '.')) {
            words.pop_back();
        }
        if (!words.empty()) message += ": " + words;
    }
    if (text != nullptr) LocalFree(text);
    return message;
}

}  // namespace

void exclusiveSocketOptions(socket_t socket) {
    const BOOL yes = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
}

BindFailure whyBindFails(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) {
        return {false, socketMessage(resolved)};
    }
    BindFailure failure;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const SOCKET socket =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == INVALID_SOCKET) {
            failure = {false, socketMessage(WSAGetLastError())};
            continue;
        }
        exclusiveSocketOptions(socket);
        const bool bound =
            bind(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0;
        const int error = WSAGetLastError();
        closesocket(socket);
        if (bound) {
            failure = {};
            break;
        }
        // WSAEACCES: an exclusive socket holds the port on another address (0.0.0.0 beside
        // 127.0.0.1), or the system reserved it.
        failure = {error == WSAEADDRINUSE || error == WSAEACCES, socketMessage(error)};
    }
    freeaddrinfo(found);
    return failure;
}

}  // namespace crvmon::exporter
