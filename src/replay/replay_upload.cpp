#include "replay/replay_upload.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a base64 character; -1 for any other byte.
int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Output is taken from zlib this much at a time, so that the bound is checked before it is passed.
constexpr std::size_t kInflatePiece = 64 * 1024;

} // namespace

std::string encodeBase64(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                                    static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                    static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) {
            text.push_back(kAlphabet[(group >> shift) & 63]);
        }
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                                    (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
        text.push_back(kAlphabet[(group >> 18) & 63]);
        text.push_back(kAlphabet[(group >> 12) & 63]);
        text.push_back(two ? kAlphabet[(group >> 6) & 63] : '=');
        text.push_back('=');
    }
    return text;
}

bool decodeBase64(std::string_view text, std::string& bytes, std::string& error) {
    bytes.clear();
    if (text.size() % 4 != 0) {
        error = "its length is not a multiple of 4";
        return false;
    }
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const int value = j >= 4 - static_cast<std::size_t>(padding) ? 0 : base64Value(text[i + j]);
            if (value < 0) {
                error = "a character at " + std::to_string(i + j) + " is outside the base64 alphabet";
                bytes.clear();
                return false;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        // "xx=y" is not padding: the third character stands for bits the fourth would need.
        if (padding == 1 && text[i + 2] == '=') {
            error = "its padding is malformed";
            bytes.clear();
            return false;
        }
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            error = "its last character carries bits past the data";
            bytes.clear();
            return false;
        }
        bytes.push_back(static_cast<char>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<char>(group >> 8));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<char>(group));
        }
    }
    return true;
}

bool deflateBytes(std::string_view bytes, std::string& compressed, std::string& error) {
    if (bytes.size() > std::numeric_limits<uLong>::max() / 2) {
        error = "too large to compress";
        return false;
    }
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    compressed.assign(length, '\0');
    const int result = compress2(reinterpret_cast<Bytef*>(compressed.data()), &length,
                                 reinterpret_cast<const Bytef*>(bytes.data()),
                                 static_cast<uLong>(bytes.size()), Z_BEST_COMPRESSION);
    if (result != Z_OK) {
        error = std::string("zlib cannot compress: ") + zError(result);
        compressed.clear();
        return false;
    }
    compressed.resize(length);
    return true;
}

bool inflateBounded(std::string_view compressed, std::size_t limit, std::string& bytes, std::string& error) {
    bytes.clear();
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        error = "zlib cannot start inflating";
        return false;
    }
    // zlib reads at most UINT_MAX bytes per call; an upload never comes near that.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in =
        static_cast<uInt>(std::min<std::size_t>(compressed.size(), std::numeric_limits<uInt>::max()));
    std::array<unsigned char, kInflatePiece> piece{};
    int result = Z_OK;
    bool ok = true;
    while (result != Z_STREAM_END) {
        stream.next_out = piece.data();
        stream.avail_out = static_cast<uInt>(piece.size());
        result = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = piece.size() - stream.avail_out;
        if (produced > limit - bytes.size()) {
            error = "it inflates past " + std::to_string(limit) + " bytes";
            ok = false;
            break;
        }
        bytes.append(reinterpret_cast<const char*>(piece.data()), produced);
        if (result == Z_STREAM_END) {
            break;
        }
        if (result == Z_BUF_ERROR && stream.avail_in == 0) {
            error = "the zlib stream is truncated";
            ok = false;
            break;
        }
        if (result != Z_OK) {
            error = std::string("the zlib stream is damaged: ") +
                    (stream.msg != nullptr ? stream.msg : zError(result));
            ok = false;
            break;
        }
    }
    if (ok && (stream.avail_in != 0 || compressed.size() != stream.total_in)) {
        error = "bytes follow the end of the zlib stream";
        ok = false;
    }
    inflateEnd(&stream);
    if (!ok) {
        bytes.clear();
        bytes.shrink_to_fit();
    }
    return ok;
}

bool packReplay(std::string_view fileBytes, std::string& text, std::string& error) {
    std::string compressed;
    if (!deflateBytes(fileBytes, compressed, error)) {
        return false;
    }
    text = encodeBase64(compressed);
    return true;
}

bool unpackReplay(std::string_view text, Replay& replay, std::string& compressed, std::string& error) {
    replay = Replay{};
    std::string reason;
    if (!decodeBase64(text, compressed, reason)) {
        error = "the replay is not base64: " + reason;
        return false;
    }
    std::string bytes;
    if (!inflateBounded(compressed, kMaxInflatedReplayBytes, bytes, reason)) {
        error = reason.rfind("it inflates", 0) == 0 ? "the replay " + reason.substr(3)
                                                    : "the replay is not a zlib stream: " + reason;
        return false;
    }
    if (!decodeReplay(bytes, replay, reason)) {
        error = "the replay cannot be read: " + reason;
        return false;
    }
    return true;
}
