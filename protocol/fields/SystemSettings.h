#pragma once
// The main window's everyday settings: one byte of the system block each, under the
// caption of its group box or check box, with its buttons' captions and the short names
// that the command line takes. The reports, the diff and the command line read this
// one table.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/ItemList.h"

namespace qz {

// When the window lets its controls write the byte.
enum class ESettingRule {
    Ready,        // link up and the device in Remote
    ControlMode,  // link up and mode switch SW6 off ("Local" / "Remote")
    FrameRate,    // ready, and no input fixes the frame rate
};

// How a byte reads: a two-button group shows its second button for any value but 0; a
// longer group or a check box shows the item with that index, or nothing.
enum class ESettingRead { Pair, Index };

struct CSystemSetting {
    const char* pszName;     // "direction": what the command line takes
    const char* pszCaption;  // "Direction": the group box or check box caption
    int nOffset;             // byte of the system block
    CItemList names;         // the values as the command line takes them
    CItemList captions;      // the buttons' captions ("off"/"on" for a check box); nCount 0: none (preset)
    ESettingRule eRule;
    ESettingRead eRead;
};

constexpr int kSystemSettingCount = 11;
extern const CSystemSetting kSystemSettings[kSystemSettingCount];

// The row of a setting name, or null.
const CSystemSetting* FindSystemSetting(std::string_view strName);
// The row of the setting at a byte of the system block, or null.
const CSystemSetting* SystemSettingAt(int nOffset);
// Whether the window lets the controls under a rule be clicked now: bRemoteSelected is
// the system block's control mode byte, bSwitchRemote the mode switch SW6. The
// frame-rate buttons also wait for five system displays without a lock, which the
// window counts.
bool SettingClickable(ESettingRule eRule, bool bLinkUp, bool bRemoteSelected, bool bSwitchRemote);
// The index of the value a byte shows, or kNoSelection.
int SettingValueIndex(const CSystemSetting& setting, uint8_t byValue);
// The value's index among the names, case-insensitively; kNoSelection if none.
int FindSettingValue(const CSystemSetting& setting, std::string_view strValue);
// "sdi-ieee1394, ieee1394-sdi"
std::string SettingValueList(const CSystemSetting& setting, const char* pszSeparator = ", ");

// Which input fixes the default frame rate, as the status display decides it: a known
// SDI video format while the direction byte is 0, a valid IEEE1394 stream while it is 1.
enum class ERateLock { None, Sdi, IEEE1394 };
ERateLock FrameRateLock(const uint8_t (&system)[kSystemSize], const uint8_t (&status)[kStatusSize]);

}  // namespace qz

// One setting to write: its row and the index of the value among its names.
struct CSettingChoice {
    const qz::CSystemSetting* pSetting;
    int nValue;
};
