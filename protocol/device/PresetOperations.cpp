#include "protocol/device/PresetOperations.h"

#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiOut.h"

void qz::StorePresetReply(CDeviceOwner& owner, int nPreset, const uint8_t* pData) {
    if (nPreset < 0 || nPreset >= qz::kPresetCount) return;
    CDeviceImage& img = owner.Image();
    img.Write(qz::PresetBlock(nPreset), pData, qz::kPresetSize);
    img.m_bPresetRcvd[nPreset].store(true, std::memory_order_release);
    bool all = true;
    for (auto& f : img.m_bPresetRcvd) all = all && f.load(std::memory_order_acquire);
    img.m_bAllPresetsRcvd.store(all, std::memory_order_release);
    owner.UpdatePresetLine(nPreset);
}

int qz::SendAllPresets(CDeviceOwner& owner) {
    CDeviceImage& img = owner.Image();
    int bAll = 1;
    for (int n = 0; n < qz::kPresetCount; ++n) {
        uint8_t block[qz::kPresetSize];
        img.Read(qz::PresetBlock(n), block);
        bAll &= SendDT1(owner.MidiOut(), img.m_byDeviceID.load(), qz::BlockInfo(qz::PresetBlock(n)).dwAddress, block,
                        sizeof block);
    }
    return bAll;
}
