#pragma once
// Export and import of the parameter file for whoever owns the device image (the window,
// the command line). Both run on the owner's own thread and return what happened; the
// caller turns that into its messages.
#include <string>
#include <vector>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/OperatorMessages.h"
#include "protocol/paramfile/ParameterFile.h"

class CDeviceImage;
class CDeviceOwner;

// Shown by the caller when the request after an import was refused.
constexpr const char* kImportRequestRefusedText = qz::kRequestRefusedText;

struct CExportResult {
    enum class EStatus {
        Ok,
        Incomplete,   // not every saved block has arrived: m_missing names them
        CannotWrite,  // the file could not be written or updated: m_strReason says why
    };
    EStatus m_eStatus = EStatus::Ok;
    std::vector<qz::EBlock> m_missing;
    std::string m_strReason;
};

struct CImportResult {
    enum class EStatus {
        Ok,
        CannotRead,      // the file could not be read (missing, too large, not a file): nothing sent
        RequestRefused,  // sent, but the request for everything was refused
    };
    EStatus m_eStatus = EStatus::Ok;
    std::string m_strReason;
    // What the file gave (after the low-latency rule), and the blocks as last sent, each
    // flag telling whether the block was sent. The system block's byte 7 is as the file
    // left the device: 1 for Remote, 0 otherwise.
    qz::CParameterSet m_file;
    qz::CParameterSet m_sent;
    // Blocks that the file did not give and the device never sent: not sent, so that a
    // copy of zeros never reaches the device.
    std::vector<qz::EBlock> m_notSent;
};

namespace qz {
// The blocks an export saves that have not been received yet, in block order.
std::vector<qz::EBlock> MissingForExport(const CDeviceImage& image);

// "system, preset 3": the blocks by their names, in the given order.
std::string BlockNames(const std::vector<qz::EBlock>& blocks);

// What went wrong, in the words the window and the command line both use; empty for Ok.
// "not exported, not received: timecode, preset 3" or "cannot write PATH: REASON (the file
// is unchanged)".
std::string ExportFailureText(const CExportResult& result, const std::string& strPath);
// "cannot read PATH: REASON".
std::string ReadFailureText(const std::string& strPath, const std::string& strReason);

// The saved blocks of the image, each flagged as present.
qz::CParameterSet ImageParameterSet(const CDeviceImage& image);

// Writes the system, timecode and preset blocks of image into the file at strPath,
// keeping every other line of an existing file; strTool is the program's version text.
// Only when every saved block has arrived. The file is replaced whole or not at all.
CExportResult ExportParameterFile(const CDeviceImage& image, const std::string& strPath, const std::string& strTool);

// Reads the file into the owner's image and sends it: the system block twice with the
// Remote setting, the timecode block, the eight presets, the system block again when the
// file holds Local, then the request for everything.
CImportResult ImportParameterFile(CDeviceOwner& owner, const std::string& strPath);

// The same from a set already read (the blocks flagged in set replace the image's).
CImportResult ImportParameterSet(CDeviceOwner& owner, const qz::CParameterSet& set);
}  // namespace qz
