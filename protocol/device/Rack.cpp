#include "protocol/device/Rack.h"

#include <algorithm>
#include <chrono>

#include "midi/PortSelection.h"
#include "midi/platform/WorkerThread.h"

namespace {

using Clock = std::chrono::steady_clock;
using qz::EBlock;

constexpr uint32_t Bit(EBlock e) { return uint32_t{1} << static_cast<int>(e); }

std::string TrimBlanks(std::string str) {
    while (!str.empty() && str.back() == ' ') str.pop_back();
    return str;
}

int IndexOf(const std::vector<std::string>& names, const std::string& str) {
    auto it = std::find(names.begin(), names.end(), str);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

}  // namespace

void CRack::CSlotListener::OnSessionEvent(const CSessionEvent& event) {
    if (event.eKind != CSessionEvent::EKind::Block || !event.bChanged) return;
    m_dwChanged.fetch_or(Bit(event.eBlock), std::memory_order_acq_rel);
    m_wake.Set();
}

CRack::CRack(CMidiDriver& driver, CRackListener* pListener, uint32_t nPortIntervalMs)
    : m_driver(driver), m_pListener(pListener), m_portWatch(&driver, nPortIntervalMs) {}

CRack::~CRack() { Stop(); }

std::string CRack::UnitIdentifier(std::string_view strProductID) {
    std::string id = "unit_";
    for (char c : strProductID) {
        const bool bKept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        id += bKept ? c : '_';
    }
    return id;
}

void CRack::Start() {
    if (m_thread.joinable()) return;
    m_stop.Reset();
    m_nSeenGeneration = 0;
    m_portWatch.Start();
    m_thread = std::thread(&CRack::WorkerMain, this);
}

void CRack::Stop() {
    if (!m_thread.joinable()) return;
    m_stop.Set();
    m_thread.join();
    m_portWatch.Stop();
    std::vector<std::unique_ptr<CSlot>> slots;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        slots.swap(m_slots);
        for (auto& pUnit : m_units) {
            pUnit->pSlot = nullptr;
            pUnit->info.bPresent = pUnit->info.bOnline = false;
        }
    }
    for (auto& pSlot : slots) {
        pSlot->pSession->SetListener(nullptr);
        pSlot->pSession->Disconnect();
    }
    m_outbox.clear();
}

std::vector<CRackUnit> CRack::Units() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CRackUnit> units;
    for (const auto& pUnit : m_units) units.push_back(pUnit->info);
    return units;
}

std::shared_ptr<CDeviceSession> CRack::Session(const std::string& strId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const CUnit* pUnit = FindUnit(strId);
    return pUnit && pUnit->pSlot ? pUnit->pSlot->pSession : nullptr;
}

void CRack::ForgetUnit(const std::string& strId) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_forget.push_back(strId);
    }
    m_wake.Set();
}

CRack::CUnit* CRack::FindUnit(std::string_view strId) const {
    for (const auto& pUnit : m_units)
        if (pUnit->info.strId == strId) return pUnit.get();
    return nullptr;
}

// ---- the rack's thread ----

void CRack::WorkerMain() {
    qz::BecomeWorkerThread("qz-rack");
    auto nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
    for (;;) {
        const auto now = Clock::now();
        const auto nWaitMs = nextTick > now ? std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count() : 0;
        if (CEvent::WaitAny(m_stop, m_wake, static_cast<uint32_t>(nWaitMs)) == 0) return;
        FollowPorts();
        const bool bTick = Clock::now() >= nextTick;
        if (bTick) {
            nextTick += std::chrono::milliseconds(kTickMs);
            if (nextTick < Clock::now()) nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
        }
        for (auto& pSlot : m_slots) ServeSlot(*pSlot, bTick);
        ForgetRequested();
        Deliver();
    }
}

void CRack::FollowPorts() {
    const uint32_t nGeneration = m_portWatch.Generation();
    if (nGeneration == m_nSeenGeneration) return;
    m_nSeenGeneration = nGeneration;
    // The same pairing as the window's and the command line's preselection.
    const CPortLists lists = m_portWatch.Lists();
    const std::vector<std::string>& ins = lists.m_ins;
    const std::vector<std::string>& outs = lists.m_outs;
    const std::vector<qz::CPortPair> pairs = qz::MatchConverterPairs(lists.m_inDevices, lists.m_outDevices);
    auto listed = [&](const CSlot& slot) {
        for (const qz::CPortPair& p : pairs)
            if (ins[static_cast<size_t>(p.m_nIn)] == slot.strIn && outs[static_cast<size_t>(p.m_nOut)] == slot.strOut)
                return true;
        return false;
    };
    for (size_t i = m_slots.size(); i-- > 0;)
        if (!listed(*m_slots[i])) DropSlot(i);
    for (const qz::CPortPair& p : pairs) {
        const std::string& strIn = ins[static_cast<size_t>(p.m_nIn)];
        const std::string& strOut = outs[static_cast<size_t>(p.m_nOut)];
        const bool bKnown = std::any_of(m_slots.begin(), m_slots.end(), [&](const std::unique_ptr<CSlot>& s) {
            return s->strIn == strIn && s->strOut == strOut;
        });
        if (!bKnown) AddSlot(strIn, strOut, p.m_nIn, p.m_nOut);
    }
}

void CRack::AddSlot(const std::string& strIn, const std::string& strOut, int nIn, int nOut) {
    auto pSlot = std::make_unique<CSlot>(m_wake);
    pSlot->strIn = strIn;
    pSlot->strOut = strOut;
    pSlot->pSession = std::make_shared<CDeviceSession>(m_driver, &pSlot->listener);
    CSlot& slot = *pSlot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slots.push_back(std::move(pSlot));
    }
    Connect(slot, nIn, nOut);
}

void CRack::Connect(CSlot& slot, int nIn, int nOut) {
    slot.nLinkUps = 0;
    slot.nDownTicks = slot.nUpTicks = 0;
    slot.bConnected = nIn >= 0 && nOut >= 0 &&
                      slot.pSession->Connect(static_cast<uint32_t>(nIn), static_cast<uint32_t>(nOut)) ==
                          CDeviceSession::EConnect::Ok;
    if (slot.bConnected || slot.bWarnedOpen) return;
    slot.bWarnedOpen = true;
    Emit(CRackEvent::EKind::Warning, {}, 0,
         "cannot open the MIDI ports " + slot.strIn + " and " + slot.strOut + "; trying again every second");
}

void CRack::DropSlot(size_t nSlot) {
    CSlot& slot = *m_slots[nSlot];
    slot.pSession->PortsGone();
    slot.pSession->SetListener(nullptr);  // a session still held by a caller reports no more
    Unbind(slot);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots.erase(m_slots.begin() + static_cast<std::ptrdiff_t>(nSlot));
}

void CRack::ServeSlot(CSlot& slot, bool bTick) {
    const uint32_t dwChanged = slot.listener.m_dwChanged.exchange(0, std::memory_order_acq_rel);
    CUnit* pBefore = slot.pUnit;
    if (dwChanged & Bit(EBlock::ProductID)) Identify(slot);
    if (slot.pUnit && (dwChanged & Bit(EBlock::Version))) {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot.pUnit->info.strVersion = slot.pSession->Version();
    }
    // A unit published just now is read whole by whoever hears of it.
    if (slot.pUnit && slot.pUnit == pBefore && dwChanged)
        Emit(CRackEvent::EKind::Blocks, slot.pUnit->info.strId, dwChanged);
    if (bTick) TickSlot(slot);
}

void CRack::TickSlot(CSlot& slot) {
    CDeviceSession& session = *slot.pSession;
    if (!slot.bConnected) {
        if (++slot.nDownTicks % kRetryTicks == 0)
            Connect(slot, IndexOf(m_portWatch.Inputs(), slot.strIn), IndexOf(m_portWatch.Outputs(), slot.strOut));
        return;
    }
    switch (session.Tick()) {
        case CLinkWatch::kTickLinkUp:
            // Asks for what the silence lost; after a loss the device may have been
            // switched off and on, so for everything.
            if (++slot.nLinkUps == 1)
                session.RequestMissing();
            else
                session.RequestAll();
            slot.nDownTicks = 0;
            if (slot.pUnit) SetOnline(*slot.pUnit, true);
            return;
        case CLinkWatch::kTickLinkLost:
            if (slot.pUnit) SetOnline(*slot.pUnit, false);
            return;
        case CLinkWatch::kTickPolled:
            if (++slot.nUpTicks % kRetryTicks == 0) session.RequestMissing();
            return;
        case CLinkWatch::kTickIdle: break;
    }
    // The link watch sends nothing while the link is down.
    ++slot.nDownTicks;
    if (slot.nDownTicks % kReopenTicks == 0)
        Connect(slot, IndexOf(m_portWatch.Inputs(), slot.strIn), IndexOf(m_portWatch.Outputs(), slot.strOut));
    else if (slot.nDownTicks % kRetryTicks == 0)
        session.Request(EBlock::Status);
}

void CRack::Identify(CSlot& slot) {
    const std::string strProductID = TrimBlanks(slot.pSession->ProductID());
    if (slot.pUnit && slot.pUnit->info.strProductID == strProductID) return;
    Unbind(slot);  // the ID changed: another unit now, as far as anyone can tell
    // The same unit back: one with this ID whose ports are gone, the one last seen on
    // these ports first.
    CUnit* pUnit = nullptr;
    for (const auto& p : m_units) {
        if (p->pSlot || p->info.strProductID != strProductID) continue;
        if (!pUnit || (p->info.strInPort == slot.strIn && p->info.strOutPort == slot.strOut)) pUnit = p.get();
    }
    if (pUnit) {
        Bind(slot, *pUnit);
        return;
    }
    const std::string strBase = UnitIdentifier(strProductID);
    std::string strId = strBase;
    for (int n = 2; FindUnit(strId); ++n) strId = strBase + "_" + std::to_string(n);
    auto pNew = std::make_unique<CUnit>();
    pNew->info.strId = strId;
    pNew->info.strProductID = strProductID;
    CUnit& unit = *pNew;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_units.push_back(std::move(pNew));
    }
    if (strId != strBase) {
        const CUnit& holder = *FindUnit(strBase);
        Emit(CRackEvent::EKind::Warning, strId, 0,
             "product ID \"" + strProductID + "\" on " + slot.strIn + " / " + slot.strOut +
                 (holder.info.strProductID == strProductID ? " is already in use by "
                                                           : " gives the identifier of product ID \"" +
                                                                 holder.info.strProductID + "\", ") +
                 strBase + "; published as " + strId);
    }
    Emit(CRackEvent::EKind::Added, strId);
    Bind(slot, unit);
}

void CRack::Bind(CSlot& slot, CUnit& unit) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        slot.pUnit = &unit;
        unit.pSlot = &slot;
        unit.info.strInPort = slot.strIn;
        unit.info.strOutPort = slot.strOut;
        unit.info.strVersion = slot.pSession->Version();
        unit.info.bPresent = true;
    }
    if (slot.pSession->IsLinkUp()) SetOnline(unit, true);
}

void CRack::Unbind(CSlot& slot) {
    CUnit* pUnit = slot.pUnit;
    if (!pUnit) return;
    SetOnline(*pUnit, false);
    std::lock_guard<std::mutex> lock(m_mutex);
    pUnit->pSlot = nullptr;
    pUnit->info.bPresent = false;
    slot.pUnit = nullptr;
}

void CRack::SetOnline(CUnit& unit, bool bOnline) {
    if (unit.info.bOnline == bOnline) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        unit.info.bOnline = bOnline;
    }
    Emit(bOnline ? CRackEvent::EKind::Online : CRackEvent::EKind::Offline, unit.info.strId);
}

void CRack::ForgetRequested() {
    std::vector<std::string> ids;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ids.swap(m_forget);
    }
    for (const std::string& strId : ids) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_units.begin(), m_units.end(),
                               [&](const std::unique_ptr<CUnit>& p) { return p->info.strId == strId && !p->pSlot; });
        if (it == m_units.end()) continue;
        m_units.erase(it);
        Emit(CRackEvent::EKind::Removed, strId);
    }
}

void CRack::Emit(CRackEvent::EKind eKind, const std::string& strUnit, uint32_t dwBlocks, std::string strText) {
    m_outbox.push_back({.eKind = eKind, .strUnit = strUnit, .dwBlocks = dwBlocks, .strText = std::move(strText)});
}

void CRack::Deliver() {
    std::vector<CRackEvent> events;
    events.swap(m_outbox);
    if (!m_pListener) return;
    for (const CRackEvent& e : events) m_pListener->OnRackEvent(e);
}
