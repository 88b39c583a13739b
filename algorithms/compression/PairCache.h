#pragma once
/// @file PairCache.h
/// What the overlap test remembers per pair of near bodies (the last separating direction), kept
/// with the body that asks: a few slots per body, found by the neighbour's index. A trial move asks
/// for all its neighbours from one body, so the lookups stay in one small block of memory. A slot
/// is only a hint (the test checks the direction it gets), so slots left over from renumbered or
/// removed bodies cost time at worst, never a wrong answer.

#include <cstdint>
#include <vector>

#include "collision/ConvexShape.h"

namespace Packing::compression {

class PairCache {
 public:
    /// Slots for bodies [0, count).
    void Resize(size_t count) {
        m_slots.resize(count * kSlots);
        m_next.resize(count, 0);
    }
    /// Body `from`'s slots become body `to`'s (the last body fills a removed one's place).
    void Move(int32_t from, int32_t to) {
        for (int k = 0; k < kSlots; ++k) m_slots[Index(to) + k] = m_slots[Index(from) + k];
        m_next[static_cast<size_t>(to)] = m_next[static_cast<size_t>(from)];
    }
    /// Bodies get new indices: body i becomes newIndex[i]; the slots follow, and so do the
    /// neighbours they name.
    void Renumber(const std::vector<int32_t>& newIndex) {
        std::vector<Slot> slots(m_slots.size());
        std::vector<uint8_t> next(m_next.size());
        for (size_t i = 0; i < newIndex.size(); ++i) {
            const size_t to = static_cast<size_t>(newIndex[i]);
            for (int k = 0; k < kSlots; ++k) {
                Slot s = m_slots[i * kSlots + k];
                if (s.other >= 0)
                    s.other =
                        static_cast<size_t>(s.other) < newIndex.size() ? newIndex[static_cast<size_t>(s.other)] : -1;
                slots[to * kSlots + k] = s;
            }
            next[to] = m_next[i];
        }
        m_slots.swap(slots);
        m_next.swap(next);
    }
    /// Forgets everything.
    void Clear() {
        for (Slot& s : m_slots) s.other = -1;
    }
    /// The entry `owner` keeps for `other`, made (in place of its oldest) on first use.
    col::ConvexPairCache& At(int32_t owner, int32_t other) {
        Slot* slots = &m_slots[Index(owner)];
        for (int k = 0; k < kSlots; ++k)
            if (slots[k].other == other) return slots[k].cache;
        uint8_t& next = m_next[static_cast<size_t>(owner)];
        Slot& s = slots[next];
        next = static_cast<uint8_t>((next + 1) % kSlots);
        s.other = other;
        s.cache = col::ConvexPairCache();
        return s.cache;
    }

 private:
    // Enough for the near neighbours of a body in a dense packing of similar sizes.
    static constexpr int kSlots = 16;
    struct Slot {
        int32_t other = -1;
        col::ConvexPairCache cache;
    };
    static size_t Index(int32_t body) { return static_cast<size_t>(body) * kSlots; }

    std::vector<Slot> m_slots;
    std::vector<uint8_t> m_next;
};

}  // namespace Packing::compression
