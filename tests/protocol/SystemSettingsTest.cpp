// Which settings the window lets be clicked: one rule per setting, read by the window's
// enabling and stated in the settings table.
#include <gtest/gtest.h>

#include "protocol/wire/BlockLayout.h"
#include "protocol/fields/SystemSettings.h"

namespace {

using qz::ESettingRule;

TEST(SystemSettings, ClickableByRule) {
    struct CRow {
        ESettingRule eRule;
        bool bLinkUp, bRemoteSelected, bSwitchRemote, bClickable;
    };
    constexpr CRow kRows[] = {
        {ESettingRule::Ready, false, true, false, false},       {ESettingRule::Ready, true, false, false, false},
        {ESettingRule::Ready, true, true, true, true},          {ESettingRule::FrameRate, true, false, false, false},
        {ESettingRule::FrameRate, true, true, false, true},     {ESettingRule::ControlMode, false, false, false, false},
        {ESettingRule::ControlMode, true, false, false, true},  {ESettingRule::ControlMode, true, true, true, false},
    };
    for (const CRow& r : kRows)
        EXPECT_EQ(qz::SettingClickable(r.eRule, r.bLinkUp, r.bRemoteSelected, r.bSwitchRemote), r.bClickable)
            << static_cast<int>(r.eRule) << r.bLinkUp << r.bRemoteSelected << r.bSwitchRemote;
}

TEST(SystemSettings, EachByteHasOneSetting) {
    for (const qz::CSystemSetting& s : qz::kSystemSettings) EXPECT_EQ(qz::SystemSettingAt(s.nOffset), &s) << s.pszName;
    EXPECT_EQ(qz::SystemSettingAt(qz::kSystemSize), nullptr);
}

}  // namespace
