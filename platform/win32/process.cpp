// Starting the game and the updater with CreateProcessW, from the current
// directory only (never the search path), inheriting no handle; running a
// program for its output under a time limit.
#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/files.h"
#include "platform/win32/wide_text.h"

namespace launcher {

namespace {

bool EndsWithExe(const std::string& name) {
    return name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0;
}

std::string ResolveProgram(const std::string& name) {
    const bool bare = name.find_first_of("/\\") == std::string::npos;
    const std::string path = bare ? ".\\" + name : name;
    if (PathExists(path)) return path;
    if (!EndsWithExe(path) && PathExists(path + ".exe")) return path + ".exe";
    return {};
}

// Arguments go onto the command line as ShellExecute's parameter text would:
// as they are (the game's text keeps its line feed), quoted by the C runtime's
// rules only when they hold a blank or a quote.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t ch : argument) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(ch == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += ch;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

}  // namespace

bool StartProgram(const std::string& name, const std::vector<std::string>& arguments) {
    const std::string path = ResolveProgram(name);
    if (path.empty()) return false;
    const std::wstring program = win32::WidePath(path);
    std::wstring line = L"\"" + program + L"\"";
    for (const std::string& argument : arguments) AppendArgument(line, win32::Wide(argument));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // A console program started from the window (UpDateLauncher.exe) would
    // open a console window of its own: it runs without one. Started from a
    // console, it shares that console. No effect on a window program.
    const DWORD flags = ::GetConsoleWindow() ? 0 : CREATE_NO_WINDOW;
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          nullptr, &startup, &started)) {
        return false;
    }
    // The launcher does not wait for what it started.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

namespace {

constexpr std::size_t kMostOutput = 64 * 1024;

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    explicit Handle(HANDLE h) : value(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void Reset() {
        if (value) ::CloseHandle(value);
        value = nullptr;
    }
};

}  // namespace

ProgramRun RunProgramCapturingOutput(const std::string& path,
                                     const std::vector<std::string>& arguments,
                                     unsigned timeoutMs) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return run;
    Handle outputRead(readEnd);
    Handle outputWrite(writeEnd);
    ::SetHandleInformation(outputRead.value, HANDLE_FLAG_INHERIT, 0);
    Handle nothing(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                                 nullptr));
    if (!nothing.value) return run;

    // Only these three handles go to the program, whatever else is inheritable.
    HANDLE inherited[] = {nothing.value, outputWrite.value};
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &listSize)) return run;
    ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nothing.value;
    startup.StartupInfo.hStdOutput = outputWrite.value;
    startup.StartupInfo.hStdError = nothing.value;
    startup.lpAttributeList = attributes;

    // A job, so that whatever the program starts ends with it at the time-out.
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job.value || !::SetInformationJobObject(job.value, JobObjectExtendedLimitInformation,
                                                 &limits, sizeof limits)) {
        ::DeleteProcThreadAttributeList(attributes);
        return run;
    }

    const std::wstring program = win32::WidePath(path);
    std::wstring line = L"\"" + program + L"\"";
    for (const std::string& argument : arguments) AppendArgument(line, win32::Wide(argument));
    PROCESS_INFORMATION started{};
    const BOOL created =
        ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                         CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT,
                         nullptr, nullptr, &startup.StartupInfo, &started);
    ::DeleteProcThreadAttributeList(attributes);
    if (!created) return run;
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    if (!::AssignProcessToJobObject(job.value, process.value)) {
        ::TerminateProcess(process.value, 1);
        return run;
    }
    run.started = true;
    outputWrite.Reset();  // the program's copy is the only writer left
    ::ResumeThread(thread.value);

    std::thread reader([&run, &outputRead] {
        char buffer[4096];
        DWORD got = 0;
        // Read to the end so that the program never blocks on a full pipe.
        while (::ReadFile(outputRead.value, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            const std::size_t room = kMostOutput - std::min(kMostOutput, run.output.size());
            run.output.append(buffer, std::min<std::size_t>(room, got));
        }
    });
    if (::WaitForSingleObject(process.value, timeoutMs) != WAIT_OBJECT_0) {
        run.timedOut = true;
        ::TerminateJobObject(job.value, 1);
        ::WaitForSingleObject(process.value, INFINITE);
    }
    // Ends the program's children too, and with them the last writers.
    ::TerminateJobObject(job.value, 1);
    reader.join();
    DWORD status = 0;
    if (!run.timedOut && ::GetExitCodeProcess(process.value, &status)) {
        run.exited = true;
        run.exitStatus = static_cast<int>(status);
    }
    return run;
}

bool LooksLikeProgram(const std::string& path) {
    File file;
    char head[2] = {};
    return file.Open(path, File::Mode::kRead) && file.ReadExact(head, sizeof head) &&
           head[0] == 'M' && head[1] == 'Z';
}

std::string CurrentProgramPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (n == 0) return {};
        if (n < size) {
            buffer.resize(n);
            return win32::Utf8(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace launcher
