#include "sim/orvek/kernel_driver_service.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace crvmon::sim {
namespace {

class ServiceHandle {
  public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    SC_HANDLE handle_;
};

[[noreturn]] void fail(const char* step) {
    throw std::runtime_error(std::string("simulated Orvek driver: ") + step + " failed (error " +
                             std::to_string(GetLastError()) + ")");
}

// A loaded machine can take seconds to unload a driver; these bounds only keep a driver that
// never unloads from hanging the caller.
constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr int kPolls = 1500;  // 30 s

// Stops the service (its driver's unload routine runs) and waits until it says so, also when
// an earlier stop is still under way (the control is then refused, and the wait is all).
void stopService(SC_HANDLE service) {
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int wait = 0; wait < kPolls; ++wait) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) {
            return;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

// Stops and deletes the service, and waits until it is gone, so that the next simulation loads
// its driver into a machine where none is left (two loaded at once fail on the device names).
void removeService(SC_HANDLE manager, const std::wstring& name) {
    {
        ServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
        if (!service) return;
        stopService(service.get());
        DeleteService(service.get());
    }
    for (int wait = 0; wait < kPolls; ++wait) {
        ServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS));
        if (!service) return;
        std::this_thread::sleep_for(kPoll);
    }
}

}  // namespace

KernelDriverService::KernelDriverService(const std::wstring& serviceName,
                                         const std::wstring& imagePath)
    : name_(serviceName) {
    if (GetFileAttributesW(imagePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        fail("finding the driver image");
    }
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) fail("OpenSCManager");
    removeService(manager.get(), name_);
    ServiceHandle service(
        CreateServiceW(manager.get(), name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) fail("CreateService");
    // ERROR_INTERNAL_ERROR: the process that loads drivers ended before it started, as Wine
    // now and then loses a new process at its start; starting again starts a new one.
    constexpr int kStarts = 3;
    bool started = false;
    for (int start = 0; start < kStarts && !started; ++start) {
        started = StartServiceW(service.get(), 0, nullptr) != FALSE;
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    if (!started) {
        const DWORD error = GetLastError();
        DeleteService(service.get());
        SetLastError(error);
        fail("StartService");
    }
}

KernelDriverService::~KernelDriverService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager) removeService(manager.get(), name_);
}

std::wstring KernelDriverService::orvekDriverImage() {
    wchar_t buffer[MAX_PATH];
    const DWORD fromEnvironment = GetEnvironmentVariableW(L"CRVMON_ORVEK_DRIVER", buffer, MAX_PATH);
    if (fromEnvironment > 0 && fromEnvironment < MAX_PATH) return buffer;

    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) fail("GetModuleFileName");
    std::wstring path(buffer, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"crvmon_orvek_sim.sys";
}

}  // namespace crvmon::sim
