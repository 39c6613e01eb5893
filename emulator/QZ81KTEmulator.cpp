#include "emulator/QZ81KTEmulator.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "midi/MidiMessageLength.h"
#include "midi/platform/WorkerThread.h"
#include "protocol/wire/DeviceFrames.h"

namespace {

// A flood switched on while idle starts this late at most; every other fault switch is
// read when a request arrives, so an idle emulator need not wake more often.
constexpr uint32_t kIdleWaitMs = 250;

// Unrelated traffic of the flood, in a repeating pattern of 16: mostly timing clock,
// some active sensing, notes and two foreign System Exclusive messages.
constexpr uint8_t kXGSystemOn[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
constexpr uint8_t kGMSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};


}  // namespace

CQZ81KTEmulator::CQZ81KTEmulator(CEmulatorOutput* pOutput)
    : m_pOutput(pOutput), m_epoch(std::chrono::steady_clock::now()) {
    m_fnClock = [this] { return SteadyMs(); };
}

CQZ81KTEmulator::~CQZ81KTEmulator() { Stop(); }

void CQZ81KTEmulator::SetOutput(CEmulatorOutput* pOutput) { m_pOutput = pOutput; }

void CQZ81KTEmulator::SetClock(std::function<uint64_t()> fnNowMs) {
    if (fnNowMs) m_fnClock = std::move(fnNowMs);
}

uint64_t CQZ81KTEmulator::SteadyMs() const {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_epoch).count());
}

uint64_t CQZ81KTEmulator::StatusNow() const { return m_fnClock(); }

// ---- life cycle ----

bool CQZ81KTEmulator::Start() {
    if (IsRunning()) return true;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_bPowered) m_state.PowerOn(StatusNow());
        m_bUpdateMode = false;
        m_bRebooting = false;
        m_nPowerGen.fetch_add(1, std::memory_order_acq_rel);
    }
    m_nDelayHead = m_nDelayCount = 0;
    m_nRepliesWaiting.store(0, std::memory_order_release);
    m_nFloodRate = 0;
    m_stop.Reset();
    m_bRunning.store(true, std::memory_order_release);
    try {
        m_hThread = std::thread(&CQZ81KTEmulator::WorkerMain, this);
    } catch (const std::system_error&) {
        m_bRunning.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

void CQZ81KTEmulator::Stop() {
    if (!m_hThread.joinable()) return;
    m_stop.Set();
    m_hThread.join();
    m_bRunning.store(false, std::memory_order_release);
}

void CQZ81KTEmulator::PowerOff() {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_bPowered = false;
    m_bRebooting = false;
    m_nPowerGen.fetch_add(1, std::memory_order_acq_rel);
}

void CQZ81KTEmulator::PowerOn() {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_bPowered) return;
    m_state.PowerOn(StatusNow());
    m_bUpdateMode = false;
    m_bRebooting = false;
    m_bPowered = true;
    m_nPowerGen.fetch_add(1, std::memory_order_acq_rel);
}

void CQZ81KTEmulator::PowerCycle() {
    PowerOff();
    PowerOn();
}

bool CQZ81KTEmulator::IsAnswering() const {
    return IsPowered() && !IsRebooting() && !IsInUpdateMode() && !m_faults.m_bSilent.load(std::memory_order_relaxed);
}

// ---- settings and model ----

void CQZ81KTEmulator::SetInputFormat(int nCode) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.SetInputFormat(nCode, StatusNow());
}

void CQZ81KTEmulator::SetControlMode(uint8_t byMode) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.SetControlMode(byMode);
}

void CQZ81KTEmulator::SetPower(bool bExternal, int nTenthsOfVolt) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.SetPower(bExternal, nTenthsOfVolt);
}

void CQZ81KTEmulator::SetLowLatencyAvailable(bool bAvailable) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.SetLowLatencyAvailable(bAvailable);
}

void CQZ81KTEmulator::SetVersion(const char* pszVersion) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.SetVersion(pszVersion);
}

bool CQZ81KTEmulator::SetProductID(std::string_view strID) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.SetProductID(strID);
}

size_t CQZ81KTEmulator::ReadBlock(uint32_t dwAddress, uint8_t* pOut, size_t nCapacity) const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.ReadBlock(dwAddress, StatusNow(), pOut, nCapacity);
}

CEmulatorMemory CQZ81KTEmulator::Memory() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.Memory();
}

CEmulatorMemory CQZ81KTEmulator::FlashMemory() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.FlashMemory();
}

uint8_t CQZ81KTEmulator::TestBits() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.TestBits();
}

bool CQZ81KTEmulator::LoadFlashFile(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.LoadFlashFile(strPath.c_str());
}

bool CQZ81KTEmulator::SaveFlashFile(const std::string& strPath) const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state.SaveFlashFile(strPath.c_str());
}

void CQZ81KTEmulator::SetFlashFile(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_strFlashFile = strPath;
}

void CQZ81KTEmulator::CaptureFlashIfSet() {
    if (m_strFlashFile.empty()) return;
    m_strFlashPending = m_strFlashFile;
    m_nFlashText = m_state.FormatFlashText(m_achFlashText, sizeof(m_achFlashText));
}

void CQZ81KTEmulator::WriteCapturedFlash() {
    if (m_strFlashPending.empty()) return;
    CEmulatorState::WriteFlashText(m_strFlashPending.c_str(), m_achFlashText, m_nFlashText);
    m_strFlashPending.clear();
}

CEmulatorCounters CQZ81KTEmulator::Counters() const {
    CEmulatorCounters c;
    c.m_nRequestsAnswered = m_nRequestsAnswered.load(std::memory_order_acquire);
    c.m_nWritesApplied = m_nWritesApplied.load(std::memory_order_acquire);
    c.m_nCommands = m_nCommands.load(std::memory_order_acquire);
    c.m_nFramesIgnored = m_nFramesIgnored.load(std::memory_order_acquire);
    c.m_nIgnoredSilent = m_nIgnoredSilent.load(std::memory_order_acquire);
    c.m_nInboxDrops = m_nInboxDrops.load(std::memory_order_acquire);
    c.m_nRepliesDropped = m_nRepliesDropped.load(std::memory_order_acquire);
    c.m_nSendFailures = m_nSendFailures.load(std::memory_order_acquire);
    c.m_nFloodMessages = m_nFloodMessages.load(std::memory_order_acquire);
    return c;
}

// ---- inbox ----

void CQZ81KTEmulator::Receive(const uint8_t* pData, size_t nLength) {
    if (!pData || nLength == 0) return;
    PushInbox(pData, nLength);
}

void CQZ81KTEmulator::ReceiveShort(uint32_t dwMsg) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(dwMsg), static_cast<uint8_t>(dwMsg >> 8),
                              static_cast<uint8_t>(dwMsg >> 16)};
    // A byte that starts no short message goes in alone, for the framer to judge.
    PushInbox(bytes, std::max<size_t>(qz::MidiMessageLength(bytes[0]), 1));
}

void CQZ81KTEmulator::PushInbox(const uint8_t* pData, size_t nLength) {
    {
        std::lock_guard<std::mutex> lock(m_inboxMutex);
        if (nLength > m_inbox.Free()) {  // whole messages only
            m_nInboxDrops.fetch_add(1, std::memory_order_acq_rel);
            return;
        }
        m_inbox.Write(pData, nLength);
    }
    m_wake.Set();
}

void CQZ81KTEmulator::DrainInbox() {
    for (;;) {
        size_t n;
        {
            std::lock_guard<std::mutex> lock(m_inboxMutex);
            const uint8_t* p;
            n = std::min(m_inbox.Peek(p), sizeof(m_chunk));
            std::memcpy(m_chunk, p, n);
            m_inbox.Consume(n);
        }
        if (n == 0) return;
        const uint32_t nGen = m_nPowerGen.load(std::memory_order_acquire);
        if (nGen != m_nSeenPowerGen) {
            // A frame cut by a power change must not join what comes after it.
            m_nSeenPowerGen = nGen;
            m_bInFrame = false;
        }
        for (size_t i = 0; i < n; ++i) FrameByte(m_chunk[i]);
    }
}

// ---- framing ----

void CQZ81KTEmulator::FrameByte(uint8_t by) {
    if (by >= 0xF8) return;  // real-time bytes may appear anywhere, even inside a message
    if (by == 0xF0) {
        if (m_bInFrame) m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);  // cut short by a new one
        m_bInFrame = true;
        m_bFrameOverflow = false;
        m_frame[0] = by;
        m_nFrameLen = 1;
        return;
    }
    if (!m_bInFrame) return;  // channel messages and stray data are not for us
    if (by == 0xF7) {
        m_bInFrame = false;
        if (m_bFrameOverflow) {
            m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
            return;
        }
        m_frame[m_nFrameLen++] = by;  // room is kept for the end byte
        ProcessFrame(m_frame, m_nFrameLen);
        return;
    }
    if (by & 0x80) {  // any other status byte ends the message unfinished
        m_bInFrame = false;
        m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    if (m_nFrameLen + 1 < kMaxFrame)
        m_frame[m_nFrameLen++] = by;
    else
        m_bFrameOverflow = true;
}

void CQZ81KTEmulator::ProcessFrame(const uint8_t* f, size_t nLength) {
    if (!IsAnswering()) {
        m_nIgnoredSilent.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    qz::CFrameFields frame;
    if (!qz::ReadFrame(f, nLength, frame) || frame.byManufacturer != qz::kManufacturerID || !qz::IsDeviceModel(frame)) {
        m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    // The device ID byte is not examined: the panel always sends 7F, which every unit takes.
    const uint32_t dwAddress = frame.dwAddress;
    if (frame.byCommand == qz::kCmdRQ1) {
        const uint32_t dwSize = qz::RequestedSize(frame);
        const int nBlock = CEmulatorState::ReadableBlockSize(dwAddress);
        // A request is answered only for a whole block: a wrong size gets no reply, so that
        // a sender asking for the wrong size finds out at once.
        if (nLength != qz::kRQ1Length || !frame.bChecksumGood || nBlock == 0 ||
            dwSize != static_cast<uint32_t>(nBlock)) {
            m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
            return;
        }
        size_t n;
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            n = m_state.ReadBlock(dwAddress, StatusNow(), m_block, sizeof(m_block));
        }
        Reply(dwAddress, m_block, n);
        return;
    }
    if (frame.byCommand == qz::kCmdDT1) {
        const size_t n = frame.nData;
        if (n == 0 || !frame.bChecksumGood) {
            m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
            return;
        }
        std::unique_lock<std::mutex> lock(m_stateMutex);
        switch (m_state.ApplyWrite(dwAddress, frame.pData, n, StatusNow())) {
        case CEmulatorState::kWriteIgnored:
            m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
            break;
        case CEmulatorState::kWriteApplied:
            m_nWritesApplied.fetch_add(1, std::memory_order_acq_rel);
            break;
        case CEmulatorState::kWriteFactoryReset:
            // Settings and power-on copy are reset; the unit reboots and is silent meanwhile.
            CaptureFlashIfSet();
            m_nRebootEndMs = SteadyMs() + RebootMs();
            m_bRebooting = true;
            m_nPowerGen.fetch_add(1, std::memory_order_acq_rel);
            m_nCommands.fetch_add(1, std::memory_order_acq_rel);
            break;
        case CEmulatorState::kWriteFlash:
            CaptureFlashIfSet();
            m_nCommands.fetch_add(1, std::memory_order_acq_rel);
            break;
        case CEmulatorState::kWriteUpdateMode:
            m_bUpdateMode = true;  // waits for firmware that never comes: only a power cycle ends it
            m_nCommands.fetch_add(1, std::memory_order_acq_rel);
            break;
        }
        lock.unlock();
        WriteCapturedFlash();
        return;
    }
    m_nFramesIgnored.fetch_add(1, std::memory_order_acq_rel);
}

void CQZ81KTEmulator::FinishReboot(uint64_t nTick) {
    if (!IsRebooting() || nTick < m_nRebootEndMs.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_bRebooting) return;
    m_state.PowerOn(StatusNow());
    m_bRebooting = false;
    m_nPowerGen.fetch_add(1, std::memory_order_acq_rel);
}

// ---- replies ----

void CQZ81KTEmulator::Reply(uint32_t dwAddress, const uint8_t* pData, size_t n) {
    const uint32_t nDropEvery = m_faults.m_nDropEveryNth.load(std::memory_order_relaxed);
    ++m_nReplySeq;
    if (nDropEvery != 0 && m_nReplySeq % nDropEvery == 0) {
        m_nRepliesDropped.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    // Size fault: cut data bytes, or add zero bytes, within the reply buffer.
    const int nDelta = std::clamp(m_faults.m_nSizeDelta.load(std::memory_order_relaxed), -static_cast<int>(n),
                                  kMaxExtraBytes);
    const size_t nData = static_cast<size_t>(static_cast<int>(n) + nDelta);
    uint8_t* r = m_reply;
    r[0] = 0xF0;
    r[1] = qz::kManufacturerID;
    r[2] = m_faults.m_byReplyDeviceID.load(std::memory_order_relaxed) & 0x7F;
    r[3] = 0x00;
    r[4] = 0x00;
    r[5] = 0x3F;
    r[6] = qz::kCmdDT1;
    r[7] = static_cast<uint8_t>(dwAddress >> 16);
    r[8] = static_cast<uint8_t>(dwAddress >> 8);
    r[9] = static_cast<uint8_t>(dwAddress);
    std::memcpy(r + 10, pData, std::min(n, nData));
    if (nData > n) std::memset(r + 10 + n, 0, nData - n);
    uint8_t bySum = qz::FrameChecksum(r + 7, 3 + nData);
    if (m_faults.m_bBadChecksum.load(std::memory_order_relaxed)) bySum = (bySum + 1) & 0x7F;
    r[10 + nData] = bySum;
    r[11 + nData] = 0xF7;
    const size_t nLength = nData + qz::kDT1Overhead;

    const uint32_t nDelay = m_faults.m_nDelayMs.load(std::memory_order_relaxed);
    if (nDelay == 0 && m_nDelayCount == 0) {
        SendReply(r, nLength);
        return;
    }
    // Late replies keep their order: once one waits, the following ones queue behind it.
    if (m_nDelayCount == kDelaySlots) {
        m_nRepliesDropped.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    CDelayed& d = m_delayed[(m_nDelayHead + m_nDelayCount) % kDelaySlots];
    d.nDueMs = SteadyMs() + nDelay;
    d.nLength = nLength;
    std::memcpy(d.byData, r, nLength);
    ++m_nDelayCount;
    m_nRepliesWaiting.store(static_cast<uint32_t>(m_nDelayCount), std::memory_order_release);
}

void CQZ81KTEmulator::SendDueReplies(uint64_t nTick) {
    while (m_nDelayCount > 0) {
        CDelayed& d = m_delayed[m_nDelayHead];
        if (d.nDueMs > nTick) return;
        SendReply(d.byData, d.nLength);
        m_nDelayHead = (m_nDelayHead + 1) % kDelaySlots;
        --m_nDelayCount;
        m_nRepliesWaiting.store(static_cast<uint32_t>(m_nDelayCount), std::memory_order_release);
    }
}

void CQZ81KTEmulator::SendReply(const uint8_t* pFrame, size_t nLength) {
    m_nRequestsAnswered.fetch_add(1, std::memory_order_acq_rel);
    if (!m_pOutput) {
        m_nSendFailures.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    const size_t nSplit = m_faults.m_nSplitBytes.load(std::memory_order_relaxed);
    const size_t nPiece = nSplit == 0 ? nLength : nSplit;
    for (size_t nOff = 0; nOff < nLength; nOff += nPiece) {
        if (!m_pOutput->SendLong(pFrame + nOff, std::min(nPiece, nLength - nOff)))
            m_nSendFailures.fetch_add(1, std::memory_order_acq_rel);
    }
}

// ---- flood ----

void CQZ81KTEmulator::RunFlood(uint64_t nTick) {
    const uint32_t nRate = m_faults.m_nFloodPerSecond.load(std::memory_order_relaxed);
    if (nRate != m_nFloodRate) {
        m_nFloodRate = nRate;
        m_nFloodStartMs = nTick;
        m_nFloodSent = 0;
    }
    if (nRate == 0) return;
    // Send what the rate asks for since the flood began, in one batch per tick; after a
    // stall at most 10 ms worth is made up: a larger burst is one no cable delivers, and
    // it would test the receiver's ring rather than its pace.
    const uint64_t nTarget = (nTick - m_nFloodStartMs) * nRate / 1000;
    const uint64_t nCap = std::max<uint64_t>(nRate / 100, 1);
    if (nTarget - m_nFloodSent > nCap) m_nFloodSent = nTarget - nCap;
    for (; m_nFloodSent < nTarget; ++m_nFloodSent) SendFloodMessage(m_nFloodSeq++);
}

void CQZ81KTEmulator::SendFloodMessage(uint64_t nSeq) {
    m_nFloodMessages.fetch_add(1, std::memory_order_relaxed);
    if (!m_pOutput) return;
    bool bSent;
    switch (nSeq % 16) {
    case 1: case 9: bSent = m_pOutput->SendShort(0xFE); break;             // active sensing
    case 3: bSent = m_pOutput->SendShort(0x00643C90); break;               // note on
    case 11: bSent = m_pOutput->SendShort(0x00003C80); break;              // note off
    case 7: bSent = m_pOutput->SendShort(0x00504091); break;               // note on, channel 2
    case 15: bSent = m_pOutput->SendShort(0x00004081); break;              // note off, channel 2
    case 5: bSent = m_pOutput->SendLong(kXGSystemOn, sizeof(kXGSystemOn)); break;
    case 13: bSent = m_pOutput->SendLong(kGMSystemOn, sizeof(kGMSystemOn)); break;
    default: bSent = m_pOutput->SendShort(0xF8); break;                    // timing clock
    }
    if (!bSent) m_nSendFailures.fetch_add(1, std::memory_order_relaxed);
}

// ---- worker ----

uint32_t CQZ81KTEmulator::NextWaitMs(uint64_t nTick) const {
    uint64_t nWait = kIdleWaitMs;
    if (m_faults.m_nFloodPerSecond.load(std::memory_order_relaxed) != 0) nWait = 1;
    if (m_nDelayCount > 0) {
        const uint64_t nDue = m_delayed[m_nDelayHead].nDueMs;
        nWait = std::min(nWait, nDue > nTick ? nDue - nTick : 0);
    }
    if (IsRebooting()) {
        const uint64_t nEnd = m_nRebootEndMs.load(std::memory_order_acquire);
        nWait = std::min(nWait, nEnd > nTick ? nEnd - nTick : 0);
    }
    return static_cast<uint32_t>(nWait);
}

void CQZ81KTEmulator::WorkerMain() {
    qz::BecomeWorkerThread("qz-emulator");
    m_bInFrame = false;
    m_nSeenPowerGen = m_nPowerGen.load(std::memory_order_acquire);
    for (;;) {
        if (CEvent::WaitAny(m_stop, m_wake, NextWaitMs(SteadyMs())) == 0) break;
        const uint64_t nTick = SteadyMs();
        FinishReboot(nTick);
        DrainInbox();
        SendDueReplies(SteadyMs());
        RunFlood(nTick);
    }
}
