#pragma once
// What a network client may read and change on one unit, with the window's rules: the
// Ember+ tree and the web API both go through here, so each rule, refusal and status
// text exists once. A control is enabled exactly when the window enables it (link up,
// then the session's rules: Local/Remote, SW6, the frame-rate lock, the editor's
// codec rules); a write goes out as the window writes it.
//
// Threads: every function may run on any thread (the session's queries and operations
// are thread-safe); callers keep them on their service thread all the same.
#include <cstdint>
#include <optional>
#include <string>

#include <vector>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/PresetFields.h"

class CDeviceSession;

// One writable value of a unit: a setting (index into qz::kSystemSettings, value = index
// among its names) or a preset field (qz::EPresetList item index, or qz::EPresetHex value).
struct CUnitWrite {
    enum class EKind { Setting, PresetList, PresetHex };
    EKind eKind = EKind::Setting;
    int nPreset = 0;
    int nField = 0;
    int64_t nValue = 0;
};

// The status display's texts and lamps, from the replies that have arrived.
struct CUnitStatus {
    bool bLink = false;
    bool bStatus = false;  // the status block has arrived: the texts and lamps below are set
    std::string strTimecode, strVideoFormat, strIEEE1394, strPower;
    int nIndicator1 = 0, nIndicator2 = 0;  // lamp states as the window draws them steadily
    bool bMode = false;  // the control mode block has arrived
    bool bRemote = false;
    std::string strControlMode, strModeSwitches;
};

class CUnitControl {
public:
    // Why the window's control for this value is disabled now, or empty.
    static std::string Refusal(const CDeviceSession& session, const CUnitWrite& write);
    // Whether the window enables the setting's controls (every value of it writable).
    static bool SettingEnabled(const CDeviceSession& session, int nSetting);
    // Whether the preset editor may be opened on a preset now (why not, when given).
    static bool PresetEditable(const CDeviceSession& session, std::string* pWhy = nullptr);

    // Writes as the window writes it. Empty, with the block whose read-back answers it,
    // or why nothing was written: a rule, or the window's own message when the port
    // refused the frames.
    static std::string Write(CDeviceSession& session, const CUnitWrite& write, qz::EBlock& eReadBack);
    // The preset editor's OK with these fields changed, as Write does for one.
    static std::string SavePreset(CDeviceSession& session, int nPreset, const std::vector<CPresetFieldChoice>& fields,
                                  qz::EBlock& eReadBack);
    // "Write to FlashROM": empty when sent, else the window's message.
    static std::string WriteFlash(CDeviceSession& session);

    // The operator's line for a write that went out: "qz81kt: CLIENT wrote UNIT NAME = VALUE
    // (read back)", or that no read-back came and what was answered.
    static std::string WriteLogLine(const std::string& strClient, const std::string& strUnit,
                                    const std::string& strName, const std::string& strValue, bool bReadBack);

    // A write the rules (or the port) refused: nothing was sent.
    static std::string RefusedLogLine(const std::string& strClient, const std::string& strUnit,
                                      const std::string& strName, const std::string& strWhy);
    static std::string FlashLogLine(const std::string& strClient, const std::string& strUnit, bool bSent);
    // The operator's lines for a unit published, and for one going online or offline.
    static std::string FoundLogLine(const std::string& strUnit, const std::string& strProductID,
                                    const std::string& strInPort);
    static std::string OnlineLogLine(const std::string& strUnit, bool bOnline, const std::string& strInPort);

    static CUnitStatus Status(const CDeviceSession& session);
    // The setting's value as the device read it back: an index among its names, or
    // nothing before the system block arrived or for a byte no button shows.
    static std::optional<int> SettingValue(const CDeviceSession& session, int nSetting);
};
