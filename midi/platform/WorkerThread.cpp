#include "midi/platform/WorkerThread.h"

#include <pthread.h>
#include <sched.h>

void qz::BecomeWorkerThread(const char* pszName) {
    pthread_setname_np(pthread_self(), pszName);  // longer names are refused, not cut
    const sched_param param{};
    // Unprivileged and never refused on Linux; where it is, the thread keeps the default.
    sched_setscheduler(0, SCHED_BATCH, &param);
}
