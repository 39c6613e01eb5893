#pragma once
// A rack of converters: one session per converter port pair of one MIDI driver. The rack
// follows the port watch: a unit whose ports vanish goes offline at once, and its ports
// coming back (in the same socket or another) connect a new session. A unit is known by
// the product ID it reports, so it keeps its identifier wherever it is plugged in; it is
// published only once that ID has arrived. A second unit reporting an ID already in use
// gets the suffix "_2" ("_3", ...) and one warning.
//
// Threads: Start, Stop and the destructor run on the owner's thread. The rack's own
// thread connects, ticks every session's link watch every 100 ms and calls the listener,
// one event at a time and never under the rack's lock; the listener may call Units,
// Session and ForgetUnit, and must not call Stop or destroy the rack. Units, Session and
// ForgetUnit may be called from any thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "midi/PortWatch.h"
#include "midi/platform/Event.h"
#include "protocol/device/DeviceSession.h"

struct CRackEvent {
    enum class EKind {
        Added,    // a unit is published (its product ID arrived); Online follows when its link is up
        Online,   // its link is up
        Offline,  // its ports vanished, or its link was lost
        Removed,  // ForgetUnit dropped it
        Blocks,   // blocks of the unit changed: dwBlocks
        Warning,  // strText, one line for the operator
    };
    EKind eKind = EKind::Warning;
    std::string strUnit;    // the unit's identifier (empty for a warning about no unit)
    uint32_t dwBlocks = 0;  // Blocks: bit n for qz::EBlock n whose reply differs from the previous one
    std::string strText;
};

class CRackListener {
public:
    virtual ~CRackListener() = default;
    // On the rack's thread; should return soon, as the ticks wait for it.
    virtual void OnRackEvent(const CRackEvent& event) = 0;
};

// A published unit as Units sees it.
struct CRackUnit {
    std::string strId;         // "unit_" + the product ID with every character but A-Z a-z 0-9 as '_'
    std::string strProductID;  // as reported, trailing blanks removed
    std::string strVersion;
    std::string strInPort, strOutPort;  // the ports it was last seen on
    bool bPresent = false;              // its ports are there (Session gives its session)
    bool bOnline = false;               // present and its link is up
};

class CRack {
public:
    static constexpr uint32_t kTickMs = CLinkWatch::kTickMs;
    // While a link is down the status is asked for every second, and the ports are
    // opened again every ten seconds (ports that vanished and came back between two
    // listings carry nothing any more). While it is up, blocks whose replies were lost
    // (the product ID among them, without which the unit is not published) are asked for
    // again every second.
    static constexpr int kRetryTicks = 10;
    static constexpr int kReopenTicks = 100;

    // driver and pListener (may be null) must outlive the rack. nPortIntervalMs: how often
    // the port watch lists without a change source.
    CRack(CMidiDriver& driver, CRackListener* pListener, uint32_t nPortIntervalMs = CPortWatch::kDefaultIntervalMs);
    // Stops.
    ~CRack();
    CRack(const CRack&) = delete;
    CRack& operator=(const CRack&) = delete;

    void Start();
    // Ends the thread and closes every session; the units stay known, offline, without
    // events. A later Start finds the ports afresh.
    void Stop();
    // The watch behind the rack, for whoever can give it a change source.
    CPortWatch& PortWatch() { return m_portWatch; }

    // The published units, in the order they were published.
    std::vector<CRackUnit> Units() const;
    // The session of a present unit; null when it is unknown or its ports are gone. A
    // session kept after its ports went is closed and refuses every write; it must not
    // outlive the driver.
    std::shared_ptr<CDeviceSession> Session(const std::string& strId) const;
    // Drops a unit whose ports are gone (Removed follows); a present unit stays.
    void ForgetUnit(const std::string& strId);

    static std::string UnitIdentifier(std::string_view strProductID);

private:
    struct CUnit;
    // Counts what the session reports on the input worker and wakes the rack.
    class CSlotListener : public CSessionListener {
    public:
        explicit CSlotListener(CEvent& wake) : m_wake(wake) {}
        void OnSessionEvent(const CSessionEvent& event) override;
        std::atomic<uint32_t> m_dwChanged{0};  // bit n: qz::EBlock n changed

    private:
        CEvent& m_wake;
    };
    // One port pair and its session.
    struct CSlot {
        explicit CSlot(CEvent& wake) : listener(wake) {}
        std::string strIn, strOut;
        std::shared_ptr<CDeviceSession> pSession;
        CSlotListener listener;
        CUnit* pUnit = nullptr;
        bool bConnected = false;
        bool bWarnedOpen = false;
        int nLinkUps = 0;
        int nDownTicks = 0;  // ticks since the link went down (or the slot was made)
        int nUpTicks = 0;    // ticks while the link is up
    };
    struct CUnit {
        CRackUnit info;
        CSlot* pSlot = nullptr;
    };

    void WorkerMain();
    // Rack thread only; they change the slots and units under m_mutex.
    void FollowPorts();
    void AddSlot(const std::string& strIn, const std::string& strOut, int nIn, int nOut);
    void DropSlot(size_t nSlot);
    void ServeSlot(CSlot& slot, bool bTick);
    void TickSlot(CSlot& slot);
    void Connect(CSlot& slot, int nIn, int nOut);
    void Identify(CSlot& slot);
    void Bind(CSlot& slot, CUnit& unit);
    void Unbind(CSlot& slot);
    void SetOnline(CUnit& unit, bool bOnline);
    CUnit* FindUnit(std::string_view strId) const;
    void ForgetRequested();
    void Emit(CRackEvent::EKind eKind, const std::string& strUnit, uint32_t dwBlocks = 0, std::string strText = {});
    void Deliver();

    CMidiDriver& m_driver;
    CRackListener* m_pListener;
    CPortWatch m_portWatch;
    uint32_t m_nSeenGeneration = 0;

    // Written on the rack's thread under m_mutex, read there without it and elsewhere with it.
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<CSlot>> m_slots;
    std::vector<std::unique_ptr<CUnit>> m_units;
    std::vector<std::string> m_forget;  // ForgetUnit's requests, guarded by m_mutex

    std::vector<CRackEvent> m_outbox;  // rack thread only
    CEvent m_stop{true, false};
    CEvent m_wake{false, false, m_stop};
    std::thread m_thread;
};
