#pragma once
// A fixed ring of N items: nothing is allocated after construction. One producer and
// one consumer may use it at the same time without a lock (the indexes are atomics,
// published with release and read with acquire); more of either need a lock around it.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>

template <typename T, size_t N>
class CFixedRing {
public:
    static constexpr size_t kCapacity = N;

    // Producer.
    bool Push(const T& v) { return Write(&v, 1) == 1; }
    // Copies as many of the n items as fit; returns how many.
    size_t Write(const T* p, size_t n) {
        const size_t nWrite = m_nWrite.load(std::memory_order_relaxed);
        n = std::min(n, N - (nWrite - m_nRead.load(std::memory_order_acquire)));
        for (size_t i = 0; i < n; ++i) m_items[(nWrite + i) % N] = p[i];
        m_nWrite.store(nWrite + n, std::memory_order_release);
        return n;
    }
    size_t Free() const { return N - Size(); }
    bool Full() const { return Size() == N; }

    // Consumer.
    bool Pop(T& v) {
        const T* p;
        if (Peek(p) == 0) return false;
        v = *p;
        Consume(1);
        return true;
    }
    // The items ready to read that lie one after another in memory (up to the wrap).
    size_t Peek(const T*& p) const {
        const size_t nRead = m_nRead.load(std::memory_order_relaxed);
        const size_t nReady = m_nWrite.load(std::memory_order_acquire) - nRead;
        p = &m_items[nRead % N];
        return std::min(nReady, N - nRead % N);
    }
    void Consume(size_t n) { m_nRead.store(m_nRead.load(std::memory_order_relaxed) + n, std::memory_order_release); }
    // Drops what is waiting; returns how many items that was.
    size_t Clear() {
        const size_t nWrite = m_nWrite.load(std::memory_order_acquire);
        const size_t nDropped = nWrite - m_nRead.load(std::memory_order_relaxed);
        m_nRead.store(nWrite, std::memory_order_release);
        return nDropped;
    }

    // Either side.
    size_t Size() const {
        const size_t nRead = m_nRead.load(std::memory_order_acquire);  // first: never ahead of the write count
        return m_nWrite.load(std::memory_order_acquire) - nRead;
    }
    bool Empty() const { return Size() == 0; }

private:
    std::array<T, N> m_items{};
    std::atomic<size_t> m_nWrite{0}, m_nRead{0};  // counts of items ever written and read
};
