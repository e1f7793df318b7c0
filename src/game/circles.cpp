#include "game/circles.hpp"

#include "audio/audio_system.hpp"
#include "game/scoring.hpp"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int32_t kStemRange = kMaxLayers; // stems 0..7 make circles
constexpr std::int32_t kKeyRange = 128;         // MIDI key numbers
constexpr float kSpawnRadius = 40.0f;
constexpr float kGrowthStartRadius = 20.0f;
constexpr float kJudgedRadius = 5.0f; // a tap circle this small has been judged
// A circle is never removed until the spawn window has passed its time (plus float noise):
// otherwise the next spawn tick would see its note still inside the window and make it again.
constexpr double kRemovalGuard = kSpawnLateLimit + 0.001;

// ---- Duplicate lookup ----

void indexCircle(SpawnIndex& index, const Circle& circle, std::int32_t position) {
    if (circle.stemIndex >= 0 && circle.stemIndex < kStemRange && circle.note >= 0 &&
        circle.note < kKeyRange) {
        const std::size_t slot = static_cast<std::size_t>(circle.stemIndex * kKeyRange + circle.note);
        index.next[static_cast<std::size_t>(position)] = index.head[slot];
        index.head[slot] = position;
    } else {
        index.unusual.push_back(position);
    }
}

void buildSpawnIndex(GameState& game) {
    SpawnIndex& index = game.spawnIndex;
    index.head.assign(static_cast<std::size_t>(kStemRange * kKeyRange), -1);
    index.next.assign(game.circles.size(), -1);
    index.unusual.clear();
    for (std::size_t i = 0; i < game.circles.size(); ++i) {
        if (game.circles[i].active) {
            indexCircle(index, game.circles[i], static_cast<std::int32_t>(i));
        }
    }
}

// The duplicate rule itself: an active circle of the same stem and key number less than 10 ms
// from the due time.
bool isDuplicateOf(const Circle& circle, std::int32_t stemIndex, std::int32_t note, double due) {
    return circle.active && circle.stemIndex == stemIndex && circle.note == note &&
           std::fabs(circle.time - due) < kDuplicateWindow;
}

bool hasDuplicate(const GameState& game, std::int32_t stemIndex, std::int32_t note, double due) {
    const SpawnIndex& index = game.spawnIndex;
    if (stemIndex >= 0 && stemIndex < kStemRange && note >= 0 && note < kKeyRange) {
        std::int32_t i = index.head[static_cast<std::size_t>(stemIndex * kKeyRange + note)];
        for (; i >= 0; i = index.next[static_cast<std::size_t>(i)]) {
            if (isDuplicateOf(game.circles[static_cast<std::size_t>(i)], stemIndex, note, due)) {
                return true;
            }
        }
        return false;
    }
    for (std::int32_t i : index.unusual) {
        if (isDuplicateOf(game.circles[static_cast<std::size_t>(i)], stemIndex, note, due)) {
            return true;
        }
    }
    return false;
}

// ---- Window search ----

struct IndexRange {
    std::size_t begin;
    std::size_t end;
};

// The notes whose time lies in [low, high], in a list sorted by time.
IndexRange notesBetween(const std::vector<MidiNoteEvent>& notes, double low, double high) {
    const auto first = std::lower_bound(notes.begin(), notes.end(), low,
                                        [](const MidiNoteEvent& n, double t) { return n.time < t; });
    const auto last = std::upper_bound(first, notes.end(), high,
                                       [](double t, const MidiNoteEvent& n) { return t < n.time; });
    return {static_cast<std::size_t>(first - notes.begin()), static_cast<std::size_t>(last - notes.begin())};
}

// Spawns one candidate note if it lies inside the window and is not a duplicate. The arithmetic
// is exactly the plain rule's, so a note near an edge is decided the same way however it was found.
void considerNote(GameState& game, std::int32_t width, std::int32_t height, const MidiNoteEvent& note,
                  std::int32_t stemIndex, bool wraps, double loopLength, double loopPosition,
                  bool& indexBuilt) {
    if (!note.isNoteOn || note.velocity == 0) {
        return;
    }
    const double now = game.songTime;
    double ahead;
    double due;
    if (wraps) {
        ahead = note.time - loopPosition;
        if (ahead < -kSpawnLateLimit) {
            ahead += loopLength;
        }
        due = now + ahead;
    } else {
        due = note.time;
        ahead = due - now;
    }
    if (!(ahead >= -kSpawnLateLimit && ahead <= kSpawnLookAhead)) {
        return;
    }
    if (!indexBuilt) {
        buildSpawnIndex(game);
        indexBuilt = true;
    }
    if (hasDuplicate(game, stemIndex, note.note, due)) {
        return;
    }
    spawnCircle(game, note, stemIndex, width, height, due);
    SpawnIndex& index = game.spawnIndex;
    index.next.push_back(-1);
    indexCircle(index, game.circles.back(), static_cast<std::int32_t>(game.circles.size() - 1));
}

} // namespace

// ---- Spawning ----

NoteKey keyForNote(std::int32_t note, std::int32_t velocity) {
    const KeyLane* lane = nullptr;
    for (const KeyLane& row : keyLanes) {
        if (note >= row.lowKey && note <= row.highKey) {
            lane = &row;
            break;
        }
    }
    if (lane == nullptr) {
        // Key numbers outside 0..127 only come from hand-made charts; keep the lane index
        // non-negative for negative numbers too.
        lane = &keyLanes[((note % kKeyLaneCount) + kKeyLaneCount) % kKeyLaneCount];
    }
    if (velocity < kLowRowBelow) {
        return {lane->lowVelocityKey, lane->lowVelocityLabel};
    }
    if (velocity <= kMiddleRowThrough) {
        return {lane->middleVelocityKey, lane->middleVelocityLabel};
    }
    return {lane->highVelocityKey, lane->highVelocityLabel};
}

void spawnCircle(GameState& game, const MidiNoteEvent& note, std::int32_t stemIndex, std::int32_t width,
                 std::int32_t height, double dueTime) {
    Circle circle;
    if (game.keyboardGameplay) {
        const NoteKey key = keyForNote(note.note, note.velocity);
        circle.key = key.key;
        circle.keyLabel = key.label;
    }
    // The products are whole numbers before the division, so a chart draws the same pattern at
    // every window size up to the rounding of the last step. 64-bit keeps odd charts from
    // overflowing.
    circle.x = static_cast<float>(static_cast<std::int64_t>(note.note) * width) * (1.0f / 128.0f);
    circle.y = static_cast<float>(static_cast<std::int64_t>(note.velocity) * height) * (1.0f / 128.0f);
    circle.radius = kSpawnRadius;
    circle.targetRadius = kTargetRadius;
    circle.holdDuration =
        note.channel == kHoldChannel ? static_cast<float>(note.duration) : static_cast<float>(kTapLifetime);
    circle.active = true;
    circle.time = dueTime;
    circle.note = note.note;
    circle.stemIndex = stemIndex;
    circle.channel = note.channel;
    game.circles.push_back(std::move(circle));
}

void spawnTick(GameState& game, std::int32_t width, std::int32_t height, const AudioSystem& audio) {
    game.pendingNotes.clear(); // the fired notes only drive the visual pulses; circles come from the charts
    if (!audio.playing || !std::isfinite(game.songTime)) {
        return;
    }
    const double now = game.songTime;
    bool indexBuilt = false;
    for (const LoadedStem& stem : audio.stems) {
        if (!stem.active || !stem.chart.loaded || stem.index < 0 || stem.index >= kStemRange) {
            continue;
        }
        const std::vector<MidiNoteEvent>& notes = stem.chart.notes;
        const double loopLength = stem.chart.audioLength;
        const bool wraps = audio.looping && loopLength > 0.0;
        const double loopPosition = wraps ? std::fmod(now, loopLength) : now;
        // The search bounds are widened by far more than any rounding of the window arithmetic;
        // each note found is then decided by the exact rule.
        const double slack = 0.001 + 1e-9 * (std::fabs(now) + (std::isfinite(loopLength) ? loopLength : 0.0));
        const double low = loopPosition - kSpawnLateLimit - slack;
        const double high = loopPosition + kSpawnLookAhead + slack;
        const IndexRange current = notesBetween(notes, low, high);
        IndexRange wrapped{0, 0};
        if (wraps) {
            // Notes early in the chart that are next due in the following pass.
            wrapped = notesBetween(notes, low - loopLength, high - loopLength);
        }
        // Chart order matters (the duplicate rule keeps the first of two close notes), and the
        // wrapped range always comes first in the chart; visit each note once.
        for (std::size_t i = wrapped.begin; i < wrapped.end; ++i) {
            considerNote(game, width, height, notes[i], stem.index, wraps, loopLength, loopPosition,
                         indexBuilt);
        }
        for (std::size_t i = std::max(current.begin, wrapped.end); i < current.end; ++i) {
            considerNote(game, width, height, notes[i], stem.index, wraps, loopLength, loopPosition,
                         indexBuilt);
        }
    }
}

// ---- Circle life ----

void removeCircle(GameState& game, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= game.circles.size()) {
        return;
    }
    Circle& circle = game.circles[static_cast<std::size_t>(index)];
    // Every input still holding this circle lets go of it. Matching on the map's value (rather
    // than erasing each holder id) keeps a finger whose id happens to equal a held key's code.
    for (auto it = game.pointerHolds.begin(); it != game.pointerHolds.end();) {
        it = it->second == index ? game.pointerHolds.erase(it) : std::next(it);
    }
    for (auto it = game.keyHolds.begin(); it != game.keyHolds.end();) {
        it = it->second == index ? game.keyHolds.erase(it) : std::next(it);
    }
    circle.holders.clear();
    if (circle.arrived && !circle.hit && !circle.holdComplete) {
        registerMiss(game); // a note nobody answered
    }
    game.circles.erase(game.circles.begin() + index);
    for (auto& entry : game.pointerHolds) {
        if (entry.second > index) {
            --entry.second;
        }
    }
    for (auto& entry : game.keyHolds) {
        if (entry.second > index) {
            --entry.second;
        }
    }
}

bool circleOverAt(const Circle& circle, double at) {
    return at - circle.time > std::max(static_cast<double>(circle.holdDuration), kRemovalGuard);
}

void updateCircles(GameState& game, [[maybe_unused]] float dt) {
    std::size_t i = 0;
    while (i < game.circles.size()) {
        Circle& circle = game.circles[i];
        if (!circle.active) {
            ++i;
            continue;
        }
        const double ahead = circle.time - game.songTime;
        if (!circle.arrived) {
            if (ahead > -kArrivalWindow && ahead <= 0.0) {
                circle.arrived = true;
            } else {
                // Grows from 20 px a second ahead to the target radius at the note time.
                const float progress = static_cast<float>(std::clamp(1.0 - ahead, 0.0, 1.0));
                circle.radius = kGrowthStartRadius + (circle.targetRadius - kGrowthStartRadius) * progress;
            }
        }
        if (circle.arrived && !circle.holders.empty()) {
            // On the song clock, not by frame time: a slow frame or a stall must not eat the hold.
            const double held = game.songTime - std::max(circle.holdFrom, circle.time);
            circle.heldTime = std::max(circle.heldTime, static_cast<float>(held));
            if (!circle.holdComplete && circle.heldTime >= circle.holdDuration) {
                circle.holdComplete = true;
                addScore(game, 100);
                registerSuccess(game);
            }
        }

        const double elapsed = game.songTime - circle.time;
        bool expired;
        bool heldTooLong = false;
        if (circle.channel == kHoldChannel) {
            const double hold = circle.holdDuration;
            const bool held = !circle.holders.empty();
            const bool stays = elapsed <= hold + kHoldOverrun && elapsed <= 2.0 * hold &&
                               (held || (!circle.holdComplete && !(elapsed > hold)));
            expired = !stays;
            heldTooLong = held && elapsed > hold + kHoldOverrun;
        } else {
            expired = elapsed > circle.holdDuration || circle.radius <= kJudgedRadius;
        }
        if (!expired || elapsed <= kRemovalGuard) {
            ++i;
            continue;
        }
        if (heldTooLong) {
            registerMiss(game);
        }
        removeCircle(game, static_cast<std::int32_t>(i)); // the next circle moves into place i
    }
}
