#include "ui/widgets/BackingStoreWarmUp.h"

#include <sys/mman.h>
#include <unistd.h>

#include <QBackingStore>
#include <QImage>
#include <QWidget>
#include <cstdint>

void qz::WarmUpBackingStore(QWidget* pWindow) {
#ifdef MADV_POPULATE_WRITE
    QBackingStore* pStore = pWindow->backingStore();
    if (!pStore) return;
    if (pStore->size() != pWindow->size()) pStore->resize(pWindow->size());
    QPaintDevice* pDevice = pStore->paintDevice();
    if (!pDevice || pDevice->devType() != QInternal::Image) return;  // a GPU surface: nothing to fault
    const auto* pImage = static_cast<const QImage*>(pDevice);
    // constBits: the address only, never a detaching copy of the store.
    const auto uStart = reinterpret_cast<uintptr_t>(pImage->constBits());
    const auto uPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t uFirst = uStart & ~(uPage - 1);
    const uintptr_t uEnd = uStart + static_cast<uintptr_t>(pImage->sizeInBytes());
    madvise(reinterpret_cast<void*>(uFirst), uEnd - uFirst, MADV_POPULATE_WRITE);  // a refusal changes nothing
#else
    (void)pWindow;
#endif
}
