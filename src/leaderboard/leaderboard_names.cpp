#include "leaderboard/leaderboard_names.hpp"

#include "base/utf8.hpp"

#include <utf8proc.h>

#include <cstdlib>

bool checkLeaderboardName(std::string_view name, std::string& reason) {
    reason.clear();
    if (name.empty()) {
        reason = "is empty";
        return false;
    }
    if (name.size() > kMaxNameBytes) {
        reason = "is longer than " + std::to_string(kMaxNameBytes) + " bytes";
        return false;
    }
    char32_t codePoint = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < name.size(); at += length) {
        length = utf8SequenceAt(name, at, codePoint);
        if (length == 0) {
            reason = "is not valid UTF-8";
            return false;
        }
        if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F)) {
            reason = "contains a control character";
            return false;
        }
    }
    return true;
}

bool checkPlayerName(std::string_view name, std::string& reason) {
    if (!checkLeaderboardName(name, reason)) {
        return false;
    }
    char32_t codePoint = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; at < name.size(); at += length) {
        length = utf8SequenceAt(name, at, codePoint); // well-formed: checked above
        const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
        if (category == UTF8PROC_CATEGORY_CF) {
            reason = "contains a format character";
            return false;
        }
        if (category == UTF8PROC_CATEGORY_CN) {
            reason = "contains an unassigned code point";
            return false;
        }
    }
    return true;
}

std::string foldPlayerName(std::string_view name) {
    std::string reason;
    if (!checkPlayerName(name, reason)) {
        return std::string(name);
    }
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(name.data()), static_cast<utf8proc_ssize_t>(name.size()),
        &folded, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
    if (length < 0 || folded == nullptr) {
        std::free(folded);
        return std::string(name); // out of memory: compare as written
    }
    std::string result(reinterpret_cast<const char*>(folded), static_cast<std::size_t>(length));
    std::free(folded);
    return result;
}
