#include "audio/audio_format.hpp"

#include <cstring>

namespace {

// Length of an ID3v2 tag at the start of the data (header and footer included), or 0.
size_t id3v2Length(const unsigned char* data, size_t size) {
    if (size < 10 || std::memcmp(data, "ID3", 3) != 0) {
        return 0;
    }
    if ((data[6] | data[7] | data[8] | data[9]) & 0x80) {
        return 0; // not a synchsafe size: not a tag
    }
    size_t length = (size_t(data[6]) << 21) | (size_t(data[7]) << 14) | (size_t(data[8]) << 7) | data[9];
    length += 10;
    if (data[5] & 0x10) {
        length += 10; // footer
    }
    return length;
}

// Where the audio starts behind the ID3v2 tags at the front of the data, and the zero padding that
// may follow a tag (also between two tags). size when nothing follows them.
size_t skipTags(const unsigned char* data, size_t size) {
    size_t pos = 0;
    while (pos < size) {
        const size_t tag = id3v2Length(data + pos, size - pos);
        if (tag > 0) {
            if (tag >= size - pos) {
                return size;
            }
            pos += tag;
        } else if (pos > 0 && data[pos] == 0) {
            while (pos < size && data[pos] == 0) {
                ++pos;
            }
        } else {
            break;
        }
    }
    return pos;
}

struct Mp3Header {
    unsigned version = 0; // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    unsigned layer = 0;   // 3 = Layer I, 2 = Layer II, 1 = Layer III
    unsigned rateIndex = 0;
    bool mpeg1 = false;
    bool mono = false;
    bool crc = false;
    bool layer3 = false;
    size_t frameBytes = 0; // the whole frame, header included; 0 for a free-format stream
};

// Parses the 4-byte MPEG audio frame header at h; false when it is not one.
bool parseMp3Header(const unsigned char* h, Mp3Header& header) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
        return false;
    }
    const unsigned version = (h[1] >> 3) & 3;
    const unsigned layer = (h[1] >> 1) & 3;
    const unsigned bitrate = h[2] >> 4;
    const unsigned rate = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrate == 15 || rate == 3) {
        return false;
    }
    header.version = version;
    header.layer = layer;
    header.rateIndex = rate;
    header.mpeg1 = version == 3;
    header.layer3 = layer == 1;
    header.crc = (h[1] & 1) == 0;
    header.mono = (h[3] >> 6) == 3;

    // Bit rates in kbit/s by MPEG-1 or not, layer (I, II, III) and index; sample rates by version.
    static const unsigned short kBitrates[2][3][15] = {
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};
    static const unsigned kRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const size_t bitsPerSecond = size_t(kBitrates[header.mpeg1 ? 1 : 0][3 - layer][bitrate]) * 1000;
    const size_t sampleRate = kRates[version][rate];
    const size_t padding = (h[2] >> 1) & 1;
    if (bitsPerSecond == 0) {
        header.frameBytes = 0;
    } else if (layer == 3) {
        header.frameBytes = (12 * bitsPerSecond / sampleRate + padding) * 4;
    } else if (layer == 1 && !header.mpeg1) {
        header.frameBytes = 72 * bitsPerSecond / sampleRate + padding;
    } else {
        header.frameBytes = 144 * bitsPerSecond / sampleRate + padding;
    }
    return true;
}

} // namespace

// Offset of the first MPEG audio frame behind tags, padding and junk: the first frame header that
// another header of the same stream follows where its frame ends. Without such a pair, a header
// whose frame ends the data (a one-frame file). size when there is none.
size_t findMp3Stream(const unsigned char* data, size_t size) {
    size_t lone = size;
    for (size_t pos = skipTags(data, size); pos + 4 <= size; ++pos) {
        Mp3Header header;
        if (data[pos] != 0xFF || !parseMp3Header(data + pos, header) || header.frameBytes == 0) {
            continue;
        }
        const size_t next = pos + header.frameBytes;
        Mp3Header following;
        if (next <= size - 4 && parseMp3Header(data + next, following) &&
            following.version == header.version && following.layer == header.layer &&
            following.rateIndex == header.rateIndex) {
            return pos;
        }
        if (lone == size && next <= size && size - next < 4) {
            lone = pos;
        }
    }
    return lone;
}

// Whether a RIFF, RIFX or RF64 file's samples are PCM, IEEE float, A-law or mu-law (directly or in
// an extensible format chunk). The decoder's ADPCM readers index their tables with bytes of the
// file unchecked, so compressed WAVs are refused; so are files without a format chunk. Other
// containers (AIFF) are left to the decoder.
bool wavEncodingAccepted(const unsigned char* data, size_t size) {
    if (size < 12 ||
        (std::memcmp(data, "RIFF", 4) && std::memcmp(data, "RIFX", 4) && std::memcmp(data, "RF64", 4))) {
        return size >= 4 && !std::memcmp(data, "FORM", 4);
    }
    const bool bigEndian = !std::memcmp(data, "RIFX", 4);
    auto read16 = [&](size_t at) {
        return bigEndian ? unsigned(data[at] << 8 | data[at + 1]) : unsigned(data[at] | data[at + 1] << 8);
    };
    auto read32 = [&](size_t at) {
        return bigEndian ? uint32_t(read16(at)) << 16 | read16(at + 2)
                         : read16(at) | uint32_t(read16(at + 2)) << 16;
    };
    for (size_t pos = 12; size - pos >= 8;) {
        const uint32_t chunkBytes = read32(pos + 4);
        if (!std::memcmp(data + pos, "fmt ", 4)) {
            if (chunkBytes < 2 || size - pos - 8 < 2) {
                return false;
            }
            unsigned tag = read16(pos + 8);
            if (tag == 0xFFFE && chunkBytes >= 26 && size - pos - 8 >= 26) {
                tag = read16(pos + 8 + 24); // the sub-format's leading code
            }
            return tag == 1 || tag == 3 || tag == 6 || tag == 7;
        }
        const uint64_t next = uint64_t(pos) + 8 + chunkBytes + (chunkBytes & 1);
        if (next > size) {
            return false;
        }
        pos = size_t(next);
    }
    return false;
}

AudioContainer detectContainer(const unsigned char* data, size_t size) {
    if (size >= 4) {
        if (!std::memcmp(data, "RIFF", 4) || !std::memcmp(data, "RIFX", 4) || !std::memcmp(data, "RF64", 4) ||
            !std::memcmp(data, "FORM", 4)) {
            return AudioContainer::Wav;
        }
        if (!std::memcmp(data, "fLaC", 4)) {
            return AudioContainer::Flac;
        }
        if (!std::memcmp(data, "OggS", 4)) {
            return AudioContainer::Vorbis;
        }
    }
    const size_t start = skipTags(data, size);
    if (size - start >= 4 && !std::memcmp(data + start, "fLaC", 4)) {
        return AudioContainer::Flac;
    }
    return findMp3Stream(data, size) < size ? AudioContainer::Mp3 : AudioContainer::Unknown;
}

Mp3Trim readMp3Trim(const unsigned char* data, size_t size) {
    Mp3Trim trim;
    size_t pos = findMp3Stream(data, size);
    Mp3Header header;
    if (pos >= size || size - pos < 4 || !parseMp3Header(data + pos, header) || !header.layer3) {
        return trim;
    }
    size_t sideInfo = header.mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    size_t tag = pos + 4 + (header.crc ? 2 : 0) + sideInfo;
    if (tag > size || size - tag < 8 ||
        (std::memcmp(data + tag, "Xing", 4) && std::memcmp(data + tag, "Info", 4))) {
        return trim;
    }
    const uint64_t frameSamples = header.mpeg1 ? 1152 : 576;
    // The header frame decodes to one frame of silence.
    trim.found = true;
    trim.leadingFrames = frameSamples;

    uint32_t flags = (uint32_t(data[tag + 4]) << 24) | (uint32_t(data[tag + 5]) << 16) |
                     (uint32_t(data[tag + 6]) << 8) | data[tag + 7];
    size_t ext = tag + 8;
    if ((flags & 1) && size - tag >= 12) {
        // The frames after this one: a damaged frame further on does not shorten the song.
        const uint64_t count = (uint64_t(data[tag + 8]) << 24) | (uint64_t(data[tag + 9]) << 16) |
                               (uint64_t(data[tag + 10]) << 8) | data[tag + 11];
        trim.recordedFrames = (count + 1) * frameSamples;
    }
    ext += (flags & 1) ? 4 : 0;   // frame count
    ext += (flags & 2) ? 4 : 0;   // byte count
    ext += (flags & 4) ? 100 : 0; // seek table
    ext += (flags & 8) ? 4 : 0;   // quality
    if (ext > size || size - ext < 24) {
        return trim;
    }
    // The LAME extension starts with the encoder's name ("LAME3.100", "Lavc..."); without it the
    // delay fields are not there.
    for (int i = 0; i < 4; ++i) {
        unsigned char c = data[ext + i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return trim;
        }
    }
    uint64_t delay = (uint64_t(data[ext + 21]) << 4) | (data[ext + 22] >> 4);
    uint64_t padding = (uint64_t(data[ext + 22] & 0x0F) << 8) | data[ext + 23];
    // The decoder adds 529 frames of its own delay in front, which the padding at the end
    // already contains.
    const uint64_t decoderDelay = 529;
    trim.leadingFrames += delay + decoderDelay;
    trim.trailingFrames = padding > decoderDelay ? padding - decoderDelay : 0;
    return trim;
}
