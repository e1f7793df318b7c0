#include "game/practice_loop.hpp"

#include <algorithm>
#include <cmath>

double beatSeconds(double bpm) { return std::isfinite(bpm) && bpm > 0.0 ? 60.0 / bpm : 0.5; }

double nearestBeat(double at, double beat) { return std::round(at / beat) * beat; }

LoopMark markLoopStart(PracticeLoop& loop, double at, double beat) {
    loop = PracticeLoop{};
    loop.hasStart = true;
    loop.start = nearestBeat(at, beat);
    return LoopMark::StartSet;
}

LoopMark markLoopEnd(PracticeLoop& loop, double at, double beat) {
    if (!loop.hasStart) {
        return LoopMark::NoStart;
    }
    const double end = nearestBeat(at, beat);
    // Half a beat of slack: snapped values of one beat may differ in their last bits.
    if (end < loop.start + beat / 2.0) {
        loop = PracticeLoop{};
        return LoopMark::Cleared;
    }
    loop.hasEnd = true;
    loop.end = end;
    return LoopMark::EndSet;
}

double countInStart(const PracticeLoop& loop, double beat, double roundStart) {
    return std::max(roundStart, loop.start - kCountInBeats * beat);
}

int countInFigure(const PracticeLoop& loop, double beat, double from, double now) {
    if (!loop.hasStart || now < from || now >= loop.start) {
        return 0;
    }
    // Beats still to come before A, the one under way counted: 4 at the bar's first beat.
    const int left = static_cast<int>(std::ceil((loop.start - now) / beat - 1e-9));
    return std::clamp(left, 1, kCountInBeats);
}
