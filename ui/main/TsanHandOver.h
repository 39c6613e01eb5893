#pragma once
#include <QEvent>

// ThreadSanitizer cannot see the lock inside QCoreApplication::postEvent. An event
// handed from a worker that keeps running is marked released before the post and
// acquired when it is handled, so what the worker wrote before posting is ordered.
#if defined(__SANITIZE_THREAD__)
#define QZ81KT_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QZ81KT_TSAN 1
#endif
#endif

#ifdef QZ81KT_TSAN
extern "C" void __tsan_acquire(void* pAddr);
extern "C" void __tsan_release(void* pAddr);
namespace qz {
inline void TsanRelease(void* p) { __tsan_release(p); }
inline void TsanAcquire(void* p) { __tsan_acquire(p); }
}  // namespace qz
#else
namespace qz {
inline void TsanRelease(void*) {}
inline void TsanAcquire(void*) {}
}  // namespace qz
#endif

namespace qz {
// The type of an event that may have come from another thread. Every instrumented read
// of an event (our event filters, event()) goes through it, since any event may be one
// handed over; an acquire on an event that was never released does nothing.
inline QEvent::Type HandedOverType(QEvent* pEvent) {
    TsanAcquire(pEvent);
    return pEvent->type();
}
}  // namespace qz
