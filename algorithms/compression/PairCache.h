#pragma once
/// @file PairCache.h
/// What the overlap test remembers per pair of near bodies (the last separating direction), in one
/// open-addressing table keyed by the ordered pair. Only pairs that came near get an entry; the
/// table is emptied whenever bodies are renumbered.

#include <cstdint>
#include <vector>

#include "collision/ConvexShape.h"

namespace Packing::compression {

class PairCache {
 public:
    /// The entry of (lo, hi), made on first use; valid until the next call that adds an entry.
    col::ConvexPairCache& At(int32_t lo, int32_t hi) {
        if ((m_used + 1) * 2 > m_slots.size()) Grow();
        const uint64_t key = Key(lo, hi);
        size_t i = Hash(key) & (m_slots.size() - 1);
        while (true) {
            Slot& s = m_slots[i];
            if (s.key == key) return s.cache;
            if (s.key == kEmpty) {
                s.key = key;
                s.cache = col::ConvexPairCache();
                ++m_used;
                return s.cache;
            }
            i = (i + 1) & (m_slots.size() - 1);
        }
    }
    void Clear() {
        for (Slot& s : m_slots) s.key = kEmpty;
        m_used = 0;
    }
    size_t Size() const { return m_used; }

 private:
    static constexpr uint64_t kEmpty = ~uint64_t(0);
    struct Slot {
        uint64_t key = kEmpty;
        col::ConvexPairCache cache;
    };
    static uint64_t Key(int32_t lo, int32_t hi) { return (uint64_t(uint32_t(lo)) << 32) | uint32_t(hi); }
    static uint64_t Hash(uint64_t k) {
        k ^= k >> 33;
        k *= 0xff51afd7ed558ccdull;
        k ^= k >> 33;
        return k;
    }
    void Grow() {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(old.empty() ? 1024 : old.size() * 2, Slot());
        m_used = 0;
        for (const Slot& s : old)
            if (s.key != kEmpty) {
                const int32_t lo = int32_t(s.key >> 32), hi = int32_t(s.key & 0xffffffffu);
                At(lo, hi) = s.cache;
            }
    }

    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

}  // namespace Packing::compression
