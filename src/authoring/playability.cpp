#include "authoring/playability.hpp"

#include "game/game_rules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The game's timing (game/game_rules.hpp): a circle spawns one second ahead, can be pressed from
// 0.1 s before its time, and is removed 0.2 s after it (a tap) or up to 0.3 s past its end (a hold).
constexpr double kLookAhead = kSpawnLookAhead;
constexpr double kEarlyPress = kEarlyPressLimit;
constexpr double kTapLife = kTapLifetime;
constexpr double kHoldGrace = kHoldOverrun;
// Slack around each judgement window.
constexpr double kMargin = 0.05;

struct Candidate {
    double time = 0.0;
    double duration = 0.0;
    bool hold = false;
    int key = 60;
    int velocity = 64;
    int pan = 64;
    float strength = 0.0f;
    size_t stem = 0;
};

double life(const Candidate& c) { return c.hold ? c.duration + kHoldGrace : kTapLife; }

// When a press can land on the circle (by position or key).
double pressStart(const Candidate& c) { return c.time - kEarlyPress - kMargin; }
double pressEnd(const Candidate& c) { return c.time + kTapLife + kMargin; }
// Until when it holds its keyboard key: a held key judges no other circle.
double keyEnd(const Candidate& c) { return c.time + life(c) + kMargin; }
// Alive on screen.
double aliveStart(const Candidate& c) { return c.time - kLookAhead; }
double aliveEnd(const Candidate& c) { return c.time + life(c); }

bool overlaps(double a0, double a1, double b0, double b1) { return a0 < b1 && b0 < a1; }

// The time shifts at which a chart's notes recur: the notes themselves, and for a looping chart
// its copies one loop earlier and later. A chart that does not loop has no copies (its shifts
// would be -0.0 and 0.0, which compare equal to the notes' own and would count them thrice).
struct LoopShifts {
    double values[3];
    int count;
    const double* begin() const { return values; }
    const double* end() const { return values + count; }
};
LoopShifts loopShifts(double loop) {
    return loop > 0.0 ? LoopShifts{{0.0, -loop, loop}, 3} : LoopShifts{{0.0, 0.0, 0.0}, 1};
}

// One stem: keeps the strongest notes at least minGap apart, then fits the holds in.
std::vector<Candidate> thinStem(const std::vector<DetectedNote>& notes, size_t stem,
                                const PlayabilityRules& rules, PlayabilityReport& report) {
    std::vector<size_t> order(notes.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return notes[a].strength > notes[b].strength; });
    std::vector<Candidate> kept;
    std::vector<double> keptTimes; // sorted
    for (size_t i : order) {
        const DetectedNote& n = notes[i];
        bool clear = true;
        // Neighbours in time, the loop's wrap included.
        for (const double shift : loopShifts(rules.loopSeconds)) {
            auto it = std::lower_bound(keptTimes.begin(), keptTimes.end(), n.time + shift - rules.minGap);
            if (it != keptTimes.end() && *it < n.time + shift + rules.minGap) {
                clear = false;
            }
        }
        if (!clear) {
            ++report.thinned;
            continue;
        }
        keptTimes.insert(std::upper_bound(keptTimes.begin(), keptTimes.end(), n.time), n.time);
        Candidate c;
        c.time = n.time;
        c.duration = n.hold ? n.duration : 0.0;
        c.hold = n.hold;
        c.key = std::clamp(n.key, 0, 127);
        c.pan = std::clamp(n.pan, 0, 127);
        c.strength = n.strength;
        c.stem = stem;
        kept.push_back(c);
    }
    std::sort(kept.begin(), kept.end(),
              [](const Candidate& a, const Candidate& b) { return a.time < b.time; });
    for (size_t i = 0; i < kept.size(); ++i) {
        Candidate& c = kept[i];
        if (!c.hold) {
            continue;
        }
        double next = 0.0;
        if (i + 1 < kept.size()) {
            next = kept[i + 1].time;
        } else if (rules.loopSeconds > 0.0) {
            next = kept.front().time + rules.loopSeconds;
        } else {
            continue;
        }
        const double room = next - rules.minGap - c.time;
        if (c.duration > room) {
            c.duration = room;
            ++report.shortenedHolds;
            if (c.duration < kMinHoldSeconds) {
                c.hold = false;
                c.duration = 0.0;
                ++report.holdsToTaps;
            }
        }
    }
    return kept;
}

int preferredVelocity(float strength, const PlayabilityRules& rules) {
    const double s = std::sqrt(std::clamp(static_cast<double>(strength), 0.0, 1.0));
    return rules.lowestVelocity +
           static_cast<int>(std::lround(s * (rules.highestVelocity - rules.lowestVelocity)));
}

// The circles placed so far, in time order, with the loop's copies looked up on demand.
struct Placed {
    std::vector<Candidate> circles;
    double longestSpan = kLookAhead + kTapLife + kMargin; // how far any interval reaches from its time

    // Calls visit(circle, shift) for every placed circle, or loop copy of one, whose time + shift
    // lies within [from, to].
    template <typename Visit> void near(double from, double to, double loop, Visit visit) const {
        for (const double shift : loopShifts(loop)) {
            auto it = std::lower_bound(circles.begin(), circles.end(), from - shift,
                                       [](const Candidate& c, double t) { return c.time < t; });
            for (; it != circles.end() && it->time + shift <= to; ++it) {
                visit(*it, shift);
            }
        }
    }
};

double pixelDistance(int key1, int vel1, int key2, int vel2, const PlayabilityRules& rules) {
    const double dx = (key1 - key2) * rules.screenWidth / 128.0;
    const double dy = (vel1 - vel2) * rules.screenHeight / 128.0;
    return std::hypot(dx, dy);
}

// The most circles alive at once during [from, to] among `intervals`, plus one.
int peakAlive(std::vector<std::pair<double, double>>& intervals, double from, double to) {
    std::vector<std::pair<double, int>> edges;
    for (const auto& [a, b] : intervals) {
        if (overlaps(a, b, from, to)) {
            edges.emplace_back(std::max(a, from), +1);
            edges.emplace_back(std::min(b, to), -1);
        }
    }
    std::sort(edges.begin(), edges.end(), [](const auto& x, const auto& y) {
        return x.first < y.first || (x.first == y.first && x.second < y.second);
    });
    int alive = 0;
    int peak = 0;
    for (const auto& edge : edges) {
        alive += edge.second;
        peak = std::max(peak, alive);
    }
    return peak + 1;
}

} // namespace

int keyboardSlot(int key, int velocity) {
    const int row = velocity < kLowRowBelow ? 0 : (velocity <= kMiddleRowThrough ? 1 : 2);
    return (std::clamp(key, 0, 127) / kKeysPerLane) * 3 + row;
}

std::vector<std::vector<ChartNote>> makePlayable(const std::vector<std::vector<DetectedNote>>& stems,
                                                 const PlayabilityRules& rules, PlayabilityReport* report) {
    PlayabilityReport local;
    std::vector<Candidate> all;
    for (size_t s = 0; s < stems.size(); ++s) {
        std::vector<Candidate> kept = thinStem(stems[s], s, rules, local);
        all.insert(all.end(), kept.begin(), kept.end());
    }
    std::stable_sort(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) {
        return a.time < b.time || (a.time == b.time && a.stem < b.stem);
    });

    Placed placed;
    const double loop = rules.loopSeconds;
    std::vector<const Candidate*> conflicts;
    std::vector<std::pair<double, double>> alive;
    for (Candidate& c : all) {
        const double reach = placed.longestSpan + life(c) + kLookAhead;
        // Circles that can take a press meant for this one, or hold a key it needs.
        conflicts.clear();
        alive.clear();
        placed.near(c.time - reach, c.time + reach, loop, [&](const Candidate& p, double shift) {
            const double pPressStart = pressStart(p) + shift;
            const double pPressEnd = pressEnd(p) + shift;
            const double pKeyEnd = keyEnd(p) + shift;
            const bool pressesMeet = overlaps(pressStart(c), pressEnd(c), pPressStart, pPressEnd);
            const bool keysMeet = overlaps(pressStart(c), keyEnd(c), pPressStart, pKeyEnd);
            if (pressesMeet || keysMeet) {
                conflicts.push_back(&p);
            }
            alive.emplace_back(aliveStart(p) + shift, aliveEnd(p) + shift);
        });
        if (peakAlive(alive, aliveStart(c), aliveEnd(c)) > rules.maxCircles) {
            ++local.overLimit;
            continue;
        }
        const int preferred = preferredVelocity(c.strength, rules);
        int chosen = -1;
        for (int step = 0; step <= rules.highestVelocity - rules.lowestVelocity && chosen < 0; ++step) {
            for (int v : {preferred - step, preferred + step}) {
                if (chosen >= 0 || v < rules.lowestVelocity || v > rules.highestVelocity) {
                    continue;
                }
                bool clear = true;
                for (const Candidate* p : conflicts) {
                    if (keyboardSlot(c.key, v) == keyboardSlot(p->key, p->velocity) ||
                        pixelDistance(c.key, v, p->key, p->velocity, rules) < rules.separation) {
                        clear = false;
                        break;
                    }
                }
                if (clear) {
                    chosen = v;
                }
            }
        }
        if (chosen < 0) {
            ++local.crowded;
            continue;
        }
        c.velocity = chosen;
        placed.circles.push_back(c);
        placed.longestSpan = std::max(placed.longestSpan, life(c) + kLookAhead + kMargin);
    }

    std::vector<std::vector<ChartNote>> charts(stems.size());
    for (const Candidate& c : placed.circles) {
        ChartNote note;
        note.time = c.time;
        note.duration = c.hold ? c.duration : 0.0;
        note.key = c.key;
        note.velocity = c.velocity;
        note.pan = c.pan;
        note.hold = c.hold;
        charts[c.stem].push_back(note);
    }
    if (report) {
        *report = local;
    }
    return charts;
}
