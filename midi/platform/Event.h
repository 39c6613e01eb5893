#pragma once
// Auto- and manual-reset events over a mutex and a condition variable.
// Events that one thread waits on together must share one wait domain
// (pass the first event to the second's constructor).
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class CEvent {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;
    // Results of WaitAny.
    static constexpr int kTimeout = -1;

    CEvent(bool bManualReset, bool bInitialState);
    // Joins the wait domain of `shareWith`, so that WaitAny can wait on both.
    CEvent(bool bManualReset, bool bInitialState, CEvent& shareWith);

    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event was signalled within the timeout (an auto-reset event is consumed).
    bool Wait(uint32_t dwTimeoutMs);
    // Waits for the first of two events of the same domain; returns 0 or 1 (the first
    // signalled in argument order wins) or kTimeout.
    static int WaitAny(CEvent& first, CEvent& second, uint32_t dwTimeoutMs);

private:
    struct Domain {
        std::mutex mutex;
        std::condition_variable cv;
    };
    bool ConsumeLocked();

    std::shared_ptr<Domain> m_domain;
    const bool m_bManualReset;
    bool m_bState;  // guarded by m_domain->mutex
};
