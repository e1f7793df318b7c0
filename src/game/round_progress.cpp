#include "game/round_progress.hpp"

#include "game/circles.hpp"
#include "game/judgement.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// ---- Chart cursors ----

bool loops(const RoundSetup& setup) { return setup.looping && setup.loopLength > 0.0; }

// Notes that make circles: sounding note-ons, and with looping only those inside the loop (a chart
// longer than its song would otherwise lay passes over each other).
bool spawns(const RoundSetup& setup, const MidiNoteEvent& note) {
    if (!note.isNoteOn || note.velocity == 0) {
        return false;
    }
    return !loops(setup) || (note.time >= 0.0 && note.time < setup.loopLength);
}

double dueOf(const RoundSetup& setup, const StemCursor& cursor, const MidiNoteEvent& note) {
    return loops(setup) ? static_cast<double>(cursor.pass) * setup.loopLength + note.time : note.time;
}

// Moves the cursor onto the next note that spawns, from its current place: over the loop point into
// the next pass when looping. At the end of a chart that plays once, or when no note of the chart
// spawns at all, the cursor stops for good (exhausted).
void settleCursor(const RoundSetup& setup, const std::vector<MidiNoteEvent>& notes, StemCursor& cursor) {
    bool wrapped = false;
    while (cursor.running) {
        if (cursor.next < notes.size()) {
            if (spawns(setup, notes[cursor.next])) {
                return;
            }
            ++cursor.next;
        } else if (loops(setup) && !wrapped) {
            wrapped = true;
            ++cursor.pass;
            cursor.next = 0;
        } else {
            cursor.running = false;
            cursor.exhausted = true;
        }
    }
}

// Unlocks stem `stem` at song time `from`: its first note is the first due no earlier than the
// late limit before `from`.
void startCursor(const RoundSetup& setup, std::size_t stem, StemCursor& cursor, double from) {
    const std::vector<MidiNoteEvent>& notes = setup.stems[stem].notes;
    cursor = StemCursor{};
    cursor.running = true;
    cursor.from = from;
    const double earliest = from - kSpawnLateLimit;
    double position = earliest;
    if (loops(setup)) {
        cursor.pass = static_cast<std::int64_t>(std::floor(earliest / setup.loopLength));
        position = earliest - static_cast<double>(cursor.pass) * setup.loopLength;
    }
    cursor.next = static_cast<std::size_t>(
        std::lower_bound(notes.begin(), notes.end(), position,
                         [](const MidiNoteEvent& note, double t) { return note.time < t; }) -
        notes.begin());
    settleCursor(setup, notes, cursor);
    // The division above may round either way; the due time decides.
    while (cursor.running && dueOf(setup, cursor, notes[cursor.next]) < earliest) {
        ++cursor.next;
        settleCursor(setup, notes, cursor);
    }
}

double cursorSpawnTime(const RoundSetup& setup, std::size_t stem, const StemCursor& cursor) {
    const double due = dueOf(setup, cursor, setup.stems[stem].notes[cursor.next]);
    return std::max(due - kSpawnLookAhead, cursor.from);
}

// Unlocked layers have running cursors, the others none: a layer unlocked again starts afresh.
void followLayers(GameState& game, double at) {
    RoundProgress& progress = game.progress;
    const std::size_t stems = game.setup.stems.size();
    progress.cursors.resize(stems);
    for (std::size_t s = 0; s < stems; ++s) {
        StemCursor& cursor = progress.cursors[s];
        const bool unlocked = static_cast<std::int32_t>(s) < game.activeLayers &&
                              static_cast<std::int32_t>(s) < kMaxLayers && !game.setup.stems[s].notes.empty();
        if (!unlocked) {
            cursor = StemCursor{};
        } else if (!cursor.running && !cursor.exhausted) {
            startCursor(game.setup, s, cursor, at);
        }
    }
}

void spawnNext(GameState& game, std::size_t stem) {
    StemCursor& cursor = game.progress.cursors[stem];
    const std::vector<MidiNoteEvent>& notes = game.setup.stems[stem].notes;
    const MidiNoteEvent& note = notes[cursor.next];
    const double due = dueOf(game.setup, cursor, note);
    const std::int32_t index = static_cast<std::int32_t>(stem);
    // Two notes of one stem and key number closer than the duplicate window make one circle.
    const bool duplicate = std::any_of(game.circles.begin(), game.circles.end(), [&](const Circle& circle) {
        return circle.active && circle.stemIndex == index && circle.note == note.note &&
               std::fabs(circle.time - due) < kDuplicateWindow;
    });
    if (!duplicate) {
        spawnCircle(game, note, index, game.setup.width, game.setup.height, due);
        // Remembered for a rewind's ghosts; circles over longer ago than the memory are let go.
        std::deque<Circle>& recent = game.progress.recentSpawns;
        recent.push_back(game.circles.back());
        if (due < game.progress.countInUntil) {
            // A practice loop's count-in: the passage's lead-in is shown, but nothing in it counts.
            game.progress.ghosts.push_back(game.circles.back());
            game.circles.pop_back();
        }
        const double forgetBefore = game.progress.applied - kRewindMemory;
        while (!recent.empty() && recent.front().time + recent.front().holdDuration < forgetBefore) {
            recent.pop_front();
        }
    }
    ++cursor.next;
    settleCursor(game.setup, notes, cursor);
}

// ---- Inputs ----

void applyInput(GameState& game, const RoundEvent& event) {
    if (event.kind == InputKind::Resize) {
        game.setup.width = static_cast<std::int32_t>(event.x);
        game.setup.height = static_cast<std::int32_t>(event.y);
        return;
    }
    const double at = static_cast<double>(event.songTimeUs) / 1e6;
    const bool press = event.kind == InputKind::Press;
    const bool pointer = event.device == InputDevice::Finger || event.device == InputDevice::Mouse;
    // A pointer aims at a place; a key or a button names its circles (a cell, a button).
    InputRef input{event.device, pointer ? event.id : event.key};
    if (event.device == InputDevice::Gamepad) {
        input.id = gamepadInputId(event.id, event.key);
    }
    if (event.device == InputDevice::Mouse) {
        input.id = kMouseInputId;
    }
    if (press) {
        const std::int32_t index = pointer ? findCircleAt(game, event.x, event.y, at)
                                           : findCircleForButton(game, event.device, event.key, at);
        // A key or button holding a hold circle presses nothing else until it lets go.
        if (index >= 0 && (pointer || game.holds.count(input) == 0)) {
            judgeInput(game, index, input, true, at);
        }
    } else {
        const auto held = game.holds.find(input);
        if (held != game.holds.end()) {
            judgeInput(game, held->second, input, false, at);
        }
    }
}

// ---- The next thing to happen ----

enum Order { SpawnOrder = 1, ArrivalOrder, InputOrder, HoldOrder, RemovalOrder };

struct Happening {
    double at = std::numeric_limits<double>::infinity();
    int order = 0;
    std::size_t index = 0;
};

void consider(Happening& best, double at, int order, std::size_t index) {
    if (at < best.at ||
        (at == best.at && (order < best.order || (order == best.order && index < best.index)))) {
        best = Happening{at, order, index};
    }
}

Happening nextHappening(const GameState& game) {
    Happening best;
    const RoundProgress& progress = game.progress;
    for (std::size_t s = 0; s < progress.cursors.size(); ++s) {
        if (progress.cursors[s].running) {
            consider(best, cursorSpawnTime(game.setup, s, progress.cursors[s]), SpawnOrder, s);
        }
    }
    for (std::size_t i = 0; i < game.circles.size(); ++i) {
        const Circle& circle = game.circles[i];
        if (!circle.active) {
            continue;
        }
        if (!circle.arrived) {
            consider(best, circle.time, ArrivalOrder, i);
        }
        if (circle.channel == kHoldChannel && !circle.holders.empty() && !circle.holdComplete) {
            consider(best, std::max(circle.holdFrom, circle.time) + circle.holdDuration, HoldOrder, i);
        }
        consider(best, circleRemovalTime(circle), RemovalOrder, i);
    }
    if (!progress.queued.empty()) {
        consider(best, static_cast<double>(progress.queued.front().songTimeUs) / 1e6, InputOrder, 0);
    }
    return best;
}

} // namespace

// ---- Removal ----

double circleRemovalTime(const Circle& circle, bool* heldTooLong) {
    bool tooLong = false;
    double at;
    if (circle.retired) {
        // Judged: a tap at once, a hold once nothing holds it (it is retired only then) and its
        // hold was credited, else when its time is over.
        at = circle.channel != kHoldChannel || circle.holdComplete ? circle.retiredAt
                                                                   : circle.time + circle.holdDuration;
    } else if (circle.channel != kHoldChannel) {
        at = circle.time + circle.holdDuration;
    } else if (!circle.holders.empty()) {
        // Held: until the hold's end plus its overrun, and never past twice its length.
        const double hold = circle.holdDuration;
        tooLong = hold + kHoldOverrun <= 2.0 * hold;
        at = circle.time + (tooLong ? hold + kHoldOverrun : 2.0 * hold);
    } else {
        at = circle.time + circle.holdDuration;
    }
    if (heldTooLong != nullptr) {
        *heldTooLong = tooLong;
    }
    // Never before the spawn window has passed its time: its note would be found again.
    return std::max(at, circle.time + kRemovalGuard);
}

// ---- The round ----

void beginRound(GameState& game, RoundSetup setup, double start, std::int32_t layers) {
    game.setup = std::move(setup);
    game.circles.clear();
    game.holds.clear();
    game.missStreak = 0;
    game.comboAtLayerCheck = game.combo;
    game.activeLayers = layers;
    RoundProgress& progress = game.progress;
    progress = RoundProgress{};
    progress.applied = start;
    progress.inputsKnownUntil = start;
    progress.cursors.assign(game.setup.stems.size(), StemCursor{});
    progress.startWidth = game.setup.width;
    progress.startHeight = game.setup.height;
    game.layerTimeline.push_back(LayerChange{start, layers});
    followLayers(game, start);
}

void queueRoundInputs(GameState& game, const std::vector<RoundEvent>& events, double knownUntil) {
    RoundProgress& progress = game.progress;
    const std::int64_t earliestUs = firstMicrosFrom(progress.applied);
    for (RoundEvent event : events) {
        if (static_cast<double>(event.songTimeUs) / 1e6 < progress.ignoreInputsBefore) {
            continue; // in a span the song plays again after a rewind
        }
        event.songTimeUs = std::max(event.songTimeUs, earliestUs);
        if (!progress.queued.empty()) {
            event.songTimeUs = std::max(event.songTimeUs, progress.queued.back().songTimeUs);
        }
        progress.queued.push_back(event);
    }
    progress.inputsKnownUntil = std::max(progress.inputsKnownUntil, knownUntil);
}

void advanceRound(GameState& game, double songTime, const LayerRequests& requests) {
    if (!game.playing || !std::isfinite(songTime)) {
        return;
    }
    RoundProgress& progress = game.progress;
    const double limit = std::min(songTime, progress.inputsKnownUntil);
    if (!(limit >= progress.applied)) {
        return;
    }
    for (;;) {
        const Happening next = nextHappening(game);
        if (!(next.at < limit || (next.at == limit && next.order <= ArrivalOrder))) {
            break;
        }
        const double at = std::max(next.at, progress.applied);
        progress.applied = at;
        switch (next.order) {
        case SpawnOrder:
            spawnNext(game, next.index);
            continue; // nothing scored
        case ArrivalOrder:
            game.circles[next.index].arrived = true;
            continue;
        case InputOrder:
            progress.recorded.push_back(progress.queued.front());
            progress.queued.pop_front();
            applyInput(game, progress.recorded.back());
            break;
        case HoldOrder: {
            Circle& circle = game.circles[next.index];
            circle.heldTime = std::max(circle.heldTime, circle.holdDuration);
            circle.holdComplete = true;
            addScore(game, 100);
            registerSuccess(game);
            break;
        }
        case RemovalOrder: {
            bool heldTooLong = false;
            circleRemovalTime(game.circles[next.index], &heldTooLong);
            if (heldTooLong) {
                recordOutcome(game, game.circles[next.index], CircleGrade::Miss);
                registerMiss(game);
            }
            removeCircle(game, static_cast<std::int32_t>(next.index));
            break;
        }
        }
        const std::int32_t layersBefore = game.activeLayers;
        layerStep(game, requests);
        if (game.activeLayers != layersBefore) {
            // In song time played, which a practice loop's jumps do not take back.
            game.layerTimeline.push_back(LayerChange{at + progress.jumpedBack, game.activeLayers});
        }
        followLayers(game, at);
    }
    progress.applied = std::max(progress.applied, limit);
    if (progress.applied > progress.ignoreInputsBefore && progress.applied >= progress.countInUntil) {
        progress.ghosts.clear(); // the rewound span (or the count-in) is over
    }
}

void resizeRound(GameState& game, std::int32_t width, std::int32_t height) {
    RoundProgress& progress = game.progress;
    // The size the round will have once its queued inputs are applied.
    std::int32_t w = game.setup.width, h = game.setup.height;
    for (const RoundEvent& queued : progress.queued) {
        if (queued.kind == InputKind::Resize) {
            w = static_cast<std::int32_t>(queued.x);
            h = static_cast<std::int32_t>(queued.y);
        }
    }
    if (w == width && h == height) {
        return;
    }
    if (!game.playing) {
        game.setup.width = width;
        game.setup.height = height;
        return;
    }
    RoundEvent resize;
    resize.songTimeUs = firstMicrosFrom(progress.applied);
    resize.kind = InputKind::Resize;
    resize.x = static_cast<float>(width);
    resize.y = static_cast<float>(height);
    // Known no further than it was: the frame's own inputs and clock say how far the round may go.
    progress.queued.push_back(resize);
    if (progress.queued.size() > 1) {
        progress.queued.back().songTimeUs =
            std::max(resize.songTimeUs, progress.queued[progress.queued.size() - 2].songTimeUs);
    }
}

void rewindRound(GameState& game, double pausedAt, double from) {
    RoundProgress& progress = game.progress;
    progress.ignoreInputsBefore = std::max(progress.ignoreInputsBefore, pausedAt);
    progress.pauses.push_back(
        RoundPause{songTimeToMicros(pausedAt), songTimeToMicros(from), progress.speedPercent});
    progress.ghosts.clear();
    for (const Circle& spawned : progress.recentSpawns) {
        if (spawned.time + spawned.holdDuration < from) {
            continue; // over before the span the song plays again
        }
        // A circle still live is drawn as itself, and can still be answered after the span.
        const bool live = std::any_of(game.circles.begin(), game.circles.end(), [&](const Circle& circle) {
            return circle.active && !circle.retired && circle.stemIndex == spawned.stemIndex &&
                   circle.note == spawned.note && circle.time == spawned.time;
        });
        if (!live) {
            progress.ghosts.push_back(spawned);
        }
    }
}

void jumpRound(GameState& game, double at, double to, double liveFrom) {
    RoundProgress& progress = game.progress;
    progress.jumps.push_back(LoopJump{songTimeToMicros(at), songTimeToMicros(to), songTimeToMicros(liveFrom),
                                      static_cast<std::uint32_t>(progress.recorded.size()),
                                      static_cast<std::uint32_t>(progress.pauses.size())});
    progress.jumpedBack += std::max(0.0, progress.applied - to);
    // Inputs past the loop's end belong to a song that no longer plays there.
    progress.queued.clear();
    progress.applied = to;
    progress.inputsKnownUntil = to;
    progress.ignoreInputsBefore = -1e300; // a pause's replayed span lies in the pass that is over
    progress.countInUntil = liveFrom;
    progress.ghosts.clear();
    progress.recentSpawns.clear();
    // What is on screen at the loop's end goes unjudged: the passage ends there.
    game.circles.clear();
    game.holds.clear();
    for (StemCursor& cursor : progress.cursors) {
        cursor = StemCursor{};
    }
    followLayers(game, to);
}

namespace {

// Grows from 20 px a second ahead to the target radius at the note time.
float growingRadius(const Circle& circle, double songTime) {
    const float progress = static_cast<float>(std::clamp(1.0 - (circle.time - songTime), 0.0, 1.0));
    return kGrowthStartRadius + (circle.targetRadius - kGrowthStartRadius) * progress;
}

bool replayingAt(const GameState& game, double songTime) {
    return songTime < game.progress.ignoreInputsBefore;
}

bool beforeSpawn(const Circle& circle, double songTime) { return circle.time - songTime > kSpawnLookAhead; }

} // namespace

bool awaitingSpawn(const GameState& game, const Circle& circle) {
    return replayingAt(game, game.songTime) && beforeSpawn(circle, game.songTime);
}

void updateCircleLook(GameState& game, double songTime) {
    for (Circle& circle : game.circles) {
        circle.radius = circle.retired ? 0.0f : growingRadius(circle, songTime);
    }
    const bool replaying = replayingAt(game, songTime) || songTime < game.progress.countInUntil;
    for (Circle& ghost : game.progress.ghosts) {
        ghost.active =
            replaying && !beforeSpawn(ghost, songTime) && songTime <= ghost.time + ghost.holdDuration;
        ghost.radius = growingRadius(ghost, songTime);
    }
}
