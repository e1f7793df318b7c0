#include "audio/midi/midi_file.hpp"

#include "base/log.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

// ---- Message accessors ----

static int statusByte(const SmfEvent& event) { return event.bytes.empty() ? -1 : event.bytes[0]; }

int eventChannel(const SmfEvent& event) { return event.bytes.empty() ? -1 : (event.bytes[0] & 0x0F); }

bool isController(const SmfEvent& event) {
    return event.bytes.size() == 3 && (event.bytes[0] & 0xF0) == 0xB0;
}

int controllerNumber(const SmfEvent& event) { return isController(event) ? (event.bytes[1] & 0x7F) : -1; }

int controllerValue(const SmfEvent& event) { return isController(event) ? (event.bytes[2] & 0x7F) : -1; }

bool isNoteOn(const SmfEvent& event) {
    return event.bytes.size() == 3 && (event.bytes[0] & 0xF0) == 0x90 && event.bytes[2] != 0;
}

bool isNoteOff(const SmfEvent& event) {
    if (event.bytes.size() != 3) {
        return false;
    }
    const int command = event.bytes[0] & 0xF0;
    return command == 0x80 || (command == 0x90 && event.bytes[2] == 0);
}

int keyNumber(const SmfEvent& event) {
    if (event.bytes.size() != 3) {
        return -1;
    }
    const int command = event.bytes[0] & 0xF0;
    return (command == 0x80 || command == 0x90 || command == 0xA0) ? event.bytes[1] : -1;
}

int velocity(const SmfEvent& event) {
    if (event.bytes.size() != 3) {
        return -1;
    }
    const int command = event.bytes[0] & 0xF0;
    return (command == 0x80 || command == 0x90) ? event.bytes[2] : -1;
}

bool isMeta(const SmfEvent& event) { return event.bytes.size() >= 2 && event.bytes[0] == 0xFF; }

bool isEndOfTrack(const SmfEvent& event) { return isMeta(event) && event.bytes[1] == 0x2F; }

bool isTempo(const SmfEvent& event) {
    return event.bytes.size() == 6 && event.bytes[0] == 0xFF && event.bytes[1] == 0x51;
}

int tempoMicroseconds(const SmfEvent& event) {
    if (!isTempo(event)) {
        return -1;
    }
    return (event.bytes[3] << 16) | (event.bytes[4] << 8) | event.bytes[5];
}

double tempoBpm(const SmfEvent& event) {
    // A tempo of 0 microseconds per quarter note has no BPM; answering infinity would spread
    // through every time computed from it.
    const int microseconds = tempoMicroseconds(event);
    return microseconds > 0 ? 60000000.0 / microseconds : -1.0;
}

double secondsPerTick(const SmfEvent& event, int ticksPerQuarterNote) {
    const int microseconds = tempoMicroseconds(event);
    if (microseconds < 0 || ticksPerQuarterNote <= 0) {
        return -1.0;
    }
    return microseconds / 1000000.0 / ticksPerQuarterNote;
}

double durationSeconds(const SmfEvent& event) {
    return event.partner ? std::fabs(event.partner->seconds - event.seconds) : 0.0;
}

// ---- Construction and access ----

MidiFile::MidiFile() { tracks.push_back(std::make_unique<SmfTrack>()); }

int MidiFile::getEventCount(int track) const { return static_cast<int>(tracks[track]->events.size()); }

const SmfEvent& MidiFile::getEvent(int track, int index) const { return *tracks[track]->events[index]; }

// ---- Tick modes ----

static void makeAbsoluteTicks(MidiFile& midi) {
    if (midi.tickState == TickState::Absolute) {
        return;
    }
    for (auto& track : midi.tracks) {
        int64_t tick = 0;
        for (auto& event : track->events) {
            tick += event->tick;
            event->tick = static_cast<int32_t>(std::min<int64_t>(tick, INT32_MAX));
        }
    }
    midi.tickState = TickState::Absolute;
}

static void makeDeltaTicks(MidiFile& midi) {
    if (midi.tickState == TickState::Delta) {
        return;
    }
    for (auto& track : midi.tracks) {
        int32_t previous = 0;
        for (auto& event : track->events) {
            const int32_t absolute = event->tick;
            event->tick = absolute - previous;
            previous = absolute;
        }
    }
    midi.tickState = TickState::Delta;
}

// ---- Sorting, joining and splitting ----

static bool isNoteMessage(const SmfEvent& event) { return isNoteOn(event) || isNoteOff(event); }

// Order of events within a track: by tick; events read from a file then by reading order. The
// remaining rules give events made by hand a musically sensible order at equal ticks.
static bool eventBefore(const SmfEvent& a, const SmfEvent& b) {
    if (a.tick != b.tick) {
        return a.tick < b.tick;
    }
    if (a.seq != 0 && b.seq != 0) {
        return a.seq < b.seq;
    }
    const bool aEnd = isEndOfTrack(a);
    const bool bEnd = isEndOfTrack(b);
    if (aEnd != bEnd) {
        return bEnd;
    }
    const bool aMeta = statusByte(a) == 0xFF;
    const bool bMeta = statusByte(b) == 0xFF;
    if (aMeta || bMeta) {
        return aMeta && !bMeta;
    }
    const bool aNote = isNoteMessage(a);
    const bool bNote = isNoteMessage(b);
    if (aNote != bNote) {
        return bNote;
    }
    if (aNote) {
        const bool aOn = isNoteOn(a);
        const bool bOn = isNoteOn(b);
        if (aOn != bOn) {
            return aOn;
        }
        return keyNumber(a) < keyNumber(b);
    }
    if (isController(a) && isController(b)) {
        if (controllerNumber(a) != controllerNumber(b)) {
            return controllerNumber(a) < controllerNumber(b);
        }
        return controllerValue(a) < controllerValue(b);
    }
    return false;
}

void MidiFile::sortTracks() {
    if (tickState != TickState::Absolute) {
        logError(stderr, "Warning: Sorting only allowed in absolute tick mode.");
        return;
    }
    // A merge sort: the mixed rules above are not a strict weak order when events with and
    // without sequence numbers meet, and a merge sort stays within bounds even then.
    for (auto& track : tracks) {
        std::stable_sort(track->events.begin(), track->events.end(),
                         [](const std::unique_ptr<SmfEvent>& a, const std::unique_ptr<SmfEvent>& b) {
                             return eventBefore(*a, *b);
                         });
    }
}

void MidiFile::joinTracks() {
    if (trackState == TrackState::Joined) {
        return;
    }
    if (tracks.size() == 1) {
        trackState = TrackState::Joined;
        return;
    }
    auto joined = std::make_unique<SmfTrack>();
    size_t total = 0;
    for (const auto& track : tracks) {
        total += track->events.size();
    }
    joined->events.reserve(total);
    for (auto& track : tracks) {
        for (auto& event : track->events) {
            joined->events.push_back(std::move(event));
        }
    }
    tracks.clear();
    tracks.push_back(std::move(joined));
    timeMapValid = false;
    timeMap.clear();
    sortTracks();
    trackState = TrackState::Joined;
}

void MidiFile::splitTracks() {
    if (trackState != TrackState::Joined) {
        return;
    }
    int32_t largest = 0;
    for (const auto& track : tracks) {
        for (const auto& event : track->events) {
            largest = std::max(largest, event->track);
        }
    }
    const int32_t count = largest + 1;
    if (count < 2) {
        return;
    }
    std::vector<std::unique_ptr<SmfTrack>> split;
    split.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        split.push_back(std::make_unique<SmfTrack>());
    }
    for (auto& track : tracks) {
        for (auto& event : track->events) {
            const int32_t target = std::max<int32_t>(event->track, 0);
            split[static_cast<size_t>(target)]->events.push_back(std::move(event));
        }
    }
    tracks = std::move(split);
    trackState = TrackState::Split;
}

// ---- Time analysis ----

void MidiFile::doTimeAnalysis() {
    const TrackState oldTrackState = trackState;
    const TickState oldTickState = tickState;
    makeAbsoluteTicks(*this);
    joinTracks();

    // Only a hand-made file can have a division of 0; reading refuses it.
    const int ticksPerQuarter = ticksPerQuarterNote > 0 ? ticksPerQuarterNote : 120;
    double spt = 60.0 / (120.0 * ticksPerQuarter); // the default tempo is 120 BPM
    int32_t lastTick = 0;
    double lastSeconds = 0.0;
    bool first = true;
    timeMap.clear();
    for (auto& track : tracks) {
        for (auto& event : track->events) {
            if (first || event->tick > lastTick) {
                lastSeconds += static_cast<double>(event->tick - lastTick) * spt;
                lastTick = event->tick;
                timeMap.push_back({lastTick, lastSeconds});
                first = false;
            }
            event->seconds = lastSeconds;
            // A tempo change applies to the events after its tick, not to those at it.
            if (isTempo(*event) && tempoMicroseconds(*event) > 0) {
                spt = secondsPerTick(*event, ticksPerQuarter);
            }
        }
    }

    if (oldTrackState == TrackState::Split) {
        splitTracks();
    }
    if (oldTickState == TickState::Delta) {
        makeDeltaTicks(*this);
    }
    timeMapValid = true;
}

// ---- Note pairs ----

int MidiFile::linkNotePairs() {
    for (auto& track : tracks) {
        for (auto& event : track->events) {
            event->partner = nullptr;
        }
    }
    // One first-in-first-out queue of unpaired note-ons per channel and key, made only for the
    // keys that occur.
    struct Queue {
        std::vector<SmfEvent*> waiting;
        size_t head = 0;
    };
    std::unordered_map<int, Queue> queues;
    int pairs = 0;
    for (auto& track : tracks) {
        queues.clear();
        for (auto& event : track->events) {
            const bool on = isNoteOn(*event);
            if (!on && !isNoteOff(*event)) {
                continue;
            }
            Queue& queue = queues[eventChannel(*event) * 128 + keyNumber(*event)];
            if (on) {
                queue.waiting.push_back(event.get());
            } else if (queue.head < queue.waiting.size()) {
                SmfEvent* noteOn = queue.waiting[queue.head++];
                noteOn->partner = event.get();
                event->partner = noteOn;
                ++pairs;
            }
        }
    }
    notesLinked = true;
    return pairs;
}
