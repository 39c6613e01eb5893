// Random frames into the device reply check and dispatch: nothing may crash; a data set
// of a known block carrying exactly the block's size must land in that block's copy and
// change nothing else; every other frame must leave the image as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "tests/support/CountingOwner.h"

namespace {

// The device's readable blocks, written out here rather than taken from the code under
// test: address, data size, and the block and size of the image's copy (the product ID
// copy keeps 8 zero bytes behind the 16 received; the control mode is one byte).
struct CKnown {
    uint32_t addr;
    size_t size;
    qz::EBlock block;
    size_t copy;
};
const CKnown kKnown[] = {
    {0x7F0000, 8, qz::EBlock::Version, 8},       {0x7F0100, 16, qz::EBlock::ProductID, 24},
    {0x7F0800, 1, qz::EBlock::ControlMode, 1},   {0x000000, 28, qz::EBlock::System, 28},
    {0x000100, 44, qz::EBlock::Timecode, 44},    {0x000200, 50, qz::EBlock::Preset0, 50},
    {0x000240, 50, qz::EBlock::Preset1, 50},     {0x000300, 50, qz::EBlock::Preset2, 50},
    {0x000340, 50, qz::EBlock::Preset3, 50},     {0x000400, 50, qz::EBlock::Preset4, 50},
    {0x000440, 50, qz::EBlock::Preset5, 50},     {0x000500, 50, qz::EBlock::Preset6, 50},
    {0x000540, 50, qz::EBlock::Preset7, 50},     {0x010000, 58, qz::EBlock::Status, 58},
};
constexpr size_t kKnownCount = sizeof kKnown / sizeof kKnown[0];

// Every copy of the image side by side, in the order of kKnown.
struct CImageBytes {
    uint8_t all[8 + 24 + 1 + 28 + 44 + 8 * 50 + 58];
    size_t offset[kKnownCount];
    void Take(CDeviceImage& img) {
        size_t at = 0;
        for (size_t k = 0; k < kKnownCount; ++k) {
            offset[k] = at;
            if (kKnown[k].block == qz::EBlock::ControlMode)
                all[at] = img.m_byControlMode.load();
            else
                FUZZ_CHECK(img.Read(kKnown[k].block, all + at, kKnown[k].copy));
            at += kKnown[k].copy;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CLoopbackDriver driver;
    static CCountingOwner owner(&driver);
    static CMidiInPort<CQZ81KTMidiIn> in(&driver);
    in.m_pOwnerWnd = &owner;

    // Steer most inputs towards the device's frame shape so that the checks are reached.
    std::vector<uint8_t> frame(data, data + size);
    if (size >= 10 && (data[0] & 1)) {
        frame[0] = 0xF0;
        frame[1] = 0x41;
        frame[3] = 0x00;
        frame[5] = 0x3F;
        frame[6] = 0x12;
        const uint32_t addr = kKnown[data[1] % kKnownCount].addr;
        frame[7] = static_cast<uint8_t>(addr >> 16);
        frame[8] = static_cast<uint8_t>(addr >> 8);
        frame[9] = static_cast<uint8_t>(addr);
        frame.back() = 0xF7;
    }
    // An exact-size heap copy, so any read past the message is caught.
    uint8_t* msg = frame.empty() ? nullptr : static_cast<uint8_t*>(std::malloc(frame.size()));
    if (msg) std::memcpy(msg, frame.data(), frame.size());

    CImageBytes before, after;
    before.Take(owner.m_image);
    in.OnOtherSysEx(msg, static_cast<int>(frame.size()));
    after.Take(owner.m_image);

    // Which known block the frame is a reply of, if any.
    size_t k = kKnownCount;
    if (frame.size() >= 13 && frame[3] == 0 && frame[5] == 0x3F && frame[6] == 0x12) {
        const uint32_t addr = (uint32_t(frame[7]) << 16) | (uint32_t(frame[8]) << 8) | frame[9];
        for (size_t i = 0; i < kKnownCount; ++i)
            if (kKnown[i].addr == addr && kKnown[i].size == frame.size() - 12) k = i;
    }
    size_t from = 0, to = 0;  // the bytes that may change
    if (k < kKnownCount) {
        from = after.offset[k];
        to = from + kKnown[k].size;
        FUZZ_CHECK(std::memcmp(after.all + from, frame.data() + 10, kKnown[k].size) == 0);
    }
    for (size_t i = 0; i < sizeof after.all; ++i)
        if (i < from || i >= to) FUZZ_CHECK(before.all[i] == after.all[i]);
    std::free(msg);
    return 0;
}
