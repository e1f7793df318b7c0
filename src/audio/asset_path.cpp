#include "audio/asset_path.hpp"

std::string cleanAssetPath(const std::string& path) {
    std::string cleaned;
    cleaned.reserve(path.size());
    for (char c : path) {
        if (c == '"') {
            continue;
        }
        cleaned += c == '\\' ? '/' : c;
    }
    return cleaned;
}

std::string assetBaseName(const std::string& cleanedPath) {
    const size_t slash = cleanedPath.find_last_of('/');
    return slash == std::string::npos ? cleanedPath : cleanedPath.substr(slash + 1);
}
