#pragma once
// SHA-256 through OpenSSL's EVP interface: the level hash, the replay file's checksum and the short
// hash in replay folder names. Pure functions, any thread.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

using Sha256Digest = std::array<unsigned char, 32>;

// The digest of the bytes of `parts`, one part after another. False only when OpenSSL fails (it
// could not allocate its context); `digest` is then unchanged.
bool sha256Of(const std::vector<std::string_view>& parts, Sha256Digest& digest);

// `count` bytes from `bytes` as lowercase hex, two digits a byte.
std::string lowercaseHex(const unsigned char* bytes, std::size_t count);
