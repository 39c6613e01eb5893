// Random frames into the device reply check and dispatch: nothing may crash, and the
// image may change only for a known block address carrying exactly the block's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/DeviceImage.h"
#include "protocol/DeviceOwner.h"
#include "protocol/QZ81KTMidiIn.h"
#include "protocol/QZ81KTMidiOut.h"
#include "tests/support/CountingOwner.h"

namespace {

struct CImageBytes {
    uint8_t all[28 + 44 + 8 * 50 + 58 + 8 + 24 + 1];
    void Take(CDeviceImage& img) {
        uint8_t* p = all;
        for (const qz::CBlockInfo& b : qz::kBlocks) {
            size_t n = CDeviceImage::CopySize(b.eBlock);
            if (n) img.Read(b.eBlock, p, n);
            p += n;
        }
        *p = img.m_byControlMode.load();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CLoopbackDriver driver;
    static CCountingOwner owner(&driver);
    static CQZ81KTMidiIn in(&driver);
    in.m_pOwnerWnd = &owner;

    // Steer most inputs towards the device's frame shape so that the checks are reached.
    std::vector<uint8_t> frame(data, data + size);
    if (size >= 10 && (data[0] & 1)) {
        frame[0] = 0xF0;
        frame[1] = 0x41;
        frame[3] = 0x00;
        frame[5] = 0x3F;
        frame[6] = 0x12;
        static const uint8_t kAddr[][3] = {{0x7F, 0, 0}, {0x7F, 1, 0}, {0x7F, 8, 0}, {0, 0, 0},
                                           {0, 1, 0},    {0, 2, 0x40}, {0, 5, 0x40}, {1, 0, 0}};
        std::memcpy(&frame[7], kAddr[data[1] % 8], 3);
        frame.back() = 0xF7;
    }
    // An exact-size heap copy, so any read past the message is caught.
    uint8_t* msg = frame.empty() ? nullptr : static_cast<uint8_t*>(std::malloc(frame.size()));
    if (msg) std::memcpy(msg, frame.data(), frame.size());

    CImageBytes before, after;
    before.Take(owner.m_image);
    in.OnOtherSysEx(msg, static_cast<int>(frame.size()));
    after.Take(owner.m_image);

    if (std::memcmp(before.all, after.all, sizeof before.all) != 0) {
        // A change is allowed only for a well-formed reply of a known block and size.
        if (frame.size() < 13 || frame[3] != 0 || frame[5] != 0x3F || frame[6] != 0x12) std::abort();
        uint32_t addr = (uint32_t(frame[7]) << 16) | (uint32_t(frame[8]) << 8) | frame[9];
        // Written out here, not taken from the code under test.
        static const struct {
            uint32_t addr;
            int size;
        } kKnown[] = {{0x7F0000, 8},  {0x7F0100, 16}, {0x7F0800, 1},  {0x000000, 28}, {0x000100, 44},
                      {0x000200, 50}, {0x000240, 50}, {0x000300, 50}, {0x000340, 50}, {0x000400, 50},
                      {0x000440, 50}, {0x000500, 50}, {0x000540, 50}, {0x010000, 58}};
        bool bKnown = false;
        for (auto& k : kKnown) bKnown |= k.addr == addr && static_cast<int>(frame.size()) - 12 == k.size;
        if (!bKnown) std::abort();
    }
    std::free(msg);
    return 0;
}
