#include "protocol/paramfile/FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace qz {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int nErr) { return nErr ? std::strerror(nErr) : "unknown error"; }

// A new, empty file beside target, opened exclusively; null when none could be made.
std::FILE* CreateTemporary(const fs::path& target, fs::path& tmp, int& nErr) {
    std::random_device rd;
    std::mt19937_64 rng((static_cast<uint64_t>(rd()) << 32) ^ rd());
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%012llx.tmp", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
        tmp = target;
        tmp.replace_filename("." + target.filename().string() + suffix);
        errno = 0;
        std::FILE* f = std::fopen(tmp.c_str(), "wbx");  // fails when the name is taken
        if (f) return f;
        nErr = errno;
        if (nErr != EEXIST) return nullptr;
    }
    return nullptr;
}

}  // namespace

EFileRead ReadFileBounded(const std::string& strPath, size_t nMaxBytes, std::string& strText, std::string& strReason) {
    strText.clear();
    std::error_code ec;
    fs::file_status st = fs::status(strPath, ec);
    if (st.type() == fs::file_type::not_found) {
        strReason = ErrnoText(ENOENT);
        return EFileRead::Missing;
    }
    if (ec || st.type() != fs::file_type::regular) {
        strReason = ec ? ec.message() : "not a regular file";
        return EFileRead::Failed;
    }
    errno = 0;
    std::FILE* f = std::fopen(strPath.c_str(), "rb");
    if (!f) {
        strReason = ErrnoText(errno);
        return errno == ENOENT ? EFileRead::Missing : EFileRead::Failed;
    }
    std::string text(nMaxBytes + 1, '\0');
    size_t n = std::fread(text.data(), 1, text.size(), f);
    bool bError = std::ferror(f) != 0;
    int nErr = errno;
    std::fclose(f);
    if (bError) {
        strReason = ErrnoText(nErr);
        return EFileRead::Failed;
    }
    if (n > nMaxBytes) {
        strReason = "larger than " + std::to_string(nMaxBytes) + " bytes";
        return EFileRead::TooLarge;
    }
    text.resize(n);
    strText = std::move(text);
    return EFileRead::Ok;
}

bool ReplaceFile(const std::string& strPath, std::string_view text, std::string& strReason) {
    std::error_code ec;
    fs::path target = strPath;
    if (fs::is_symlink(target, ec)) {
        target = fs::canonical(target, ec);
        if (ec) {
            strReason = ec.message();
            return false;
        }
    }
    fs::file_status st = fs::status(target, ec);
    bool bExists = st.type() != fs::file_type::not_found;
    if (bExists) {
        if (ec || st.type() != fs::file_type::regular) {
            strReason = ec ? ec.message() : "not a regular file";
            return false;
        }
        // The rename would replace a file that its permissions keep from being written,
        // even for a user (root) whom the system would let write it.
        const fs::perms anyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        errno = 0;
        std::FILE* probe = (st.permissions() & anyWrite) == fs::perms::none ? nullptr : std::fopen(target.c_str(), "r+b");
        if (!probe) {
            strReason = errno ? ErrnoText(errno) : ErrnoText(EACCES);
            return false;
        }
        std::fclose(probe);
    }
    fs::path tmp;
    int nErr = 0;
    std::FILE* f = CreateTemporary(target, tmp, nErr);
    if (!f) {
        strReason = ErrnoText(nErr);
        return false;
    }
    errno = 0;
    bool bOk = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    nErr = errno;
    if (std::fclose(f) != 0 && bOk) {
        bOk = false;
        nErr = errno;
    }
    if (bOk && bExists) {
        fs::permissions(tmp, st.permissions(), ec);
        if (ec) {
            bOk = false;
            nErr = ec.value();
        }
    }
    if (bOk) {
        fs::rename(tmp, target, ec);
        if (ec) {
            bOk = false;
            nErr = ec.value();
        }
    }
    if (!bOk) {
        fs::remove(tmp, ec);
        strReason = ErrnoText(nErr);
    }
    return bOk;
}

}  // namespace qz
