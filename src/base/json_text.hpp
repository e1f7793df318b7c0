#pragma once
// Parsing the JSON texts the game reads from its files and from the leaderboard server. The JSON
// library parses any nesting without recursion, but copying, comparing and writing a value recurse
// once per level: a few hundred kilobytes of '[' parse fine and then overflow the stack at the
// first copy. Such texts are refused when they are read. Header only.
#include <nlohmann/json.hpp>

#include <string>

// How deep arrays and objects may nest; the game's own documents use five levels at most.
constexpr int kMaxJsonDepth = 64;

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
