#pragma once
// The owner's side of the preset blocks: storing a reply and sending all eight back.
#include <cstdint>

class CDeviceOwner;

namespace qz {
// Stores one preset reply: copy, flags, then the summary line.
void StorePresetReply(CDeviceOwner& owner, int nPreset, const uint8_t* pData);

// Sends the eight preset blocks back in order; a refused frame does not stop the others.
// 1 when all eight were queued, 0 when any was refused.
int SendAllPresets(CDeviceOwner& owner);
}  // namespace qz
