// The program's own VERSIONINFO resource, read back with GetFileVersionInfoW
// as the launcher always has.
#include "platform/program_version_info.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace launcher {

std::optional<ProgramVersionInfo> ReadProgramVersionInfo() {
    std::wstring program(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, program.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    program.resize(length);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(program.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> data(size);
    if (!::GetFileVersionInfoW(program.c_str(), 0, size, data.data())) return std::nullopt;

    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* value = nullptr;
    UINT bytes = 0;
    ProgramVersionInfo block;
    if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &bytes)) {
        const auto* translations = static_cast<const Translation*>(value);
        for (UINT i = 0; i < bytes / sizeof(Translation); ++i) {
            block.translations.push_back({translations[i].language, translations[i].codePage});
        }
    }
    for (const auto& [language, codePage] : block.translations) {
        wchar_t prefix[32];
        ::wsprintfW(prefix, L"\\StringFileInfo\\%04x%04x\\", language, codePage);
        for (const wchar_t* name : {L"FileDescription", L"FileVersion", L"ProductVersion",
                                    L"InternalName", L"OriginalFilename", L"ProductName"}) {
            const std::wstring subBlock = std::wstring(prefix) + name;
            if (::VerQueryValueW(data.data(), subBlock.c_str(), &value, &bytes) && bytes > 0) {
                // The count includes the terminating zero.
                const std::wstring_view text(static_cast<const wchar_t*>(value), bytes - 1);
                block.strings[win32::Utf8(subBlock)] = win32::Utf8(text);
            }
        }
    }
    return block;
}

}  // namespace launcher
