// The Standard MIDI File reader: timing, pairing, merging, and its refusals.
#include "audio/midi/midi_file.hpp"
#include "midi_bytes.hpp"

#include <gtest/gtest.h>

using namespace midibytes;

TEST(MidiTiming, SecondsFollowTheTempoMapAndTheTrackLayoutStays) {
    const struct {
        const char* name;
        Bytes data;
        int track, index; // the event that is checked
        double seconds;
    } cases[] = {
        {"tempo at tick 0: two quarters a second",
         file(header(0, 1, 480),
              track({{0, tempoUs(500000)}, {0, noteOn(0, 60, 100)}, {960, noteOff(0, 60)}})),
         0, 2, 1.0},
        {"no tempo is 120 BPM, a zero tempo is ignored",
         file(header(0, 1, 100), track({{0, tempoUs(0)}, {200, noteOn(0, 1, 1)}})), 0, 1, 1.0},
        {"a change applies after its own tick",
         file(header(1, 2, 480), track({{0, tempoUs(500000)}, {480, tempoUs(1000000)}}),
              track({{0, noteOn(0, 60, 1)}, {480, noteOn(0, 61, 1)}, {480, noteOn(0, 62, 1)}})),
         1, 2, 1.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFile midi;
        ASSERT_TRUE(readInto(midi, c.data));
        const int tracks = midi.getTrackCount();
        midi.doTimeAnalysis();
        ASSERT_EQ(midi.getTrackCount(), tracks);
        EXPECT_DOUBLE_EQ(midi.getEvent(c.track, c.index).seconds, c.seconds);
    }
}

TEST(MidiPairs, OverlappingNotesOfOneKeyPairFirstInFirstOutWithinATrack) {
    MidiFile midi;
    ASSERT_TRUE(readInto(midi, file(header(0, 1, 96), track({{0, noteOn(0, 60, 100)},
                                                             {10, noteOn(0, 60, 90)},
                                                             {10, noteOff(0, 60)},
                                                             {10, noteOn(0, 60, 0)},
                                                             {0, noteOff(0, 60)},
                                                             {0, noteOn(1, 60, 5)}}))));
    EXPECT_EQ(midi.linkNotePairs(), 2);
    const SmfEvent& first = midi.getEvent(0, 0);
    const SmfEvent& second = midi.getEvent(0, 1);
    EXPECT_EQ(first.partner, &midi.getEvent(0, 2));
    EXPECT_EQ(second.partner, &midi.getEvent(0, 3)); // velocity-0 note-on is a note-off
    EXPECT_EQ(midi.getEvent(0, 2).partner, &first);
    EXPECT_EQ(midi.getEvent(0, 4).partner, nullptr); // nothing left to pair with
    EXPECT_EQ(midi.getEvent(0, 5).partner, nullptr); // never released

    // Pairs never cross tracks.
    ASSERT_TRUE(readInto(
        midi, file(header(1, 2, 96), track({{0, noteOn(0, 60, 100)}}), track({{10, noteOff(0, 60)}}))));
    EXPECT_EQ(midi.linkNotePairs(), 0);
}

TEST(MidiJoin, TempoTrackComesFirstAtEqualTicksAndReadingOrderIsKept) {
    MidiFile midi;
    ASSERT_TRUE(
        readInto(midi, file(header(1, 2, 96), track({{0, tempoUs(600000)}, {96, tempoUs(400000)}}),
                            track({{0, noteOn(0, 60, 1)}, {96, noteOn(0, 61, 1)}, {0, noteOff(0, 60)}}))));
    midi.doTimeAnalysis();
    midi.linkNotePairs();
    midi.joinTracks();
    ASSERT_EQ(midi.getTrackCount(), 1);
    std::vector<int> order;
    for (int i = 0; i < midi.getEventCount(0); ++i) {
        order.push_back(midi.getEvent(0, i).seq);
    }
    // tick 0: tempo(1), note(4); tick 96: tempo(2), EOT(3), note(5), off(6); EOT(7)
    EXPECT_EQ(order, (std::vector<int>{1, 4, 2, 3, 5, 6, 7}));
    // Pairs made before joining survive it, and splitting hands the events back to their tracks.
    EXPECT_EQ(midi.getEvent(0, 1).partner, &midi.getEvent(0, 5));
    midi.splitTracks();
    ASSERT_EQ(midi.getTrackCount(), 2);
    EXPECT_EQ(midi.getEventCount(0), 3);
    EXPECT_EQ(midi.getEventCount(1), 4);
    EXPECT_EQ(midi.getEvent(1, 1).tick, 96);
}

// Events made by hand (no reading order) sort at one tick: meta, controllers by number and value,
// note-ons by key, note-offs, end of track.
TEST(MidiJoin, SortOrdersHandMadeEventsByKind) {
    const std::vector<Bytes> want{{0xFF, 0x01, 0x00}, {0xB0, 1, 90},    {0xB0, 7, 3},   {0xB0, 7, 9},
                                  noteOn(0, 61, 1),   noteOn(0, 62, 1), noteOff(0, 61), {0xFF, 0x2F, 0x00}};
    MidiFile midi;
    for (auto it = want.rbegin(); it != want.rend(); ++it) {
        midi.tracks[0]->events.push_back(std::make_unique<SmfEvent>(SmfEvent{*it, 5}));
    }
    midi.sortTracks();
    std::vector<Bytes> got;
    for (int i = 0; i < midi.getEventCount(0); ++i) {
        got.push_back(midi.getEvent(0, i).bytes);
    }
    EXPECT_EQ(got, want);

    midi.tickState = TickState::Delta;
    EXPECT_EQ(errorsOf([&] { midi.sortTracks(); }), "Warning: Sorting only allowed in absolute tick mode.\n");
}

// An SMPTE division gives frames x subframes ticks per quarter note; only odd frame rates warn.
TEST(MidiDivision, SmpteGivesFramesTimesSubframesAndOnlyOddRatesWarn) {
    const struct {
        uint16_t division;
        int ticks;
        const char* errors;
    } cases[] = {{0xE628, 1040, "Warning: unknown FPS: 26\nUsing non-standard FPS: 26\n"},
                 {0xE250, 2400, ""},
                 {0xE350, 2320, ""},
                 {0xE728, 1000, ""},
                 {0xE850, 1920, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.division);
        MidiFile midi;
        bool ok = false;
        EXPECT_EQ(errorsOf([&] { ok = readInto(midi, file(header(0, 1, c.division), track({}))); }),
                  c.errors);
        EXPECT_TRUE(ok);
        EXPECT_EQ(midi.ticksPerQuarterNote, c.ticks);
    }
}

TEST(MidiRefusal, EveryConditionFailsWithItsMessages) {
    const Bytes goodHeader = header(0, 1, 96);
    const struct {
        const char* name;
        Bytes data;
        const char* errors;
    } cases[] = {
        {"empty input", {}, "Bad MIDI data input\n"},
        {"header ends early", Bytes{'M', 'T', 'h'},
         "In file : unexpected end of file.\nExpecting 'd' at fourth byte, but found nothing.\n"},
        {"wrong header byte", Bytes{'M', 'T', 'x', 'd'},
         "File  is not a MIDI file\nExpecting 'h' at third byte but got 'x'\n"},
        {"header size", file(Bytes{'M', 'T', 'h', 'd'}, be(7, 4)),
         "File  is not a MIDI 1.0 Standard MIDI file.\nThe header size is 7 bytes.\n"},
        {"type 0 with two tracks", header(0, 2, 96),
         "Error: Type 0 MIDI file can only contain one track\nInstead track count is: 2\n"},
        {"type 2", header(2, 1, 96), "Error: cannot handle a type-2 MIDI file\n"},
        {"header fields end early", file(Bytes{'M', 'T', 'h', 'd'}, be(6, 4), Bytes{0}),
         "Error: unexpected end of file.\n"},
        {"zero division", file(header(0, 1, 0), track({})),
         "Error: the division gives 0 ticks per quarter note\n"},
        {"zero SMPTE subframes", file(header(0, 1, 0xE700), track({})),
         "Error: the division gives 0 ticks per quarter note\n"},
        {"missing track", goodHeader,
         "In file : unexpected end of file.\nExpecting 'M' at first byte in track, but found nothing.\n"},
        {"wrong track magic", file(goodHeader, Bytes{'M', 'T', 'r', 'x'}),
         "File  is not a MIDI file\nExpecting 'k' at fourth byte in track but got 'x'\n"},
        // The delta time and then the message both meet the end of the data.
        {"no end of track", file(goodHeader, track({{0, noteOn(0, 60, 1)}}, false)),
         "Error: unexpected end of file.\nError: unexpected end of file.\n"},
        {"data byte with high bit", file(goodHeader, track({{0, {0x90, 0x3C, 0x80}}})),
         "MIDI data byte too large: 128\n"},
        {"running status first", file(goodHeader, track({{0, {0x3C, 0x40}}})),
         "Error: running command with no previous command\n"},
        {"running status after meta", file(goodHeader, track({{0, {0xFF, 0x01, 0x00}}, {0, {0x0C, 0x40}}})),
         "Error: running status not permitted with meta and sysex event.\nByte is 0xc\n"},
        {"meta length of five bytes",
         file(goodHeader, track({{0, {0xFF, 0x01, 0x80, 0x80, 0x80, 0x80, 0x01}}})),
         "Error: cannot handle large VLVs\n"},
        {"delta of five continued bytes",
         file(goodHeader,
              Bytes{'M', 'T', 'r', 'k', 0, 0, 0, 8, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF, 0x2F, 0x00}),
         "VLV number is too large\n"},
        {"ticks past 32 bits", file(goodHeader, track({{0x7FFFFFFF, {0xF8}}, {1, {0xF8}}})),
         "Error: tick value too large in track 0\n"},
        {"text that is no MIDI", Bytes{'4', '1', ' ', '4', '2'}, "Bad MIDI data input\n"},
        // Forged lengths stop at the end of the data.
        {"huge meta length", file(goodHeader, track({{0, {0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}}}, false)),
         "Error: unexpected end of file.\n"},
        {"huge sysex length", file(goodHeader, track({{0, {0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 1}}}, false)),
         "Error: unexpected end of file.\n"},
        {"huge escape length", file(goodHeader, track({{0, {0xF7, 0xFF, 0xFF, 0xFF, 0x7F, 1}}}, false)),
         "Error: unexpected end of file.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFile midi;
        bool ok = true;
        EXPECT_EQ(errorsOf([&] { ok = readInto(midi, c.data); }), c.errors);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(midi.status);
    }
}

TEST(MidiRefusal, EveryTruncationFailsWithAMessageAndKeepsTheEventsReadSoFar) {
    const Bytes whole =
        file(header(1, 2, 96), track({{0, tempoUs(500000)}, {0, {0xFF, 0x03, 0x02, 'h', 'i'}}}),
             track({{0, {0xF0, 0x02, 0x7E, 0xF7}},
                    {0, noteOn(0, 60, 100)},
                    {200, {0x3E, 0x50}},
                    {0x4000, noteOff(0, 60)},
                    {0, {0xC1, 0x05}}}));
    MidiFile midi;
    bool ok = false;
    EXPECT_EQ(errorsOf([&] { ok = readInto(midi, whole); }), "");
    ASSERT_TRUE(ok);
    for (size_t size = 0; size < whole.size(); ++size) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<long>(size));
        MidiFile cut;
        const std::string errors = errorsOf([&] { ok = readInto(cut, part); });
        EXPECT_FALSE(ok) << "size " << size;
        EXPECT_TRUE(errors.find("end of file.") != std::string::npos || errors == "Bad MIDI data input\n")
            << "size " << size << ": " << errors;
        if (size == whole.size() - 1) { // the events read before the failure stay
            ASSERT_EQ(cut.getTrackCount(), 2);
            EXPECT_EQ(cut.getEventCount(0), 3);
            EXPECT_EQ(cut.getEventCount(1), 5);
        }
    }
}

TEST(MidiForgedLength, HugeChunkLengthOrTrackCountReservesOnlyWhatTheDataCanHold) {
    Bytes data = file(header(0, 1, 96), track({{0, noteOn(0, 60, 1)}, {10, noteOff(0, 60)}}));
    data[18] = data[19] = data[20] = data[21] = 0xFF; // chunk length 0xFFFFFFFF
    const auto reservedEvents = [](const MidiFile& midi) {
        size_t total = 0;
        for (const auto& t : midi.tracks) {
            total += t->events.capacity();
        }
        return total;
    };
    MidiFile midi;
    ASSERT_TRUE(readInto(midi, data));
    EXPECT_EQ(midi.getEventCount(0), 3);
    EXPECT_LT(reservedEvents(midi), 64u);

    bool ok = true;
    EXPECT_EQ(
        errorsOf([&] { ok = readInto(midi, file(header(1, 0xFFFF, 96), track({}))); }),
        "In file : unexpected end of file.\nExpecting 'M' at first byte in track, but found nothing.\n");
    EXPECT_FALSE(ok);
    EXPECT_LT(midi.getTrackCount(), 4) << "tracks are made only as far as the data could hold them";
    EXPECT_LT(reservedEvents(midi), 64u);
}

TEST(MidiMessages, SystemMessagesMetaAndSysexKeepTheirBytes) {
    Bytes longMeta{0xFF, 0x01, 0x81, 0x00};
    longMeta.resize(longMeta.size() + 128, 'x');
    MidiFile midi;
    ASSERT_TRUE(readInto(midi, file(header(0, 1, 96), track({{0, {0xF0, 0x03, 0x01, 0x02, 0xF7}},
                                                             {0, {0xF7, 0x00}},
                                                             {0, {0xF4}},
                                                             {0, longMeta},
                                                             {0, {0xD2, 0x33}},
                                                             {0, {0x44}}}))));
    ASSERT_EQ(midi.getEventCount(0), 7);
    EXPECT_EQ(midi.getEvent(0, 0).bytes, (Bytes{0xF0, 0x01, 0x02, 0xF7}));
    EXPECT_EQ(midi.getEvent(0, 1).bytes, (Bytes{0xF7}));
    EXPECT_EQ(midi.getEvent(0, 2).bytes, (Bytes{0xF4}));
    EXPECT_EQ(midi.getEvent(0, 3).bytes, longMeta);            // the length's two bytes are kept
    EXPECT_EQ(midi.getEvent(0, 5).bytes, (Bytes{0xD2, 0x44})); // running status
    EXPECT_TRUE(isEndOfTrack(midi.getEvent(0, 6)));
}
