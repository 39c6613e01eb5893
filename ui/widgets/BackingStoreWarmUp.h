#pragma once
// The first paint of a large window writes every page of its backing store, and the
// first touch of each fresh page is a page fault of its own: about 10 µs apiece in a
// virtual machine, some 400 of them for the main window, on the way to its first
// frame. Called from the window's showEvent (after Qt has created the store, before
// the first paint), this sizes the store as that paint would and faults its pages in
// with one call. Where the kernel cannot (before Linux 5.14), nothing changes.
class QWidget;

namespace qz {
void WarmUpBackingStore(QWidget* pWindow);
}  // namespace qz
