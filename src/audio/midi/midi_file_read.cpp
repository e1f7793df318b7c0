// Reading a Standard MIDI File (or its text rendering) into a MidiFile.
#include "audio/midi/midi_file.hpp"
#include "audio/midi/midi_text_converter.hpp"
#include "base/log.hpp"

#include <algorithm>
#include <climits>
#include <iostream>
#include <sstream>

namespace {

// ---- Byte source ----

// Takes bytes one at a time from a stream. Knows how many bytes are left when the stream can
// tell, so that lengths written in the file are never trusted beyond the data.
struct ByteSource {
    std::istream& in;
    uint64_t left = 0; // bytes left after the current position, 0 when the stream cannot tell

    explicit ByteSource(std::istream& input) : in(input) {
        const std::streampos here = in.tellg();
        if (here != std::streampos(-1) && in.seekg(0, std::ios::end)) {
            const std::streampos end = in.tellg();
            if (end != std::streampos(-1) && end >= here) {
                left = static_cast<uint64_t>(end - here);
            }
            in.seekg(here);
        }
        in.clear();
    }

    // The next byte 0..255, or -1 at the end of the data.
    int take() {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            return -1;
        }
        if (left > 0) {
            --left;
        }
        return c & 0xFF;
    }
};

const char* const kOrdinals[4] = {"first", "second", "third", "fourth"};

void reportEnd() { logError(stderr, "Error: unexpected end of file."); }

// Expects the four magic letters of the header ("MThd") or of a track ("MTrk").
bool expectMagic(ByteSource& src, const char* magic, const std::string& name, bool inTrack) {
    const char* where = inTrack ? " in track" : "";
    for (int i = 0; i < 4; ++i) {
        const int c = src.take();
        if (c < 0) {
            logError(stderr, "In file %s: unexpected end of file.", name.c_str());
            logError(stderr, "Expecting '%c' at %s byte%s, but found nothing.", magic[i], kOrdinals[i],
                     where);
            return false;
        }
        if (c != static_cast<unsigned char>(magic[i])) {
            logError(stderr, "File %s is not a MIDI file", name.c_str());
            logError(stderr, "Expecting '%c' at %s byte%s but got '%c'", magic[i], kOrdinals[i], where,
                     static_cast<char>(c));
            return false;
        }
    }
    return true;
}

// A big-endian number of `count` bytes (1..4). False at the end of the data.
bool takeBigEndian(ByteSource& src, int count, uint32_t& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        const int c = src.take();
        if (c < 0) {
            reportEnd();
            return false;
        }
        value = (value << 8) | static_cast<uint32_t>(c);
    }
    return true;
}

// A variable-length quantity of at most 5 bytes (delta times, system exclusive lengths). Problems
// clear `status` and count as 0, as the caller goes on to read the message.
uint64_t takeVariableLength(ByteSource& src, bool& status) {
    uint64_t value = 0;
    for (int i = 0; i < 5; ++i) {
        const int c = src.take();
        if (c < 0) {
            reportEnd();
            status = false;
            return 0;
        }
        value = (value << 7) | static_cast<uint64_t>(c & 0x7F);
        if (c < 0x80) {
            return value;
        }
    }
    logError(stderr, "VLV number is too large");
    status = false;
    return 0;
}

// `count` bytes appended to `bytes`, one at a time so that a forged length costs nothing beyond
// the data actually present.
bool takeBytes(ByteSource& src, uint64_t count, std::vector<uint8_t>& bytes, bool& status) {
    for (uint64_t i = 0; i < count; ++i) {
        const int c = src.take();
        if (c < 0) {
            reportEnd();
            status = false;
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(c));
    }
    return true;
}

// ---- Messages ----

// One message into `bytes`, given the running status byte of the track (0 for none).
bool takeMessage(ByteSource& src, int& runningStatus, std::vector<uint8_t>& bytes, bool& status) {
    int c = src.take();
    if (c < 0) {
        reportEnd();
        return false;
    }
    int pendingData = -1; // a data byte already taken under running status
    int command = c;
    if (c >= 0x80) {
        runningStatus = c;
    } else {
        if (runningStatus == 0) {
            logError(stderr, "Error: running command with no previous command");
            return false;
        }
        if (runningStatus >= 0xF0) {
            logError(stderr, "Error: running status not permitted with meta and sysex event.");
            logError(stderr, "Byte is 0x%x", static_cast<unsigned>(c));
            return false;
        }
        command = runningStatus;
        pendingData = c;
    }
    bytes.push_back(static_cast<uint8_t>(command));

    int dataBytes = 0;
    switch (command & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
        dataBytes = 2;
        break;
    case 0xC0:
    case 0xD0:
        dataBytes = 1;
        break;
    default:
        break;
    }
    if (dataBytes > 0) {
        for (int i = 0; i < dataBytes; ++i) {
            int data = pendingData;
            pendingData = -1;
            if (data < 0) {
                data = src.take();
                if (data < 0) {
                    reportEnd();
                    return false;
                }
            }
            if (data >= 0x80) {
                logError(stderr, "MIDI data byte too large: %d", data);
                status = false;
                return false;
            }
            bytes.push_back(static_cast<uint8_t>(data));
        }
        return true;
    }

    if (command == 0xF0 || command == 0xF7) {
        const uint64_t length = takeVariableLength(src, status);
        return takeBytes(src, length, bytes, status);
    }
    if (command == 0xFF) {
        const int type = src.take();
        if (type < 0) {
            reportEnd();
            status = false;
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(type));
        uint64_t length = 0;
        for (int i = 0; i < 4; ++i) {
            const int b = src.take();
            if (b < 0) {
                reportEnd();
                status = false;
                return false;
            }
            bytes.push_back(static_cast<uint8_t>(b));
            length = (length << 7) | static_cast<uint64_t>(b & 0x7F);
            if (b < 0x80) {
                break;
            }
            if (i == 3) {
                logError(stderr, "Error: cannot handle large VLVs");
                status = false;
                return false;
            }
        }
        return takeBytes(src, length, bytes, status);
    }
    // Other system messages (0xF1..0xFE) are the status byte alone.
    return true;
}

// ---- Chunks ----

bool readTrack(MidiFile& midi, ByteSource& src, int32_t trackIndex) {
    if (!expectMagic(src, "MTrk", midi.fileName, true)) {
        return false;
    }
    uint32_t chunkLength = 0;
    if (!takeBigEndian(src, 4, chunkLength)) {
        return false;
    }
    // The length is only a hint for the reservation (every event takes at least two bytes), and a
    // forged one must not reserve more than the data left can hold.
    const uint64_t hinted = std::min<uint64_t>(chunkLength, src.left) / 2;
    SmfTrack& track = *midi.tracks[static_cast<size_t>(trackIndex)];
    track.events.reserve(track.events.size() + hinted);

    int runningStatus = 0;
    int64_t tick = 0;
    for (;;) {
        tick += static_cast<int64_t>(takeVariableLength(src, midi.status));
        if (tick > INT32_MAX) {
            logError(stderr, "Error: tick value too large in track %lld", static_cast<long long>(trackIndex));
            return false;
        }
        auto event = std::make_unique<SmfEvent>();
        if (!takeMessage(src, runningStatus, event->bytes, midi.status)) {
            return false;
        }
        event->tick = static_cast<int32_t>(tick);
        event->track = trackIndex;
        const bool end = isEndOfTrack(*event);
        track.events.push_back(std::move(event));
        if (end) {
            return true;
        }
    }
}

bool readBinary(MidiFile& midi, ByteSource& src) {
    const std::string& name = midi.fileName;
    if (!expectMagic(src, "MThd", name, false)) {
        return false;
    }
    uint32_t headerSize = 0;
    if (!takeBigEndian(src, 4, headerSize)) {
        return false;
    }
    if (headerSize != 6) {
        logError(stderr, "File %s is not a MIDI 1.0 Standard MIDI file.", name.c_str());
        logError(stderr, "The header size is %u bytes.", static_cast<unsigned>(headerSize));
        return false;
    }

    uint32_t format = 0;
    uint32_t trackCount = 0;
    if (!takeBigEndian(src, 2, format)) {
        return false;
    }
    if (format == 0) {
        if (!takeBigEndian(src, 2, trackCount)) {
            return false;
        }
        if (trackCount != 1) {
            logError(stderr, "Error: Type 0 MIDI file can only contain one track");
            logError(stderr, "Instead track count is: %lld", static_cast<long long>(trackCount));
            return false;
        }
    } else if (format == 1) {
        if (!takeBigEndian(src, 2, trackCount)) {
            return false;
        }
    } else {
        logError(stderr, "Error: cannot handle a type-%u MIDI file", static_cast<unsigned>(format));
        return false;
    }

    midi.tracks.clear();
    midi.trackState = TrackState::Split;
    midi.tickState = TickState::Absolute;
    midi.timeMapValid = false;
    midi.timeMap.clear();
    midi.notesLinked = false;
    // Room for 10 000 events per track, but never more than the data left could fill: a forged
    // track count must not reserve gigabytes. Nor are tracks made ahead beyond what the data left
    // could hold (each takes at least its 8-byte header): the rest, if the file really has them,
    // are made as they are read.
    const uint64_t perTrack = trackCount > 0 ? std::min<uint64_t>(10000, src.left / 2 / trackCount) : 0;
    const uint64_t madeAhead = src.left > 0 ? std::min<uint64_t>(trackCount, src.left / 8) : trackCount;
    midi.tracks.reserve(static_cast<std::size_t>(madeAhead));
    for (uint64_t t = 0; t < madeAhead; ++t) {
        midi.tracks.push_back(std::make_unique<SmfTrack>());
        midi.tracks.back()->events.reserve(perTrack);
    }

    uint32_t division = 0;
    if (!takeBigEndian(src, 2, division)) {
        return false;
    }
    if (division < 0x8000) {
        midi.ticksPerQuarterNote = static_cast<int32_t>(division);
    } else {
        const int high = static_cast<int>(division >> 8);
        const int fps = 256 - high;
        const int subframes = static_cast<int>(division & 0xFF);
        if (high != 0xE2 && high != 0xE3 && high != 0xE7 && high != 0xE8) {
            logError(stderr, "Warning: unknown FPS: %d", fps);
            logError(stderr, "Using non-standard FPS: %d", fps);
        }
        midi.ticksPerQuarterNote = (subframes * fps) & 0xFFFF;
    }
    // Every time in seconds is divided by the ticks per quarter note.
    if (midi.ticksPerQuarterNote == 0) {
        logError(stderr, "Error: the division gives 0 ticks per quarter note");
        return false;
    }

    for (uint32_t t = 0; t < trackCount; ++t) {
        if (t >= midi.tracks.size()) {
            midi.tracks.push_back(std::make_unique<SmfTrack>());
        }
        if (!readTrack(midi, src, static_cast<int32_t>(t))) {
            return false;
        }
    }

    midi.tickState = TickState::Absolute;
    int32_t seq = 1;
    for (auto& track : midi.tracks) {
        for (auto& event : track->events) {
            event->seq = seq++;
        }
    }
    return midi.status;
}

} // namespace

// ---- MidiFile::read ----

bool MidiFile::read(std::istream& input) {
    status = true;
    if (input.peek() == 'M') {
        ByteSource src(input);
        status = readBinary(*this, src) && status;
        return status;
    }
    std::string bytes;
    MidiTextConverter converter;
    converter.convert(input, bytes);
    std::istringstream converted(bytes);
    if (converted.peek() != 'M') {
        logError(stderr, "Bad MIDI data input");
        status = false;
        return false;
    }
    ByteSource src(converted);
    status = readBinary(*this, src) && status;
    return status;
}
