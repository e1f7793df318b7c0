#pragma once
// Frame pacing and the --frame-stats figures. Plain code: the main loop feeds it times it has
// measured; nothing here reads a clock.
#include <cstddef>
#include <vector>

// Seconds to sleep after a frame whose work (start of the frame to the end of the swap) took
// `workSeconds`, so that frames start one display period apart (`period` seconds). A swap that
// waits for the display has already used up the period and gets nothing; a swap that returns at
// once (Xvfb, some compositors, drivers that ignore the swap interval) gets the rest of it.
// Remainders under half a millisecond are not worth a sleep.
double pacingDelay(double workSeconds, double period);

// One display period for a refresh rate in Hz; 60 Hz when the rate is unknown (0 or less).
double displayPeriod(float refreshRate);

struct FrameStats {
    double warmUp = 2.0;        // seconds after start that are not measured
    std::vector<float> frameMs; // work of each measured frame, milliseconds
    double measuredFrom = -1.0; // seconds since start of the first measured frame
    double cpuAtStart = 0.0;    // process CPU seconds when measuring began
    double wallAtStart = 0.0;   // seconds since start when measuring began
};

struct FrameSummary {
    float medianMs = 0.0f;
    float p95Ms = 0.0f;
    std::size_t frames = 0;
};

// Median and 95th percentile (nearest rank) of the measured frames; zeros when there are none.
FrameSummary summarizeFrames(const std::vector<float>& frameMs);

// Process CPU seconds (user and system, every thread) so far.
double processCpuSeconds();

// Records one frame that started `sinceStart` seconds after the loop began and whose work took
// `workSeconds`. The first frame past the warm-up also notes the CPU time and the wall time.
void recordFrame(FrameStats& stats, double sinceStart, double workSeconds);

// The two lines --frame-stats prints at exit: "Frame time: median X ms, p95 Y ms over N frames"
// and "CPU: Z % of one core", CPU measured from the end of the warm-up to `sinceStart`.
void reportFrameStats(const FrameStats& stats, double sinceStart);

// The spread of the presses' offsets from their notes (milliseconds).
struct OffsetSummary {
    double mean = 0.0;
    double sd = 0.0;     // population standard deviation
    double maxAbs = 0.0; // largest distance from the note
    std::size_t count = 0;
};
OffsetSummary summarizeOffsets(const std::vector<float>& offsetsMs);

// The line --judge-stats prints at exit: "Hit offsets: mean X ms, sd Y ms, max |Z| ms over N presses".
void reportJudgeStats(const std::vector<float>& offsetsMs);
