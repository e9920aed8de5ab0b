// The run's log: launcher.log in the installation directory, appended to by
// every run so that a failure can be told after the window has closed. Kept
// small by rotating once to launcher.log.1.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/files.h"

namespace launcher {

inline constexpr const char* kRunLogName = "launcher.log";
// Above this size the log becomes launcher.log.1 (replacing an older one).
inline constexpr long long kRunLogRotateBytes = 1024 * 1024;

class RunLog {
public:
    // Opens `path` for appending, created 0600 and never through a link.
    // False when it cannot be opened: the run goes on without a log.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_file.IsOpen(); }
    const std::string& Path() const { return m_path; }
    // One line, prefixed with the UTC time; safe from any thread.
    void Line(const std::string& text);

private:
    std::mutex m_mutex;
    File m_file;
    std::string m_path;
};

// Writes a line to the current run's log, if it has one.
void LogLine(const std::string& text);
// Path of the current run's log; empty when there is none.
std::string RunLogPath();

// "12.3 MiB", "512 B": one unit family (B, KiB, MiB, GiB) for every figure.
std::string ByteCount(std::uint64_t bytes);

}  // namespace launcher
