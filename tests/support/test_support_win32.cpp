// The Windows side of the test helpers: a stream whose text can be read
// back (a temporary file that the system deletes when it is closed).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <stdexcept>
#include <string>

#include "platform/interruption.h"
#include "platform/win32_support.h"
#include "support/test_support.h"

namespace fwtest {

CapturedOutput::CapturedOutput() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (::GetTempPathW(MAX_PATH + 1, folder) == 0 || ::GetTempFileNameW(folder, L"fwt", 0, name) == 0)
        throw std::runtime_error("no temporary file for captured output");
    // Binary, as the Linux memory stream: the bytes come back as written.
    stream_ = ::_wfopen(name, L"w+bD");
}

CapturedOutput::~CapturedOutput() {
    if (stream_ != nullptr) std::fclose(stream_);
}

std::string CapturedOutput::text() {
    std::fflush(stream_);
    const long end = std::ftell(stream_);
    std::string text(static_cast<std::size_t>(end > 0 ? end : 0), '\0');
    std::fseek(stream_, 0, SEEK_SET);
    const std::size_t n = std::fread(text.data(), 1, text.size(), stream_);
    std::fseek(stream_, 0, SEEK_END);
    text.resize(n);
    return text;
}

namespace {

std::string besideTheTests(const std::string& exe) {
    char self[MAX_PATH + 1];
    const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH + 1);
    std::string path(self, n);
    return path.substr(0, path.find_last_of("\\/") + 1) + exe;
}

// Windows' own quoting rules for one argument of a command line.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    return fw::win32::argvQuoted(arg);
}

}  // namespace

int runWindowsTool(const std::string& exe, const std::vector<std::string>& args, const std::string& outputFile,
                   const std::function<bool(void*)>& whileRunning, const ToolStart& how) {
    const std::string program = exe.find_first_of("\\/") == std::string::npos ? besideTheTests(exe) : exe;
    std::string line = quoted(program);
    for (const std::string& a : args) line += " " + quoted(a);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE out = ::CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return -1;
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = out;
    start.hStdError = out;
    HANDLE pipeWriter = nullptr;
    if (how.output == ToolStart::Output::none) start.hStdOutput = nullptr;
    if (how.output == ToolStart::Output::pipeNobodyReads) {
        HANDLE reader = nullptr;
        if (!::CreatePipe(&reader, &pipeWriter, &inherit, 0)) return -1;
        ::CloseHandle(reader);
        start.hStdOutput = pipeWriter;
    }
    PROCESS_INFORMATION child{};
    // The UTF-16 of the UTF-8 arguments, as a user's shell hands them over.
    std::wstring wideLine = fw::win32::wide(line);
    const std::wstring folder = fw::win32::wide(how.workingFolder);
    const BOOL started =
        ::CreateProcessW(fw::win32::wide(program).c_str(), wideLine.data(), nullptr, nullptr, TRUE, how.creationFlags,
                         nullptr, folder.empty() ? nullptr : folder.c_str(), &start, &child);
    ::CloseHandle(out);
    if (pipeWriter != nullptr) ::CloseHandle(pipeWriter);
    if (!started) return -1;
    ::CloseHandle(child.hThread);
    if (whileRunning)
        while (::WaitForSingleObject(child.hProcess, 1) == WAIT_TIMEOUT && whileRunning(child.hProcess)) {}
    ::WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(child.hProcess, &code);
    ::CloseHandle(child.hProcess);
    return static_cast<int>(code);
}

struct ProcessState::Saved {
    std::wstring folder;
    std::map<std::wstring, std::wstring> environment;
};

namespace {

// Variables by name; those of the hidden "=C:" kind, the command shell's
// folders per drive, are the system's own.
std::map<std::wstring, std::wstring> environmentNow() {
    std::map<std::wstring, std::wstring> variables;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* v = block; v != nullptr && *v != L'\0'; v += std::wcslen(v) + 1) {
        const std::wstring text = v;
        const std::size_t equals = text.find(L'=', 1);
        if (text[0] != L'=' && equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    ::FreeEnvironmentStringsW(block);
    return variables;
}

}  // namespace

// Ctrl-C and Ctrl-Break reach a child as the console sends them.
void takeDefaultSignals() {}

ProcessState::ProcessState() : saved_(std::make_unique<Saved>()) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, folder);
    if (n > 0 && n <= MAX_PATH) saved_->folder.assign(folder, n);
    saved_->environment = environmentNow();
}

// Through the C runtime, whose copy of the environment getenv reads, so
// both copies agree again.
ProcessState::~ProcessState() {
    fw::forgetRunState();
    if (!saved_->folder.empty()) ::SetCurrentDirectoryW(saved_->folder.c_str());
    const std::map<std::wstring, std::wstring> now = environmentNow();
    for (const auto& [name, value] : now)
        if (saved_->environment.count(name) == 0) ::_wputenv_s(name.c_str(), L"");
    for (const auto& [name, value] : saved_->environment) {
        const auto there = now.find(name);
        if (there == now.end() || there->second != value) ::_wputenv_s(name.c_str(), value.c_str());
    }
}

}  // namespace fwtest
