#pragma once
// Parsing the JSON texts the game reads from its files and from the leaderboard server. The JSON
// library parses any nesting without recursion, but copying, comparing and writing a value recurse
// once per level: a few hundred kilobytes of '[' parse fine and then overflow the stack at the
// first copy. Such texts are refused when they are read. Header only, so that the document
// library (also linked by the leaderboard server) can use it without the rest of the game.
#include <nlohmann/json.hpp>

#include <string>

// How deep arrays and objects may nest; the game's own documents use five levels at most.
constexpr int kMaxJsonDepth = 64;

// `text` as a written JSON string holds it: bytes that are not UTF-8 become U+FFFD, as the JSON
// library writes them with its replacing error handler. Throws only std::bad_alloc.
inline std::string withUtf8Replacements(const std::string& text) {
    const std::string quoted =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(quoted).get<std::string>();
}

// Parses `text` as strict JSON (no comments). False, with `document` null and the reason in
// `error`, when it is not JSON (the library's message) or nests deeper than kMaxJsonDepth
// ("nested deeper than 64 levels"). Throws only std::bad_alloc.
inline bool parseJsonText(const std::string& text, nlohmann::json& document, std::string& error) {
    struct TooDeep {};
    const nlohmann::json::parser_callback_t limitDepth = [](int depth, nlohmann::json::parse_event_t event,
                                                            nlohmann::json&) {
        // `depth` counts the containers around the one that starts.
        if (depth >= kMaxJsonDepth && (event == nlohmann::json::parse_event_t::object_start ||
                                       event == nlohmann::json::parse_event_t::array_start)) {
            throw TooDeep{};
        }
        return true;
    };
    try {
        document = nlohmann::json::parse(text, limitDepth, true, false);
        return true;
    } catch (const TooDeep&) {
        error = "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    } catch (const nlohmann::json::exception& e) {
        error = e.what();
    }
    document = nullptr;
    return false;
}
