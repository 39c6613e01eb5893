#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "emulator/LoopbackEmulator.h"
#include "tests/emulator/EmulatorTestSupport.h"

namespace {

// The program's end of the pair, straight on the driver: a few small input buffers that
// are queued again as soon as they come back, and one output header.
class CRawPanel {
public:
    static constexpr size_t kBuffers = 16;
    static constexpr uint32_t kBufferSize = 32;

    CRawPanel(CLoopbackDriver& driver, uint32_t nPort) : m_driver(driver), m_nPort(nPort) {}
    ~CRawPanel() { Close(); }

    bool OpenOutput() {
        if (m_driver.OutOpen(&m_hOut, m_nPort, nullptr, nullptr) != MMSYSERR_NOERROR) return false;
        m_outHdr.lpData = m_outBuf.data();
        m_outHdr.dwBufferLength = static_cast<uint32_t>(m_outBuf.size());
        return m_driver.OutPrepareHeader(m_hOut, &m_outHdr) == MMSYSERR_NOERROR;
    }

    bool OpenInput() {
        if (m_driver.InOpen(&m_hIn, m_nPort, &CRawPanel::InCallback, this) != MMSYSERR_NOERROR) return false;
        for (size_t i = 0; i < kBuffers; ++i) {
            m_inHdr[i].lpData = m_inBuf[i].data();
            m_inHdr[i].dwBufferLength = kBufferSize;
            if (m_driver.InPrepareHeader(m_hIn, &m_inHdr[i]) != MMSYSERR_NOERROR) return false;
            if (m_driver.InAddBuffer(m_hIn, &m_inHdr[i]) != MMSYSERR_NOERROR) return false;
        }
        return m_driver.InStart(m_hIn) == MMSYSERR_NOERROR;
    }

    void Close() {
        if (m_hIn) {
            m_bClosing = true;
            m_driver.InReset(m_hIn);
            m_driver.InClose(m_hIn);
            m_hIn = nullptr;
        }
        if (m_hOut) {
            m_driver.OutClose(m_hOut);
            m_hOut = nullptr;
        }
    }

    // The loopback completes a long message inside the call, so the header is free again.
    bool Send(const Bytes& frame) {
        if (frame.size() > m_outBuf.size()) return false;
        std::memcpy(m_outBuf.data(), frame.data(), frame.size());
        m_outHdr.dwBufferLength = static_cast<uint32_t>(frame.size());
        return m_driver.OutLongMsg(m_hOut, &m_outHdr) == MMSYSERR_NOERROR;
    }

    // Waits for nCount complete System Exclusive messages (framed by F0…F7).
    bool WaitMessages(size_t nCount, int nTimeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_messages.size() >= nCount; });
    }
    bool WaitShort(size_t nCount, int nTimeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_short.size() >= nCount; });
    }
    std::vector<Bytes> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    std::vector<uint32_t> Pieces() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pieces;
    }
    std::vector<uint32_t> ShortMessages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_short;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.clear();
        m_pieces.clear();
        m_short.clear();
    }

private:
    static void InCallback(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t) {
        auto* self = static_cast<CRawPanel*>(pInstance);
        if ((uMsg & 0xFFFF) == MIM_DATA) {
            {
                std::lock_guard<std::mutex> lock(self->m_mutex);
                self->m_short.push_back(static_cast<uint32_t>(param1));
            }
            self->m_cv.notify_all();
        } else if ((uMsg & 0xFFFF) == MIM_LONGDATA) {
            auto* pHdr = reinterpret_cast<MIDIHDR*>(param1);
            self->OnLong(pHdr->lpData, pHdr->dwBytesRecorded);
            if (!self->m_bClosing) self->m_driver.InAddBuffer(hPort, pHdr);
        }
    }

    void OnLong(const uint8_t* p, uint32_t n) {
        if (n == 0) return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pieces.push_back(n);
            for (uint32_t i = 0; i < n; ++i) {
                if (p[i] == 0xF0) m_current.clear();
                m_current.push_back(p[i]);
                if (p[i] == 0xF7) {
                    m_messages.push_back(m_current);
                    m_current.clear();
                }
            }
        }
        m_cv.notify_all();
    }

    CLoopbackDriver& m_driver;
    uint32_t m_nPort;
    HMIDIPORT m_hIn = nullptr, m_hOut = nullptr;
    std::array<std::array<uint8_t, kBufferSize>, kBuffers> m_inBuf{};
    std::array<MIDIHDR, kBuffers> m_inHdr{};
    std::array<uint8_t, 128> m_outBuf{};
    MIDIHDR m_outHdr;
    std::atomic<bool> m_bClosing{false};

    std::mutex m_mutex;
    std::condition_variable m_cv;
    Bytes m_current;
    std::vector<Bytes> m_messages;
    std::vector<uint32_t> m_pieces;
    std::vector<uint32_t> m_short;
};

}  // namespace

TEST(EmulatorLoopback, AnswersTheRequestAllSequenceOverItsPortPair) {
    CLoopbackDriver driver;
    driver.AddPortPair("USB MIDI", nullptr);
    CLoopbackEmulator emu(driver);
    EXPECT_EQ(emu.Port(), 1u);
    std::string strName;
    ASSERT_EQ(driver.InGetDevName(emu.Port(), strName), MMSYSERR_NOERROR);
    EXPECT_EQ(strName, "QZ-81KT Emulator");
    ASSERT_EQ(driver.OutGetDevName(emu.Port(), strName), MMSYSERR_NOERROR);
    EXPECT_EQ(strName, "QZ-81KT Emulator");
    ASSERT_TRUE(emu.Start());

    CRawPanel panel(driver, emu.Port());
    ASSERT_TRUE(panel.OpenOutput());
    // With the program's input not started the reply has nowhere to go.
    ASSERT_TRUE(panel.Send(RQ1(qz::kAddrVersion, 8)));
    auto& e = emu.Emulator();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (e.Counters().m_nSendFailures == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(e.Counters().m_nSendFailures, 1u);

    ASSERT_TRUE(panel.OpenInput());
    struct Req {
        uint32_t dwAddress, nSize;
    };
    std::vector<Req> reqs = {{qz::kAddrVersion, 8}, {qz::kAddrProductID, 16}, {qz::kAddrSystem, 28}, {qz::kAddrTimecode, 44}};
    for (int n = 0; n < 8; ++n) reqs.push_back({qz::PackAddress7(static_cast<uint32_t>(n + 4) * 64), 50});
    reqs.push_back({qz::kAddrStatus, 58});
    for (const Req& r : reqs) ASSERT_TRUE(panel.Send(RQ1(r.dwAddress, r.nSize)));
    ASSERT_TRUE(panel.WaitMessages(reqs.size()));
    const auto msgs = panel.Messages();
    ASSERT_EQ(msgs.size(), reqs.size());
    for (size_t i = 0; i < reqs.size(); ++i) {
        EXPECT_EQ(AddressOf(msgs[i]), reqs[i].dwAddress) << i;
        EXPECT_EQ(msgs[i].size(), reqs[i].nSize + 12) << i;
        EXPECT_TRUE(ChecksumOK(msgs[i])) << i;
    }
    // Replies longer than one input buffer fill several in order.
    EXPECT_GT(panel.Pieces().size(), reqs.size());

    // A write sent through the output port, read back.
    Bytes preset(50, 0x05);
    ASSERT_TRUE(panel.Send(DT1(qz::PresetAddress(2), preset)));
    ASSERT_TRUE(panel.Send(RQ1(qz::PresetAddress(2), 50)));
    ASSERT_TRUE(panel.WaitMessages(reqs.size() + 1));
    EXPECT_EQ(DataOf(panel.Messages().back()), preset);
    EXPECT_EQ(e.Counters().m_nWritesApplied, 1u);
}

TEST(EmulatorLoopback, SplitRepliesAndFloodReachTheProgramAsOnARealPort) {
    CLoopbackDriver driver;
    CLoopbackEmulator emu(driver);
    ASSERT_TRUE(emu.Start());
    CRawPanel panel(driver, emu.Port());
    ASSERT_TRUE(panel.OpenOutput());
    ASSERT_TRUE(panel.OpenInput());

    // A reply sent in pieces continues in the same input buffer, as on a real port.
    emu.Faults().m_nSplitBytes = 10;
    ASSERT_TRUE(panel.Send(RQ1(qz::kAddrStatus, 58)));
    ASSERT_TRUE(panel.Send(RQ1(qz::kAddrSystem, 28)));
    ASSERT_TRUE(panel.WaitMessages(2));
    const auto split = panel.Messages();
    EXPECT_EQ(split[0].size(), 70u);
    EXPECT_TRUE(ChecksumOK(split[0]));
    EXPECT_EQ(split[1].size(), 40u);
    EXPECT_TRUE(ChecksumOK(split[1]));
    EXPECT_EQ(panel.Pieces(), (std::vector<uint32_t>{32, 32, 6, 32, 8}));
    emu.Faults().m_nSplitBytes = 0;

    panel.Clear();
    emu.Faults().m_nFloodPerSecond = 2000;
    ASSERT_TRUE(panel.WaitShort(100));
    ASSERT_TRUE(panel.WaitMessages(4));
    emu.Faults().m_nFloodPerSecond = 0;
    const auto shorts = panel.ShortMessages();
    EXPECT_NE(std::find(shorts.begin(), shorts.end(), 0xF8u), shorts.end());
    for (const Bytes& m : panel.Messages()) {
        ASSERT_GE(m.size(), 2u);
        EXPECT_TRUE(m[1] == 0x43 || m[1] == 0x7E) << int(m[1]);
    }
}

TEST(EmulatorLoopback, AfterItIsGoneThePairStaysAndIsSilent) {
    CLoopbackDriver driver;
    uint32_t nPort;
    {
        CLoopbackEmulator emu(driver);
        nPort = emu.Port();
        ASSERT_TRUE(emu.Start());
        emu.Faults().m_nFloodPerSecond = 5000;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    CRawPanel panel(driver, nPort);
    ASSERT_TRUE(panel.OpenOutput());
    ASSERT_TRUE(panel.OpenInput());
    EXPECT_TRUE(panel.Send(RQ1(qz::kAddrVersion, 8)));
    EXPECT_FALSE(panel.WaitMessages(1, 100));
    EXPECT_EQ(driver.InGetNumDevs(), 1u);
}
