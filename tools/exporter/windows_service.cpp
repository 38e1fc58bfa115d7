#include "tools/exporter/windows_service.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace crvmon::exporter {

namespace {

// Exit codes of --install-service and --uninstall-service, beside 0 (done) and 1 (any other
// failure, named with the system's error).
constexpr int kBadArgument = 2;
constexpr int kAccessDenied = 4;
constexpr int kWrongState = 5;  // already installed, not installed, or marked for deletion

constexpr wchar_t kServiceNameW[] = L"crvmon-exporter";
constexpr wchar_t kDisplayName[] = L"crvmon exporter";
constexpr wchar_t kDescription[] =
    L"Serves the Orvek and Veltara NPUs of this machine as Prometheus metrics (/metrics), JSON "
    L"(/api/v1/devices) and a live page (/).";

// How long the service manager is told a stop may take: the library shuts down and, under
// --simulate, the simulated driver unloads.
constexpr DWORD kStopWaitHintMs = 30'000;
// How long --uninstall-service waits for a running service to stop before removing it anyway.
constexpr auto kUninstallStopWait = std::chrono::seconds(60);

class ScHandle {
  public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    SC_HANDLE handle_;
};

std::string systemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
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

// Reports a failed service-manager call; returns the exit code that goes with it.
int failed(const char* what, DWORD error) {
    if (error == ERROR_ACCESS_DENIED) {
        std::fprintf(stderr,
                     "crvmon-exporter: %s: access denied; run it from an administrator "
                     "(elevated) prompt\n",
                     what);
        return kAccessDenied;
    }
    std::fprintf(stderr, "crvmon-exporter: %s: %s\n", what, systemMessage(error).c_str());
    return 1;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// One argument as the C runtime splits a command line back into argv: quoted when it holds
// blanks or quotes, with the backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// The service starts in the system folder, where a relative scenario path names nothing.
std::wstring absolutePath(const std::wstring& path) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) return path;
    full.resize(written);
    return full;
}

bool imageCommandLine(const std::vector<std::string>& arguments, std::wstring& commandLine) {
    std::wstring image(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, image.data(), static_cast<DWORD>(image.size()));
        if (length == 0) return false;
        if (length < image.size()) {
            image.resize(length);
            break;
        }
        image.resize(image.size() * 2);
    }
    commandLine = quoted(image);
    bool serviceFlag = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::wstring argument = widen(arguments[i]);
        if (arguments[i] == "--service") serviceFlag = true;
        if (arguments[i].rfind("--scenario=", 0) == 0) {
            argument = L"--scenario=" + absolutePath(argument.substr(11));
        } else if (i > 0 && arguments[i - 1] == "--scenario") {
            argument = absolutePath(argument);
        }
        commandLine += L' ' + quoted(argument);
    }
    if (!serviceFlag) commandLine += L" --service";
    return true;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

// Asks a running service to stop and waits for it; true once it is stopped.
bool stopAndWait(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    if (status.dwCurrentState != SERVICE_STOP_PENDING) {
        std::fprintf(stderr, "crvmon-exporter: stopping the running service\n");
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            const DWORD error = GetLastError();
            // It may have ended between the query and the request.
            if (error != ERROR_SERVICE_NOT_ACTIVE) {
                failed("stopping the service", error);
                return false;
            }
            return true;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + kUninstallStopWait;
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!QueryServiceStatus(service, &status)) return false;
    }
    return true;
}

// What ServiceMain and the control handler share: the service manager calls both with no
// context of the program's own beyond this.
struct RunningService {
    const std::function<int(StopSignal&)>* body = nullptr;
    StopSignal stop;
    std::mutex mutex;  // SetServiceStatus from the handler and from ServiceMain
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    bool stopped = false;
    int exitCode = 1;
};

RunningService* running = nullptr;

void report(RunningService& service, DWORD state, DWORD waitHint = 0, int exitCode = 0) {
    const std::lock_guard lock(service.mutex);
    // A stop request that races the body's own end must not move a stopped service back.
    if (service.stopped) return;
    SERVICE_STATUS& status = service.status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    status.dwWaitHint = waitHint;
    if (state == SERVICE_STOPPED) service.stopped = true;
    SetServiceStatus(service.handle, &status);
}

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID context) {
    auto& service = *static_cast<RunningService*>(context);
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            report(service, SERVICE_STOP_PENDING, kStopWaitHintMs);
            service.stop.requestStop();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    RunningService& service = *running;
    service.handle = RegisterServiceCtrlHandlerExW(kServiceNameW, controlHandler, &service);
    if (service.handle == nullptr) {
        failed("RegisterServiceCtrlHandlerEx", GetLastError());
        return;
    }
    report(service, SERVICE_RUNNING);
    int code = 1;
    try {
        code = (*service.body)(service.stop);
    } catch (const std::exception& e) {
        // Thrown through the service manager's thread it would end the process unreported.
        std::fprintf(stderr, "crvmon-exporter: %s\n", e.what());
    }
    service.exitCode = code;
    report(service, SERVICE_STOPPED, 0, code);
}

// A service has no console: the C runtime's standard descriptors are then not open, and the
// library and the exporter write to them. On NUL the writes go nowhere, and descriptor 1 can
// still be moved onto 2 while the library initialises.
void openMissingStandardDescriptors() {
    for (const int descriptor : {0, 1, 2}) {
        const intptr_t handle = _get_osfhandle(descriptor);
        if (handle != -1 && handle != -2 && handle != 0) continue;
        const int nul = _open("NUL", descriptor == 0 ? _O_RDONLY : _O_WRONLY);
        if (nul < 0 || nul == descriptor) continue;
        _dup2(nul, descriptor);
        _close(nul);
    }
}

}  // namespace

int installService(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--uninstall-service") {
            std::fprintf(stderr,
                         "crvmon-exporter: --install-service and --uninstall-service exclude "
                         "each other\n");
            return kBadArgument;
        }
    }
    std::wstring commandLine;
    if (!imageCommandLine(arguments, commandLine)) {
        return failed("finding this program's path", GetLastError());
    }

    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) return failed("opening the service manager", GetLastError());
    const ScHandle service(
        CreateServiceW(manager.get(), kServiceNameW, kDisplayName, SERVICE_CHANGE_CONFIG,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS || error == ERROR_DUPLICATE_SERVICE_NAME) {
            std::fprintf(stderr,
                         "crvmon-exporter: the service %s is already installed; remove it first "
                         "with --uninstall-service\n",
                         kServiceName);
            return kWrongState;
        }
        if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
            std::fprintf(stderr,
                         "crvmon-exporter: the service %s is still marked for deletion; it goes "
                         "once it has stopped and every program that has it open (the Services "
                         "console) lets it go\n",
                         kServiceName);
            return kWrongState;
        }
        return failed("installing the service", error);
    }

    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
        // The service works without it.
        std::fprintf(stderr, "crvmon-exporter: the service's description was not set: %s\n",
                     systemMessage(GetLastError()).c_str());
    }
    std::printf(
        "Installed the service %s, to run:\n  %s\n"
        "It starts on demand, not at boot: start it with `sc start %s` (or `net start %s`); "
        "`sc config %s start= auto` starts it at boot.\n",
        kServiceName, narrow(commandLine).c_str(), kServiceName, kServiceName, kServiceName);
    return 0;
}

int uninstallService() {
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed("opening the service manager", GetLastError());
    const ScHandle service(
        OpenServiceW(manager.get(), kServiceNameW, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            std::fprintf(stderr, "crvmon-exporter: the service %s is not installed\n",
                         kServiceName);
            return kWrongState;
        }
        return failed("opening the service", error);
    }
    const bool stopped = stopAndWait(service.get());
    if (!DeleteService(service.get())) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
            std::fprintf(stderr, "crvmon-exporter: the service %s is already marked for deletion\n",
                         kServiceName);
            return kWrongState;
        }
        return failed("removing the service", error);
    }
    if (!stopped) {
        std::fprintf(stderr,
                     "crvmon-exporter: the service %s did not stop; it is marked for deletion "
                     "and goes once it has stopped\n",
                     kServiceName);
        return 1;
    }
    std::printf("Removed the service %s.\n", kServiceName);
    return 0;
}

int runService(const std::function<int(StopSignal&)>& body) {
    openMissingStandardDescriptors();
    RunningService service;
    service.body = &body;
    running = &service;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceNameW), serviceMain},
                                    {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        running = nullptr;
        if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            std::fprintf(stderr,
                         "crvmon-exporter: --service is for the service manager, which did not "
                         "start this process: start the installed service with `sc start %s`, "
                         "or run without --service in a console\n",
                         kServiceName);
            return kBadArgument;
        }
        return failed("connecting to the service manager", error);
    }
    running = nullptr;
    return service.exitCode;
}

}  // namespace crvmon::exporter
