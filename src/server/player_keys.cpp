#include "server/player_keys.hpp"

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int base64urlValue(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '-' ? 62 : c == '_' ? 63 : -1;
}

} // namespace

PlayerKeyHeader parsePlayerKeyHeader(const std::optional<std::string_view>& value) {
    PlayerKeyHeader header;
    if (!value) {
        return header;
    }
    if (*value == "new") {
        header.kind = PlayerKeyKind::New;
        return header;
    }
    header.kind = PlayerKeyKind::Invalid;
    if (value->size() != kPlayerKeyLength) {
        return header;
    }
    for (char c : *value) {
        if (base64urlValue(c) < 0) {
            return header;
        }
    }
    // 22 characters carry 132 bits; the last four must be zero, so that each 16 bytes have one
    // text and two spellings of one key cannot exist.
    if ((base64urlValue(value->back()) & 0x0F) != 0) {
        return header;
    }
    header.kind = PlayerKeyKind::Key;
    header.key.assign(*value);
    return header;
}

bool makePlayerKey(std::string& key) {
    key.clear();
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return false;
    }
    unsigned bits = 0;
    int count = 0;
    for (unsigned char byte : bytes) {
        bits = (bits << 8) | byte;
        count += 8;
        while (count >= 6) {
            count -= 6;
            key += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    key += kAlphabet[(bits << (6 - count)) & 0x3F]; // the last 2 bits, zero-padded
    return true;
}

std::string hashPlayerKey(std::string_view key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::string hex;
    if (EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        return hex; // empty: matches no stored hash
    }
    static constexpr char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}
