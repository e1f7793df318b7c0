#pragma once
// Recognising stem audio from its bytes before it is decoded: the container (WAV and its
// relatives, FLAC, MP3 found behind tags, padding and junk, Ogg Vorbis), the WAV encodings the
// decoder is given, and an MP3's encoder delay and padding. Pure functions that never read past
// `size`; any thread.
#include <cstddef>
#include <cstdint>

enum class AudioContainer { Unknown, Wav, Flac, Mp3, Vorbis };

// The container of the file whose bytes are `data`.
AudioContainer detectContainer(const unsigned char* data, size_t size);

// Offset of the first MPEG audio frame behind tags, padding and junk: the first frame header that
// another header of the same stream follows where its frame ends (or whose frame ends the data).
// `size` when there is none.
size_t findMp3Stream(const unsigned char* data, size_t size);

// True when a WAV-family file's encoding is one the decoder may be given.
bool wavEncodingAccepted(const unsigned char* data, size_t size);

// Encoder delay and padding of an MP3 with a Xing/Info header, in decoder output frames: the
// frames to drop at the start (the header frame itself, the encoder delay and the decoder's own
// delay) and at the end. found is false when the stream carries no such header.
struct Mp3Trim {
    bool found = false;
    uint64_t leadingFrames = 0;
    uint64_t trailingFrames = 0;
    uint64_t recordedFrames = 0; // the header's frame count in samples, its own frame included (0: none)
};

// Reads the Xing/Info (and LAME) header of the first MP3 frame, found behind any ID3v2 tags,
// padding and junk. Returns the trim to apply; never reads past size.
Mp3Trim readMp3Trim(const unsigned char* data, size_t size);
