// The window's benchmark mode, for bench/download_bench.sh only. With
// LAUNCHER_BENCH_REPORT=FILE in the environment the main dialog notes every
// WM_DOWNLOAD_PROGRESS it handles and how long its event loop went without
// turning; once the update worker has ended it writes FILE and closes. Without
// the variable none of this exists and the window behaves as always.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace launcher::ui {

inline constexpr const char* kBenchReportVariable = "LAUNCHER_BENCH_REPORT";

// The progress messages as the window handled them, one record per file.
// Seconds come from the caller, so that tests need no clock.
class DownloadLog {
public:
    struct File {
        std::uint32_t announced = 0;
        std::uint32_t first = 0;  // L of the first message handled
        std::uint32_t last = 0;   // L of the latest one
        double start = 0;         // seconds of the first and the latest message
        double end = 0;
        std::uint64_t handled = 0;
        std::uint64_t backwards = 0;  // messages with a smaller L than the one before
        bool completed = false;       // L == T was handled

        std::uint32_t Bytes() const { return last > first ? last - first : 0; }
        // MiB/s from the first message to the latest; 0 when no time passed.
        double Rate() const;
    };

    void OnProgress(std::uint32_t present, std::uint32_t announced, double seconds);
    const std::vector<File>& Files() const { return m_files; }
    bool Downloading() const { return !m_files.empty() && !m_files.back().completed; }

private:
    std::vector<File> m_files;
};

// Gaps between the turns of the event loop, seen as the ticks of a short timer.
class StallMeter {
public:
    // `downloading`: a file was under way when this tick came.
    void Tick(double seconds, bool downloading);
    std::uint64_t Ticks() const { return m_ticks; }
    // The longest time between two ticks, in seconds; 0 before the second tick.
    double LongestGap() const { return m_longest; }
    // Seconds of the tick that ended the longest gap.
    double LongestGapEnd() const { return m_longestEnd; }
    // The same for the gaps that ended while a file was under way.
    double LongestDownloadGap() const { return m_longestDownloading; }

private:
    std::uint64_t m_ticks = 0;
    double m_previous = 0;
    double m_longest = 0;
    double m_longestEnd = 0;
    double m_longestDownloading = 0;
};

// The report's text: one "result" line, one "event-loop" line, a "file" line
// per file in the order they started. Times are seconds since the window's
// benchmark mode began.
std::string FormatBenchReport(const DownloadLog& log, const StallMeter& stalls, int intervalMs,
                              bool upToDate);

class BenchReport final : public QObject {
public:
    static constexpr int kTickMs = 5;

    struct Hooks {
        std::function<bool()> workerEnded;
        std::function<bool()> upToDate;
        std::function<void()> close;  // called once, after the report is written
    };

    // Null unless the variable names a file.
    static std::unique_ptr<BenchReport> FromEnvironment(Hooks hooks);

    BenchReport(std::string path, Hooks hooks);

    // Interface thread: a WM_DOWNLOAD_PROGRESS the window handled.
    void OnProgress(std::uint32_t present, std::uint32_t announced);
    bool Written() const { return m_written; }

private:
    double Now() const;
    void OnTick();
    bool Write() const;

    std::string m_path;
    Hooks m_hooks;
    std::chrono::steady_clock::time_point m_origin = std::chrono::steady_clock::now();
    QTimer m_timer;
    DownloadLog m_log;
    StallMeter m_stalls;
    bool m_written = false;
};

}  // namespace launcher::ui
