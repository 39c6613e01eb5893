#include "midi/platform/WorkerThread.h"

#include <pthread.h>
#include <sched.h>

void qz::BecomeWorkerThread(const char* pszName) {
    pthread_setname_np(pthread_self(), pszName);  // longer names are refused, not cut
    const sched_param param{};
    // Any thread may ask for it without privileges; where it is refused, the thread keeps its class.
    sched_setscheduler(0, SCHED_BATCH, &param);
}
