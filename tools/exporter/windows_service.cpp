#include "tools/exporter/windows_service.h"

#include <fcntl.h>
#include <io.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
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
// How long a stop is waited for, to the end of the service's process, before removing it anyway.
constexpr auto kStopWait = std::chrono::seconds(60);

// Where the event log looks for the source's messages: the program's own message table.
constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\crvmon-exporter";

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
std::wstring quotedArgument(const std::wstring& argument) {
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

bool programPath(std::wstring& image) {
    image.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, image.data(), static_cast<DWORD>(image.size()));
        if (length == 0) return false;
        if (length < image.size()) {
            image.resize(length);
            return true;
        }
        image.resize(image.size() * 2);
    }
}

bool imageCommandLine(const std::vector<std::string>& arguments, std::wstring& commandLine) {
    std::wstring image;
    if (!programPath(image)) return false;
    commandLine = quotedArgument(image);
    bool serviceFlag = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::wstring argument = widen(arguments[i]);
        if (arguments[i] == "--service") serviceFlag = true;
        if (arguments[i].rfind("--scenario=", 0) == 0) {
            argument = L"--scenario=" + absolutePath(argument.substr(11));
        } else if (i > 0 && arguments[i - 1] == "--scenario") {
            argument = absolutePath(argument);
        }
        commandLine += L' ' + quotedArgument(argument);
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

// Asks a running service to stop and waits until it is stopped and its process has ended, so
// that its files can be removed; true once it has.
bool stopAndWait(SC_HANDLE service) {
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    const auto query = [&] {
        return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                    reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
    };
    if (!query()) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    // The process outlives its report of SERVICE_STOPPED by a little: hold on to it first.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
    if (status.dwCurrentState != SERVICE_STOP_PENDING) {
        std::fprintf(stderr, "crvmon-exporter: stopping the running service\n");
        SERVICE_STATUS ignored{};
        if (!ControlService(service, SERVICE_CONTROL_STOP, &ignored)) {
            const DWORD error = GetLastError();
            // It may have ended, or begun to, between the query and the request.
            if (error != ERROR_SERVICE_NOT_ACTIVE && error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
                failed("stopping the service", error);
                if (process != nullptr) CloseHandle(process);
                return false;
            }
        }
    }
    bool stopped = false;
    while (std::chrono::steady_clock::now() < deadline && query()) {
        if (status.dwCurrentState == SERVICE_STOPPED) {
            stopped = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (stopped && process != nullptr) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        stopped =
            WaitForSingleObject(
                process, static_cast<DWORD>(std::max<long long>(left.count(), 0))) == WAIT_OBJECT_0;
    }
    if (process != nullptr) CloseHandle(process);
    return stopped;
}

// Sets the recovery of RecoveryActions, and counts an exit code other than 0 as a failure.
bool setRecovery(SC_HANDLE service, DWORD& error) {
    RecoveryActions recovery;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &recovery.config)) {
        error = GetLastError();
        return false;
    }
    SERVICE_FAILURE_ACTIONS_FLAG onErrorExit{TRUE};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorExit)) {
        // Wine knows no such level (error 124). The service still comes back after a crash.
        std::fprintf(stderr,
                     "crvmon-exporter: the service is restarted after a crash, but not after it "
                     "stops with an error: %s\n",
                     systemMessage(GetLastError()).c_str());
    }
    return true;
}

// The event source under the service's name, whose messages are the program's own (what the MSI
// writes too); false when it could not be written.
bool registerEventSource(const std::wstring& image) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    const bool written =
        RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(image.c_str()),
                       static_cast<DWORD>((image.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                       sizeof types) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// What ServiceMain and the control handler share: the service manager calls both with no
// context of the program's own beyond this.
struct RunningService {
    const std::function<int(StopSignal&)>* body = nullptr;
    ExporterLog* log = nullptr;
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

// The event log under the service's source, and the log file; both written by the log's sinks
// for as long as either holds this.
class ServiceRecord {
  public:
    ServiceRecord()
        : events_(RegisterEventSourceW(nullptr, kServiceNameW)),
          file_(serviceLogPath(), kServiceLogBytes) {
        std::error_code ignored;
        std::filesystem::create_directories(file_.path().parent_path(), ignored);
    }
    ~ServiceRecord() {
        if (events_ != nullptr) DeregisterEventSource(events_);
    }
    ServiceRecord(const ServiceRecord&) = delete;
    ServiceRecord& operator=(const ServiceRecord&) = delete;

    void event(Severity severity, const std::string& message) const {
        if (events_ == nullptr) return;
        const WORD type = severity == Severity::kError     ? EVENTLOG_ERROR_TYPE
                          : severity == Severity::kWarning ? EVENTLOG_WARNING_TYPE
                                                           : EVENTLOG_INFORMATION_TYPE;
        const std::wstring text = widen(message);
        const wchar_t* strings[] = {text.c_str()};
        ReportEventW(events_, type, 0, kEventId, nullptr, 1, 0, strings, nullptr);
    }

    void file(Severity severity, const std::string& message) {
        // Said once, where it can still be read, rather than at every line.
        if (!file_.write(severity, message) && !fileFailed_.exchange(true)) {
            event(Severity::kWarning, "the log file " + file_.path().string() +
                                          " cannot be written; the event log keeps the record");
        }
    }

  private:
    // exporter_events.mc's one message, "%1": the text as given.
    static constexpr DWORD kEventId = 1;

    HANDLE events_;
    BoundedLogFile file_;
    std::atomic<bool> fileFailed_{false};
};

void WINAPI serviceMain(DWORD, LPWSTR*) {
    RunningService& service = *running;
    auto record = std::make_shared<ServiceRecord>();
    service.log->addSink([record](Severity severity, const std::string& message) {
        record->file(severity, message);
        record->event(severity, message);
    });
    service.handle = RegisterServiceCtrlHandlerExW(kServiceNameW, controlHandler, &service);
    if (service.handle == nullptr) {
        service.log->write(Severity::kError,
                           "RegisterServiceCtrlHandlerEx: " + systemMessage(GetLastError()));
        return;
    }
    report(service, SERVICE_RUNNING);
    int code = 1;
    try {
        code = (*service.body)(service.stop);
    } catch (const std::exception& e) {
        // Thrown through the service manager's thread it would end the process unreported.
        service.log->write(Severity::kError, e.what());
    }
    if (code != 0) {
        service.log->write(Severity::kError,
                           "the service stops with exit code " + std::to_string(code));
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

RecoveryActions::RecoveryActions() {
    for (int i = 0; i < recovery::kRestarts; ++i) {
        actions[static_cast<std::size_t>(i)] = {
            SC_ACTION_RESTART,
            static_cast<DWORD>(std::chrono::milliseconds(recovery::kRestartDelay).count())};
    }
    actions.back() = {SC_ACTION_NONE, 0};  // and for every later failure
    config.dwResetPeriod = static_cast<DWORD>(recovery::kResetPeriod.count());
    config.cActions = static_cast<DWORD>(actions.size());
    config.lpsaActions = actions.data();
}

std::filesystem::path serviceLogPath() {
    std::filesystem::path folder = L"C:\\ProgramData";
    wchar_t* known = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known) == S_OK) folder = known;
    CoTaskMemFree(known);
    return folder / L"crvmon" / L"crvmon-exporter.log";
}

int installService(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--uninstall-service") {
            std::fprintf(stderr,
                         "crvmon-exporter: --install-service and --uninstall-service exclude "
                         "each other\n");
            return kBadArgument;
        }
    }
    std::wstring image;
    std::wstring commandLine;
    if (!programPath(image) || !imageCommandLine(arguments, commandLine)) {
        return failed("finding this program's path", GetLastError());
    }

    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) return failed("opening the service manager", GetLastError());
    // SERVICE_START: a restart among its failure actions needs it.
    const ScHandle service(CreateServiceW(
        manager.get(), kServiceNameW, kDisplayName, SERVICE_CHANGE_CONFIG | SERVICE_START,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr));
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
    if (!registerEventSource(image)) {
        std::fprintf(stderr,
                     "crvmon-exporter: the event source was not registered: the event log shows "
                     "the service's messages without their description\n");
    }
    DWORD error = 0;
    if (!setRecovery(service.get(), error)) {
        std::fprintf(stderr,
                     "crvmon-exporter: the service %s is installed, but not restarted after a "
                     "failure: %s\n",
                     kServiceName, systemMessage(error).c_str());
        return 1;
    }
    std::printf(
        "Installed the service %s, to run:\n  %s\n"
        "It starts at boot and again after a failure (%d times, %lld s later); start it now with "
        "`sc start %s`. It writes what it does to %s and to the Application event log.\n",
        kServiceName, narrow(commandLine).c_str(), recovery::kRestarts,
        static_cast<long long>(recovery::kRestartDelay.count()), kServiceName,
        serviceLogPath().string().c_str());
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
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
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

int configureService() {
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed("opening the service manager", GetLastError());
    const ScHandle service(
        OpenServiceW(manager.get(), kServiceNameW, SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            std::fprintf(stderr, "crvmon-exporter: the service %s is not installed\n",
                         kServiceName);
            return kWrongState;
        }
        return failed("opening the service", error);
    }
    DWORD error = 0;
    if (!setRecovery(service.get(), error)) return failed("setting the service's recovery", error);
    std::printf("The service %s starts again after a failure.\n", kServiceName);
    return 0;
}

int stopService() {
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed("opening the service manager", GetLastError());
    const ScHandle service(
        OpenServiceW(manager.get(), kServiceNameW, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = GetLastError();
        // Nothing runs that could hold the files.
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) return 0;
        return failed("opening the service", error);
    }
    if (!stopAndWait(service.get())) {
        std::fprintf(stderr, "crvmon-exporter: the service %s did not stop within %lld s\n",
                     kServiceName, static_cast<long long>(kStopWait.count()));
        return 1;
    }
    return 0;
}

int runService(ExporterLog& log, const std::function<int(StopSignal&)>& body) {
    openMissingStandardDescriptors();
    RunningService service;
    service.body = &body;
    service.log = &log;
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
