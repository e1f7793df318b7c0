#pragma once
// Paths of stems and charts as manifests write them.
#include <string>

// Manifests written on Windows use backslashes, and some keep the quotes of a copied path:
// every '\' becomes '/', every '"' is dropped.
std::string cleanAssetPath(const std::string& path);

// The text after the last '/' of a cleaned path, extension kept.
std::string assetBaseName(const std::string& cleanedPath);
