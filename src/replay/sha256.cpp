#include "replay/sha256.hpp"

#include <openssl/evp.h>

#include <memory>

bool sha256Of(const std::vector<std::string_view>& parts, Sha256Digest& digest) {
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return false;
    }
    for (const std::string_view part : parts) {
        if (!part.empty() && EVP_DigestUpdate(context.get(), part.data(), part.size()) != 1) {
            return false;
        }
    }
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), out, &length) != 1 || length != digest.size()) {
        return false;
    }
    std::copy(out, out + digest.size(), digest.begin());
    return true;
}

std::string lowercaseHex(const unsigned char* bytes, std::size_t count) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 0x0F];
    }
    return hex;
}
