// The client's patch number, the server's version list and the launcher's own
// version, and the self-update decision.
#pragma once

#include <string>

namespace launcher {

inline constexpr const char* kClientVersionFile = "PRESENTVERSION.DAT";
inline constexpr const char* kServerVersionList = "SERVERVER.INI";
inline constexpr const char* kReplacementLauncher = "Launcher.exe_";

// 1 when the client version file was read (or created at patch 1); 0 with
// the reason in `why` when it can be neither.
int GetClientVersion(std::string* why = nullptr);
int GetServerVersion();
int ReadServerVersionList(std::string& first, std::string& second, const std::string& fileName);

// Trimmed, distinct, sorted entries of a version list text (blank lines are
// ignored).
struct ServerListEntries {
    std::string first;
    std::string second;
    int count = 0;
};
ServerListEntries ParseServerVersionList(const std::string& contents);

// The cuts the engine makes: the launcher version is the last 7 bytes of the
// first entry, the patch number the last 5 bytes of the second.
std::string LastBytes(const std::string& text, std::size_t count);
// atoi: leading white space, an optional sign, digits up to the first other byte.
int AtoiLike(const std::string& text);

// Writes the five digits of `number` (modulo 100000) to the client version file
// atomically.
bool WriteClientVersionFile(int number);

// Five digits with leading zeros ("%05d" for numbers below 100000).
std::string FiveDigits(int number);

}  // namespace launcher
