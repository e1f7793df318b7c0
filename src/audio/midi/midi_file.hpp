#pragma once
// Standard MIDI File reader: reads format 0 and 1 files (or their text rendering) into tracks of
// timed events, gives every event its time in seconds, pairs note-ons with their note-offs and
// merges the tracks into one list in time order. Nothing here writes MIDI files.
//
// Plain data and code with no window or audio device: any thread may use a MidiFile it owns.
// Diagnostics go to standard error, one line each.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// One MIDI message at its time.
struct SmfEvent {
    // The complete message: status byte and data bytes; for meta events 0xFF, type, the length
    // bytes as read, then the data; for system exclusive 0xF0 or 0xF7 and the data bytes.
    std::vector<uint8_t> bytes;
    int32_t tick = 0;            // absolute tick (a delta while the file's ticks are deltas)
    int32_t track = 0;           // index of the track the event was read from
    double seconds = 0.0;        // time from the start of the file, set by the time analysis
    int32_t seq = 0;             // reading order from 1 across all tracks; 0 when not made by reading
    SmfEvent *partner = nullptr; // note-on <-> note-off link; not owned
};

// ---- Message accessors ----
// A message of the wrong kind or size answers -1, false or -1.0.

int eventChannel(const SmfEvent &event);      // low nibble of the status byte
bool isController(const SmfEvent &event);     // 3 bytes, status 0xB0..0xBF
int controllerNumber(const SmfEvent &event);  // byte 1 of a control change, 7 bits
int controllerValue(const SmfEvent &event);   // byte 2 of a control change, 7 bits
bool isNoteOn(const SmfEvent &event);         // 3 bytes, 0x9n, velocity not 0
bool isNoteOff(const SmfEvent &event);        // 3 bytes, 0x8n, or 0x9n with velocity 0
int keyNumber(const SmfEvent &event);         // byte 1 of a 3-byte 0x8n, 0x9n or 0xAn message
int velocity(const SmfEvent &event);          // byte 2 of a 3-byte 0x8n or 0x9n message
bool isMeta(const SmfEvent &event);           // first byte 0xFF with a type byte
bool isEndOfTrack(const SmfEvent &event);     // meta type 0x2F
bool isTempo(const SmfEvent &event);          // 0xFF 0x51 with 3 data bytes (6 bytes in all)
int tempoMicroseconds(const SmfEvent &event); // microseconds per quarter note of a tempo event
double tempoBpm(const SmfEvent &event);       // 60 000 000 / microseconds; -1.0 for 0 microseconds
double secondsPerTick(const SmfEvent &event, int ticksPerQuarterNote);
double durationSeconds(const SmfEvent &event); // |seconds - partner's seconds|, 0 without partner

// An ordered list of owned events. Events live behind pointers so that joining and splitting
// move them between tracks without copying, and partner links stay valid.
struct SmfTrack {
    std::vector<std::unique_ptr<SmfEvent>> events;
};

enum class TrackState { Split = 0, Joined = 1 };
enum class TickState { Delta = 0, Absolute = 1 };

struct TimeMapEntry {
    int32_t tick = 0;
    double seconds = 0.0;
};

// A Standard MIDI File in memory. A new object holds one empty track, 120 ticks per quarter note,
// split tracks, absolute ticks and status true. Movable, not copyable.
struct MidiFile {
    std::vector<std::unique_ptr<SmfTrack>> tracks;
    int32_t ticksPerQuarterNote = 120;
    TrackState trackState = TrackState::Split;
    TickState tickState = TickState::Absolute;
    std::string fileName; // name used in messages; empty when read from memory
    bool timeMapValid = false;
    std::vector<TimeMapEntry> timeMap; // one entry per distinct tick, from the time analysis
    bool status = true;                // result of the last read
    bool notesLinked = false;

    MidiFile();

    // Replaces the contents with the file in the stream: binary when its next byte is 'M',
    // otherwise a text rendering that is converted first (MidiTextConverter). Reads at most to the
    // end of the stream. Returns `status`; on failure the events read so far stay.
    bool read(std::istream &input);

    // Gives every event its `seconds` from the tempo events (120 BPM until the first one).
    // Leaves the track layout as it was.
    void doTimeAnalysis();

    // Pairs every note-off with the oldest unpaired note-on of its channel and key, within each
    // track. Returns the number of pairs.
    int linkNotePairs();

    // Merges all tracks into one, ordered by tick and, at equal ticks, by reading order.
    void joinTracks();

    // Hands the events of a joined file back to the tracks they were read from.
    void splitTracks();

    // Sorts each track by tick (see the comparator in the source). Absolute ticks only.
    void sortTracks();

    int getTrackCount() const { return static_cast<int>(tracks.size()); }
    int getEventCount(int track) const;
    // Event `index` of track `track`; both must be in range.
    const SmfEvent &getEvent(int track, int index) const;
};
