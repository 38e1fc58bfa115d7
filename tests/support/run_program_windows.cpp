#include <windows.h>

#include <fstream>
#include <sstream>

#include "tests/support/run_program.h"

namespace crvmon::testing {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    std::string out;
    for (const char c : text.str()) {
        if (c != '\r') out += c;
    }
    return out;
}

// The quoting CommandLineToArgvW undoes, for arguments without quotes or trailing backslashes.
std::string commandLine(const std::string& program, const std::vector<std::string>& arguments) {
    std::string line = '"' + program + '"';
    for (const std::string& a : arguments) {
        line += ' ';
        line += a.find_first_of(" \t") == std::string::npos && !a.empty() ? a : '"' + a + '"';
    }
    return line;
}

HANDLE inheritableFile(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    char outPath[MAX_PATH];
    char errPath[MAX_PATH];
    GetTempFileNameA(folder, "out", 0, outPath);
    GetTempFileNameA(folder, "err", 0, errPath);

    HANDLE in = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string line = commandLine(program, arguments);

    ProgramRun run;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) run.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    DeleteFileA(outPath);
    DeleteFileA(errPath);
    return run;
}

}  // namespace crvmon::testing
