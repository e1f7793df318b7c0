#include "app/frame_stats.hpp"

#include "base/log.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>

double pacingDelay(double workSeconds, double period) {
    const double remaining = period - workSeconds;
    return remaining > 0.0005 ? remaining : 0.0;
}

double displayPeriod(float refreshRate) { return refreshRate > 0.0f ? 1.0 / refreshRate : 1.0 / 60.0; }

FrameSummary summarizeFrames(const std::vector<float>& frameMs) {
    FrameSummary summary;
    summary.frames = frameMs.size();
    if (frameMs.empty()) {
        return summary;
    }
    std::vector<float> sorted = frameMs;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    summary.medianMs = n % 2 == 1 ? sorted[n / 2] : 0.5f * (sorted[n / 2 - 1] + sorted[n / 2]);
    // Nearest rank: the smallest value with at least 95 % of the frames at or below it.
    const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
    summary.p95Ms = sorted[std::max<std::size_t>(rank, 1) - 1];
    return summary;
}

double processCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0.0;
    }
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * t.tv_usec; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void recordFrame(FrameStats& stats, double sinceStart, double workSeconds) {
    if (sinceStart < stats.warmUp) {
        return;
    }
    if (stats.measuredFrom < 0.0) {
        stats.measuredFrom = sinceStart;
        stats.wallAtStart = sinceStart;
        stats.cpuAtStart = processCpuSeconds();
    }
    stats.frameMs.push_back(static_cast<float>(workSeconds * 1000.0));
}

void reportFrameStats(const FrameStats& stats, double sinceStart) {
    const FrameSummary summary = summarizeFrames(stats.frameMs);
    logMessage("Frame time: median %.2f ms, p95 %.2f ms over %zu frames", summary.medianMs, summary.p95Ms,
               summary.frames);
    const double wall = sinceStart - stats.wallAtStart;
    const double cpu = processCpuSeconds() - stats.cpuAtStart;
    const double percent = stats.measuredFrom >= 0.0 && wall > 0.0 ? 100.0 * cpu / wall : 0.0;
    logMessage("CPU: %.0f %% of one core", percent);
}

OffsetSummary summarizeOffsets(const std::vector<float>& offsetsMs) {
    OffsetSummary summary;
    summary.count = offsetsMs.size();
    if (offsetsMs.empty()) {
        return summary;
    }
    double sum = 0.0;
    for (float offset : offsetsMs) {
        sum += offset;
        summary.maxAbs = std::max(summary.maxAbs, std::fabs(static_cast<double>(offset)));
    }
    summary.mean = sum / static_cast<double>(offsetsMs.size());
    double squares = 0.0;
    for (float offset : offsetsMs) {
        squares += (offset - summary.mean) * (offset - summary.mean);
    }
    summary.sd = std::sqrt(squares / static_cast<double>(offsetsMs.size()));
    return summary;
}

void reportJudgeStats(const std::vector<float>& offsetsMs) {
    const OffsetSummary summary = summarizeOffsets(offsetsMs);
    logMessage("Hit offsets: mean %.2f ms, sd %.2f ms, max |%.2f| ms over %zu presses", summary.mean,
               summary.sd, summary.maxAbs, summary.count);
}
