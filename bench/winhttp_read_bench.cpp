// Download rate of the launcher's WinHTTP client against a bare WinHTTP
// reader, one after the other on the same URL, each round.
//   winhttp_read_bench URL [ROUNDS]
// The bare reader asks for what is there in 64 KiB reads and keeps nothing;
// the launcher's client is read in 1 KiB blocks, as the fetcher reads it.
// Besides the rates it prints the CPU seconds of each download (all threads of
// the process, Wine's included), which vary far less on a shared machine.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/http.h"

namespace {

using Clock = std::chrono::steady_clock;

double MiBPerSecond(std::uint64_t bytes, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

// User and kernel seconds of this process so far.
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Figures {
    double rate = 0;  // MiB/s
    double cpu = 0;   // seconds
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The bare reader: one GET, WinHttpQueryDataAvailable and WinHttpReadData.
double BareReader(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return 0;
    HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : nullptr;
    HINTERNET request =
        connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                   : nullptr;
    std::uint64_t total = 0;
    const auto start = Clock::now();
    if (request &&
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        std::vector<char> block(64 * 1024);
        for (;;) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request, &available)) break;
            const DWORD wanted = available == 0
                                     ? static_cast<DWORD>(block.size())
                                     : std::min(available, static_cast<DWORD>(block.size()));
            DWORD delivered = 0;
            if (!WinHttpReadData(request, block.data(), wanted, &delivered) || delivered == 0)
                break;
            total += delivered;
        }
    }
    const auto elapsed = Clock::now() - start;
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    return MiBPerSecond(total, elapsed);
}

double LauncherClient(const std::string& url) {
    launcher::HttpSettings settings;
    auto session = launcher::OpenHttpSession(settings, nullptr);
    const auto start = Clock::now();
    auto request = session ? session->OpenUrl(url, 0) : nullptr;
    std::uint64_t total = 0;
    if (request && request->SetReadPosition(0)) {
        char block[1024];
        std::size_t delivered = 0;
        while (request->Read(block, sizeof block, delivered) && delivered > 0) total += delivered;
    }
    return MiBPerSecond(total, Clock::now() - start);
}

}  // namespace

template <class Reader>
Figures Measure(Reader reader) {
    const double cpu = CpuSeconds();
    const double rate = reader();
    return {rate, CpuSeconds() - cpu};
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: winhttp_read_bench URL [ROUNDS]\n");
        return 2;
    }
    const std::string url = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::wstring wide(url.begin(), url.end());  // an ASCII URL
    std::vector<double> bareRate, bareCpu, clientRate, clientCpu;
    for (int round = 0; round < rounds; ++round) {
        // The order alternates, so neither side always runs second.
        Figures bare, client;
        if (round % 2 == 0) {
            bare = Measure([&] { return BareReader(wide); });
            client = Measure([&] { return LauncherClient(url); });
        } else {
            client = Measure([&] { return LauncherClient(url); });
            bare = Measure([&] { return BareReader(wide); });
        }
        bareRate.push_back(bare.rate);
        bareCpu.push_back(bare.cpu);
        clientRate.push_back(client.rate);
        clientCpu.push_back(client.cpu);
        std::printf("round %d: bare WinHTTP %.1f MiB/s (%.2f CPU s), launcher client %.1f MiB/s "
                    "(%.2f CPU s)\n",
                    round + 1, bare.rate, bare.cpu, client.rate, client.cpu);
    }
    const double b = Median(bareRate);
    const double c = Median(clientRate);
    std::printf("median: bare WinHTTP %.1f MiB/s (%.2f CPU s), launcher client %.1f MiB/s "
                "(%.2f CPU s), ratio %.2f\n",
                b, Median(bareCpu), c, Median(clientCpu), b > 0 ? c / b : 0);
    return 0;
}
