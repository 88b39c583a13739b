#pragma once
/// @file CallbackMap.h
/// Callbacks by unordered object pair: open-addressing hash table keyed by a 64-bit pair key.
///
/// A pipeline may hold one callback for every pair of thousands of objects, so a pair with a
/// single callback costs one 16-byte slot (key + callback pointer); only pairs with several
/// callbacks get an extra list. Callbacks of a pair stay in registration order.

#include <cstdint>
#include <span>
#include <vector>

namespace col {

class Callback;

class CallbackMap {
 public:
    static uint64_t key(int a, int b) {
        const uint32_t lo = static_cast<uint32_t>(a < b ? a : b), hi = static_cast<uint32_t>(a < b ? b : a);
        return (static_cast<uint64_t>(lo) << 32) | hi;
    }
    static int keyLo(uint64_t k) { return static_cast<int>(k >> 32); }
    static int keyHi(uint64_t k) { return static_cast<int>(k & 0xffffffffu); }

    CallbackMap();
    void reserve(size_t pairs);
    /// Adds cb and marks its pair as having a callback added since the pair was last looked up
    /// with takeFresh (a pair result remembered from before then may be missing).
    void add(Callback* cb);
    /// Callbacks of the pair in registration order; empty when there are none.
    std::span<Callback* const> find(uint64_t key) const;
    /// find(), and whether a callback was added to the pair since the last takeFresh of it; clears that mark.
    std::span<Callback* const> takeFresh(uint64_t key, bool& outFresh);
    size_t pairCount() const { return m_size; }
    size_t callbackCount() const { return m_callbacks; }

 private:
    static constexpr uint64_t kEmpty = ~0ull;          // ids < 2^31: no pair key is all ones or has bit 63
    static constexpr uint64_t kListBit = 1ull << 63;   // set in the key when the pair has a list
    static constexpr uint64_t kFreshBit = 1ull << 31;  // set while a newly added callback is unseen
    static constexpr uint64_t kFlags = kListBit | kFreshBit;
    struct Slot {
        uint64_t key;
        union {
            Callback* cb;  // the pair's only callback
            size_t list;   // index into m_lists when kListBit is set
        };
    };
    static_assert(sizeof(Slot) == 16, "one slot per pair: 8-byte key + 8-byte value");

    static size_t hash(uint64_t k) {
        k ^= k >> 33;
        k *= 0xff51afd7ed558ccdull;
        k ^= k >> 33;
        return static_cast<size_t>(k);
    }
    size_t locate(uint64_t key) const;
    std::span<Callback* const> spanOf(const Slot& s) const;
    void rehash(size_t capacity);

    std::vector<Slot> m_slots;
    std::vector<std::vector<Callback*>> m_lists;
    size_t m_size = 0, m_callbacks = 0, m_mask = 0;
};

}  // namespace col
