#pragma once
// Reading a small text file within a fixed bound, and replacing a file so that a failure
// at any point leaves the old file as it was.
#include <cstddef>
#include <string>
#include <string_view>

namespace qz {

enum class EFileRead {
    Ok,
    Missing,    // no such file
    TooLarge,   // more than the bound; nothing is returned
    Failed,     // not a regular file, or it could not be opened or read
};

// Reads at most nMaxBytes (one more tells TooLarge). Only regular files are opened, so a
// FIFO or a device cannot block or feed the reader for ever. strReason says why on
// failure, in the system's words.
EFileRead ReadFileBounded(const std::string& strPath, size_t nMaxBytes, std::string& strText, std::string& strReason);

// Writes text into a temporary file in the target's folder and renames it over the
// target (a symbolic link is followed: the file it names is replaced). The old file's
// permission bits are kept; a new file gets the usual ones. A target that exists but
// cannot be written, or whose permission bits allow no one to write, is left alone and
// reported, as is any failure to write, flush or rename: the temporary file is removed
// and the target is untouched. strReason says why.
bool ReplaceFile(const std::string& strPath, std::string_view text, std::string& strReason);

}  // namespace qz
