#include "lib/veltara/client/veltara_client.h"

#include <new>
#include <vector>

#include "lib/veltara/client/client_log.h"
#include "lib/veltara/client/pipe_transport.h"
#include "lib/veltara/client/veltara_wire.h"

namespace crvmon {

using veltara::connect_pipe;

namespace {

// Every instance is read in message mode, those that fill the pool and those opened later: in
// byte mode a reply longer than its command's would leave its rest in the pipe, to be read as the
// reply to the next command on that instance.
HANDLE freshInstance(const std::wstring& pipeName) {
    HANDLE pipe = connect_pipe(pipeName);
    if (pipe != INVALID_HANDLE_VALUE) veltara::setMessageReadMode(pipe);
    return pipe;
}

}  // namespace

VeltaraClient::VeltaraClient(const std::string& name, int pipeCount)
    : name_(name),
      pipeName_(veltara::wire::devicePipeName(name)),
      sharedMemName_(veltara::wire::sectionName(name)) {
    // Not yet shared with another thread: no lock needed while filling the pool.
    for (int i = 0; i < pipeCount; ++i) {
        HANDLE pipe = freshInstance(pipeName_);
        if (pipe == INVALID_HANDLE_VALUE) break;
        idlePipes_.push_back(pipe);
    }

    HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, sharedMemName_.c_str());
    if (section == nullptr) {
        CRVMON_CLIENT_LOG("VeltaraClient::VeltaraClient",
                          "Client OpenFileMapping Failed (%d). Name: %s",
                          static_cast<int>(GetLastError()), sharedMemName_.c_str());
        return;
    }
    view_ = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    // The view keeps the section alive.
    const DWORD mapError = GetLastError();
    CloseHandle(section);
    if (view_ == nullptr) {
        CRVMON_CLIENT_LOG("VeltaraClient::VeltaraClient", "MapViewOfFile Failed (%d)",
                          static_cast<int>(mapError));
    }
}

VeltaraClient::~VeltaraClient() {
    std::lock_guard<std::mutex> lock(poolMutex_);
    while (!idlePipes_.empty()) {
        HANDLE pipe = idlePipes_.front();
        idlePipes_.pop_front();
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    }
    if (view_ != nullptr) {
        UnmapViewOfFile(view_);
        view_ = nullptr;
    }
}

std::size_t VeltaraClient::idlePipeCount() {
    std::lock_guard<std::mutex> lock(poolMutex_);
    return idlePipes_.size();
}

PipeLease::PipeLease(VeltaraClient& client) : client_(client) {
    {
        std::lock_guard<std::mutex> lock(client_.poolMutex_);
        if (!client_.idlePipes_.empty()) {
            handle_ = client_.idlePipes_.front();
            client_.idlePipes_.pop_front();
        }
    }
    // An empty pool grows by a fresh connection, made outside the lock.
    if (handle_ == INVALID_HANDLE_VALUE) handle_ = freshInstance(client_.pipeName_);
}

PipeLease::~PipeLease() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    std::lock_guard<std::mutex> lock(client_.poolMutex_);
    client_.idlePipes_.push_back(handle_);
}

void PipeLease::replace() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = freshInstance(client_.pipeName_);
}

namespace veltara {

namespace {
constexpr int kPoolSize = 32;
}

VeltaraClient* veltara_open(std::int32_t devNo) {
    std::vector<veltara_device_entry> devices(wire::device_list::kMaxEntries);
    const std::int32_t listed =
        veltara_list_devices(devices.data(), static_cast<std::int32_t>(devices.size()));
    if (listed <= 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }

    std::string name;
    bool found = false;
    for (std::int32_t i = 0; i < listed && !found; ++i) {
        if (devices[static_cast<std::size_t>(i)].dev_no == devNo) {
            name = devices[static_cast<std::size_t>(i)].name;  // entries are NUL-terminated
            found = true;
        }
    }
    if (!found || name.empty()) {
        CRVMON_CLIENT_LOG("veltara_open", "dev_no %d not found (%d device(s) connected)",
                          static_cast<int>(devNo), static_cast<int>(listed));
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }

    auto* client = new (std::nothrow) VeltaraClient(name, kPoolSize);
    if (client == nullptr) {
        CRVMON_CLIENT_LOG("veltara_open", "Failed to allocate VeltaraClient!");
        return nullptr;
    }
    if (client->idlePipeCount() == 0) {
        delete client;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return client;
}

std::int32_t veltara_close(VeltaraClient* client) {
    if (client == nullptr) return kCloseNullClient;
    delete client;
    return 0;
}

}  // namespace veltara
}  // namespace crvmon
