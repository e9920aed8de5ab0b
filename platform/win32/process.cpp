// Starting the game and the updater with CreateProcessW, from the current
// directory only (never the search path), inheriting no handle.
#include <windows.h>

#include "platform/files.h"
#include "platform/process.h"
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
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started)) {
        return false;
    }
    // The launcher does not wait for what it started.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
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
