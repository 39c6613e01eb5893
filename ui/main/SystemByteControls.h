#pragma once
// The window's controls that each set one byte of the system block: the commands send
// it, and the enabling follows the rule of the byte's setting (protocol/fields/SystemSettings.h).
// Listed in the order the enabling visits them, the control mode pair last: a control
// that loses the focus hands it on along the tab order, so every control that is
// disabled is so before the pair may be enabled.
#include <iterator>

#include "protocol/wire/BlockLayout.h"
#include "resources/resource.h"

struct CSystemByteCommand {
    int nId;
    int nOffset;
    int nValue;  // kCheckState: the check box's state after the click
};
constexpr int kCheckState = -1;

constexpr CSystemByteCommand kSystemByteCommands[] = {
    {IDC_DIR_SDI_TO_1394, qz::kSysDirection, 0},
    {IDC_DIR_1394_TO_SDI, qz::kSysDirection, 1},
    {IDC_UNIT_CAMERA, qz::kSysUnitType, 0},
    {IDC_UNIT_RECORDER, qz::kSysUnitType, 1},
    {IDC_SDI_CH_1_2, qz::kSysAudioChannels, 0},
    {IDC_SDI_CH_3_4, qz::kSysAudioChannels, 1},
    {IDC_SDI_CH_5_6, qz::kSysAudioChannels, 2},
    {IDC_SDI_CH_7_8, qz::kSysAudioChannels, 3},
    {IDC_PRESET0, qz::kSysPreset, 0},
    {IDC_PRESET1, qz::kSysPreset, 1},
    {IDC_PRESET2, qz::kSysPreset, 2},
    {IDC_PRESET3, qz::kSysPreset, 3},
    {IDC_PRESET4, qz::kSysPreset, 4},
    {IDC_PRESET5, qz::kSysPreset, 5},
    {IDC_PRESET6, qz::kSysPreset, 6},
    {IDC_PRESET7, qz::kSysPreset, 7},
    {IDC_SYNC_OPERATION, qz::kSysSyncOperation, kCheckState},
    {IDC_AUDIO_SRC, qz::kSysAudioSrc, kCheckState},
    {IDC_SDI_INPUT_REMOTE, qz::kSysSdiInputRemote, kCheckState},
    {IDC_FORMAT_FIX, qz::kSysFormatFix, kCheckState},
    {IDC_FAN, qz::kSysFan, kCheckState},
    {IDC_LOCAL, qz::kSysRemote, 0},
    {IDC_REMOTE, qz::kSysRemote, 1},
};
static_assert(std::size(kSystemByteCommands) == 23);
