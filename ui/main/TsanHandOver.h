#pragma once
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
inline void TsanRelease(void* p) { __tsan_release(p); }
inline void TsanAcquire(void* p) { __tsan_acquire(p); }
#else
inline void TsanRelease(void*) {}
inline void TsanAcquire(void*) {}
#endif
