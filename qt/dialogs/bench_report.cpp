#include "qt/dialogs/bench_report.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdio>

namespace launcher::ui {

double DownloadLog::File::Rate() const {
    const double seconds = end - start;
    return seconds > 0 ? Bytes() / 1048576.0 / seconds : 0;
}

void DownloadLog::OnProgress(std::uint32_t present, std::uint32_t announced, double seconds) {
    // A new length, or anything after a completed file, is the next file.
    if (m_files.empty() || m_files.back().announced != announced || m_files.back().completed) {
        File file;
        file.announced = announced;
        file.first = file.last = present;
        file.start = file.end = seconds;
        file.handled = 1;
        file.completed = present == announced;
        m_files.push_back(file);
        return;
    }
    File& file = m_files.back();
    ++file.handled;
    if (present < file.last) ++file.backwards;
    file.last = std::max(file.last, present);
    file.end = seconds;
    if (present == announced) file.completed = true;
}

void StallMeter::Tick(double seconds, bool downloading) {
    if (m_ticks > 0) {
        if (seconds - m_previous > m_longest) {
            m_longest = seconds - m_previous;
            m_longestEnd = seconds;
        }
        if (downloading)
            m_longestDownloading = std::max(m_longestDownloading, seconds - m_previous);
    }
    m_previous = seconds;
    ++m_ticks;
}

std::string FormatBenchReport(const DownloadLog& log, const StallMeter& stalls, int intervalMs,
                              bool upToDate) {
    std::string text = upToDate ? "result up-to-date\n" : "result failed\n";
    char line[256];
    std::snprintf(line, sizeof line,
                  "event-loop ticks=%llu interval-ms=%d longest-gap-ms=%.1f "
                  "longest-gap-end=%.3f longest-download-gap-ms=%.1f\n",
                  static_cast<unsigned long long>(stalls.Ticks()), intervalMs,
                  stalls.LongestGap() * 1000.0, stalls.LongestGapEnd(),
                  stalls.LongestDownloadGap() * 1000.0);
    text += line;
    for (const DownloadLog::File& file : log.Files()) {
        std::snprintf(line, sizeof line,
                      "file announced=%u bytes=%u start=%.3f seconds=%.3f mib-per-s=%.1f "
                      "handled=%llu completed=%s backwards=%llu\n",
                      file.announced, file.Bytes(), file.start, file.end - file.start, file.Rate(),
                      static_cast<unsigned long long>(file.handled), file.completed ? "yes" : "no",
                      static_cast<unsigned long long>(file.backwards));
        text += line;
    }
    return text;
}

std::unique_ptr<BenchReport> BenchReport::FromEnvironment(Hooks hooks) {
    const QByteArray path = qgetenv(kBenchReportVariable);
    if (path.isEmpty()) return nullptr;
    return std::make_unique<BenchReport>(path.toStdString(), std::move(hooks));
}

BenchReport::BenchReport(std::string path, Hooks hooks)
    : m_path(std::move(path)), m_hooks(std::move(hooks)) {
    // Precise: a coarse timer may fire up to 5 % late by design, which would
    // read as a stall that never happened.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickMs);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { OnTick(); });
    // The gaps count from the first tick: the start-up before the event loop
    // runs is not a stall of it.
    m_timer.start();
}

double BenchReport::Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_origin).count();
}

void BenchReport::OnProgress(std::uint32_t present, std::uint32_t announced) {
    m_log.OnProgress(present, announced, Now());
}

void BenchReport::OnTick() {
    m_stalls.Tick(Now(), m_log.Downloading());
    if (m_written || !m_hooks.workerEnded || !m_hooks.workerEnded()) return;
    m_timer.stop();
    m_written = true;
    if (!Write()) std::fprintf(stderr, "Launcher: cannot write %s\n", m_path.c_str());
    if (m_hooks.close) m_hooks.close();
}

bool BenchReport::Write() const {
    const bool upToDate = m_hooks.upToDate && m_hooks.upToDate();
    const std::string text = FormatBenchReport(m_log, m_stalls, kTickMs, upToDate);
    std::FILE* out = std::fopen(m_path.c_str(), "w");
    if (!out) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace launcher::ui
