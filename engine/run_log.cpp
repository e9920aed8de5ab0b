#include "engine/run_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "engine/my_fun.h"

namespace launcher {

namespace {

std::string UtcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &parts);
    return text;
}

}  // namespace

bool RunLog::Open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_path = path;
    if (FileSize(path) > kRunLogRotateBytes) RenameFileOver(path, path + ".1");
    return m_file.Open(path, File::Mode::kAppendPrivate);
}

void RunLog::Line(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (!m_file.IsOpen()) return;
    const std::string line = UtcNow() + "  " + text + "\n";
    m_file.WriteAll(line.data(), line.size());
}

void LogLine(const std::string& text) {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    if (env && env->log) env->log->Line(text);
}

std::string RunLogPath() {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    return env && env->log && env->log->IsOpen() ? env->log->Path() : std::string();
}

std::string ByteCount(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 2) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

}  // namespace launcher
