// A WinHTTP session that goes the way the player's browser goes, not the way
// the machine-wide netsh setting says.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

namespace launcher::winhttp {

// The system's automatic proxy where it has one (Windows 8.1 on), else the
// Internet Options proxy and its bypass list, else none. Null on failure.
HINTERNET OpenSessionWithUserProxy(const std::wstring& userAgent);

}  // namespace launcher::winhttp
