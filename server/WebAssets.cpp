#include "server/WebAssets.h"

const CWebAsset* qz::FindWebAsset(std::string_view strPath) {
    if (strPath == "/") strPath = "/index.html";
    for (size_t i = 0; i < kWebAssetCount; ++i)
        if (strPath == kWebAssets[i].pszPath) return &kWebAssets[i];
    return nullptr;
}

const char* qz::WebAssetType(std::string_view strPath) {
    if (strPath == "/" || strPath.ends_with(".html")) return "text/html; charset=utf-8";
    if (strPath.ends_with(".js")) return "text/javascript; charset=utf-8";
    if (strPath.ends_with(".css")) return "text/css; charset=utf-8";
    if (strPath.ends_with(".json")) return "application/json";
    if (strPath.ends_with(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}
