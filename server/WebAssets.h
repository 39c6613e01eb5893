#pragma once
// The web page's files, built into the program (cmake/EmbedFiles.cmake writes the table
// from server/web/ and the window's captions), so it serves the same page from the build
// tree and from any installed prefix.
#include <cstddef>
#include <string_view>

struct CWebAsset {
    const char* pszPath;  // "/index.html"
    const unsigned char* pData;
    size_t nSize;
};
extern const CWebAsset kWebAssets[];
extern const size_t kWebAssetCount;

namespace qz {
// The asset served at a path ("/" is "/index.html"), or null.
const CWebAsset* FindWebAsset(std::string_view strPath);
// "text/html; charset=utf-8" and the like, from the path's extension.
const char* WebAssetType(std::string_view strPath);
}  // namespace qz
