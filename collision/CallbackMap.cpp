#include "collision/CallbackMap.h"

#include <bit>

#include "collision/Callback.h"

namespace col {

namespace {
constexpr size_t kInitialCapacity = 1024;
// Linear probing stays short up to about this fill.
constexpr double kMaxLoad = 0.8;
}  // namespace

CallbackMap::CallbackMap() { rehash(kInitialCapacity); }

void CallbackMap::reserve(size_t pairs) {
    const size_t need = std::bit_ceil(static_cast<size_t>(static_cast<double>(pairs) / kMaxLoad) + 1);
    if (need > m_slots.size()) rehash(need);
}

size_t CallbackMap::locate(uint64_t key) const {
    size_t i = hash(key) & m_mask;
    while ((m_slots[i].key & ~kFlags) != key && m_slots[i].key != kEmpty) i = (i + 1) & m_mask;
    return i;
}

void CallbackMap::rehash(size_t capacity) {
    Slot empty;
    empty.key = kEmpty;
    empty.cb = nullptr;
    std::vector<Slot> old(capacity, empty);
    old.swap(m_slots);
    m_mask = capacity - 1;
    for (const Slot& s : old)
        if (s.key != kEmpty) m_slots[locate(s.key & ~kFlags)] = s;
}

void CallbackMap::add(Callback* cb) {
    if (static_cast<double>(m_size + 1) > kMaxLoad * static_cast<double>(m_slots.size())) rehash(m_slots.size() * 2);
    const uint64_t k = key(cb->obj1, cb->obj2);
    Slot& s = m_slots[locate(k)];
    ++m_callbacks;
    if (s.key == kEmpty) {
        s.key = k | kFreshBit;
        s.cb = cb;
        ++m_size;
        return;
    }
    s.key |= kFreshBit;
    if (s.key & kListBit) {
        m_lists[s.list].push_back(cb);
        return;
    }
    m_lists.push_back({s.cb, cb});
    s.key |= kListBit;
    s.list = m_lists.size() - 1;
}

std::span<Callback* const> CallbackMap::spanOf(const Slot& s) const {
    if (s.key == kEmpty) return {};
    if (s.key & kListBit) {
        const auto& l = m_lists[s.list];
        return {l.data(), l.size()};
    }
    return {&s.cb, 1};
}

std::span<Callback* const> CallbackMap::find(uint64_t key) const { return spanOf(m_slots[locate(key)]); }

std::span<Callback* const> CallbackMap::takeFresh(uint64_t key, bool& outFresh) {
    Slot& s = m_slots[locate(key)];
    outFresh = s.key != kEmpty && (s.key & kFreshBit);
    if (outFresh) s.key &= ~kFreshBit;
    return spanOf(s);
}

}  // namespace col
