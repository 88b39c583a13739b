#include "collision/CollisionPipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace col {

int CollisionPipeline::M_PipelineAlgorithm = 0;

namespace {
std::atomic<bool> g_incrementalDefault{true};

// Pooled lists keep their capacity from one check to the next. One deep overlap with a container
// reaches a hundred thousand leaf pairs; kept in every slot it once passed through, that came to
// hundreds of megabytes on a small packing. Lists far larger than their contents are given back.
constexpr size_t kKeepPairs = 4096;

template <class V>
void trimList(V& v, size_t used) {
    if (v.capacity() > kKeepPairs && v.capacity() > 4 * used) {
        v.clear();
        v.shrink_to_fit();
        v.reserve(used);
    }
}

void trim(OverlapResult& r, size_t used) {
    trimList(r.intersections, used);
    trimList(r.nodePairs, used);
    trimList(r.lensVolumes, used);
}

// Leaf pairs one check may hold (about 200 MB). Covers' leaves overlap one another, so two
// objects on top of each other report nearly every leaf pair (37,000 for the bundled sphere);
// a heuristic that lets hundreds collapse onto one point asked for tens of gigabytes. Past the
// budget a pair keeps only its deepest leaf pair; its overlap value stays the full sum.
constexpr size_t kPairBudget = size_t(1) << 22;

void keepDeepest(OverlapResult& r) {
    if (r.lensVolumes.size() <= 1) return;
    const size_t i = size_t(std::max_element(r.lensVolumes.begin(), r.lensVolumes.end()) - r.lensVolumes.begin());
    // Fresh vectors: the slot's grown capacity is given back, not kept for the next check.
    std::vector<SphereIntersectionData>{r.intersections[i]}.swap(r.intersections);
    std::vector<NodePair>{r.nodePairs[i]}.swap(r.nodePairs);
    std::vector<float>{r.lensVolumes[i]}.swap(r.lensVolumes);
}
}  // namespace

void CollisionPipeline::setIncrementalDefault(bool on) { g_incrementalDefault = on; }
bool CollisionPipeline::incrementalDefault() { return g_incrementalDefault; }

CollisionPipeline::CollisionPipeline(const char* name, unsigned n)
    : m_name(name ? name : ""), m_incremental(g_incrementalDefault) {
    m_callbacks.reserve(n);
    m_broad.setIncremental(m_incremental);
}

CollisionPipeline::~CollisionPipeline() = default;

void CollisionPipeline::useGrid(const unsigned cells[3], const float min[3], const float max[3]) {
    m_broad.useGrid(cells, min, max);
}

int CollisionPipeline::makeCollidable(void* geometry, GeometryConverter conv) {
    Record& r = m_records.emplace_back();
    r.source = geometry;
    if (geometry) {
        const auto* src = static_cast<const ColGeometry*>(geometry);
        if (conv) {
            conv(&r.geom, geometry);
            if (!r.geom.m_extraData) r.geom.shareFrom(*src);
        } else {
            r.geom = *src;
        }
    }
    return static_cast<int>(m_records.size()) - 1;
}

CollisionPipeline::Record* CollisionPipeline::record(int id) {
    if (id < 0 || static_cast<size_t>(id) >= m_records.size()) return nullptr;
    return &m_records[static_cast<size_t>(id)];
}

void CollisionPipeline::moveObject(int id, const Matrix4* modelMatrix, GeometryConverter conv) {
    Record* r = record(id);
    if (!r) return;
    // Callers hand over every object's matrix at every step, most of them unchanged.
    if (modelMatrix && std::memcmp(&r->model, modelMatrix, sizeof(Matrix4)) != 0) {
        r->model = *modelMatrix;
        r->dirty = r->changed = true;
    }
    if (conv && r->source) {
        conv(&r->geom, r->source);
        r->dirty = r->changed = true;
    }
}

void CollisionPipeline::activate(int id) {
    Record* r = record(id);
    if (r && !r->active) r->active = r->changed = true;
}

void CollisionPipeline::deactivate(int id) {
    Record* r = record(id);
    if (r && r->active) {
        r->active = false;
        r->changed = true;
    }
}

void CollisionPipeline::setIncremental(bool on) {
    m_incremental = on;
    m_broad.setIncremental(on);
    m_memoValid = false;
    for (Memo& m : m_memo) recycle(m);
    m_memo.clear();
}

void CollisionPipeline::addCallback(Callback* cb) {
    if (cb) m_callbacks.add(cb);
}

void CollisionPipeline::refresh(Record& r) {
    const ExtraData* e = r.geom.m_extraData;
    if (e != r.cachedExtra) {
        r.cachedExtra = e;
        const auto* st = dynamic_cast<const ExtraData_SphereTree*>(e);
        r.tree = st ? st->tree() : nullptr;
        r.dirty = true;
    }
    const float s = r.geom.getScale();  // live: a shared record follows its source
    if (std::memcmp(&s, &r.cachedScale, sizeof s) != 0) {
        r.cachedScale = s;
        r.dirty = true;
    }
    r.changed = r.changed || r.dirty;
    if (r.dirty) {
        r.posed.set(r.tree, r.model, s);
        r.dirty = false;
    }
}

OverlapResult& CollisionPipeline::resultSlot(size_t i) {
    while (m_results.size() <= i) m_results.push_back(std::make_unique<OverlapResult>());
    return *m_results[i];
}

OverlapResult& CollisionPipeline::contactSlot(size_t i, const OverlapResult& all) {
    while (m_contacts.size() <= i) m_contacts.push_back(std::make_unique<OverlapResult>());
    selectContacts(all, *m_contacts[i]);
    return *m_contacts[i];
}

CollisionPipeline::Swapped& CollisionPipeline::swappedSlot(std::vector<std::unique_ptr<Swapped>>& slots, size_t i,
                                                           const OverlapResult& src) {
    while (slots.size() <= i) slots.push_back(std::make_unique<Swapped>());
    Swapped& s = *slots[i];
    s.intersections.clear();
    s.nodePairs.clear();
    for (const SphereIntersectionData& d : src.intersections)
        s.intersections.push_back(SphereIntersectionData{d.center2, d.radius2, d.center1, d.radius1});
    for (const NodePair& p : src.nodePairs) s.nodePairs.push_back(NodePair{p.node2, p.node1});
    return s;
}

void CollisionPipeline::recycle(Memo& m) {
    if (!m.result) return;  // handed on to the next check's memory
    trim(*m.result, 0);
    m_spare.push_back(std::move(m.result));
}

void CollisionPipeline::remember(uint64_t key, const OverlapResult& res) {
    std::unique_ptr<OverlapResult> copy;
    if (m_spare.empty()) {
        copy = std::make_unique<OverlapResult>();
    } else {
        copy = std::move(m_spare.back());
        m_spare.pop_back();
    }
    *copy = res;
    m_nextMemo.push_back(Memo{key, std::move(copy)});
}

// Candidates with callbacks are queried, or, when neither object changed since the previous
// check, answered from that check's overlapping pairs (absent there means apart). Every
// remembered result is copied before any callback runs, since callbacks may clear their lists.
void CollisionPipeline::narrowPhase() {
    // The previous check's lists are no longer handed out: slots it used keep about what they
    // held, the others nothing large.
    for (size_t i = 0; i < m_results.size(); ++i) {
        const bool used = i < m_hits.size();
        trim(*m_results[i], used ? m_results[i]->intersections.size() : 0);
        if (i < m_contacts.size()) trim(*m_contacts[i], used ? m_contacts[i]->intersections.size() : 0);
        for (auto* slots : {&m_swapped, &m_contactsSwapped})
            if (i < slots->size()) {
                Swapped& sw = *(*slots)[i];
                trimList(sw.intersections, used ? sw.intersections.size() : 0);
                trimList(sw.nodePairs, used ? sw.nodePairs.size() : 0);
            }
    }
    m_hits.clear();
    m_narrowCount = m_reusedCount = 0;
    m_nextMemo.clear();
    const bool reuse = m_incremental && m_memoValid;
    // With no callback added since the last check, a pair of two unchanged objects was a candidate
    // then too, so it has no unseen callback: the memory alone answers it, without a table lookup.
    const bool noneAdded = m_callbacks.callbackCount() == m_callbacksSeen;
    m_callbacksSeen = m_callbacks.callbackCount();
    uint32_t used = 0;
    size_t stored = 0;
    for (const uint64_t key : m_candidates) {
        const Record& a = m_records[static_cast<size_t>(CallbackMap::keyLo(key))];
        const Record& b = m_records[static_cast<size_t>(CallbackMap::keyHi(key))];
        bool fresh = false;
        const bool still = reuse && !a.changed && !b.changed;
        std::span<Callback* const> cbs;
        if (!(still && noneAdded) && (cbs = m_callbacks.takeFresh(key, fresh)).empty()) continue;
        if (still && !fresh) {
            const auto it = std::lower_bound(m_memo.begin(), m_memo.end(), key,
                                             [](const Memo& m, uint64_t k) { return m.key < k; });
            if (it == m_memo.end() || it->key != key) continue;
            ++m_reusedCount;
            resultSlot(used) = *it->result;
            stored += it->result->intersections.size();
            m_hits.push_back(Hit{key, used++});
            m_nextMemo.push_back(Memo{key, std::move(it->result)});
            continue;
        }
        ++m_narrowCount;
        OverlapResult& res = resultSlot(used);
        const bool contactsOnly = std::all_of(cbs.begin(), cbs.end(), [](const Callback* cb) {
            return cb->getLevel() == LEVEL_CONTACT && !cb->readsOverlap();
        });
        queryOverlap(a.posed, b.posed, m_scratch, res, contactsOnly ? PairSet::Contacts : PairSet::All);
        if (res.intersections.empty()) continue;
        stored += res.intersections.size();
        if (stored > kPairBudget) keepDeepest(res);
        if (m_incremental) remember(key, res);
        m_hits.push_back(Hit{key, used++});
    }
    std::sort(m_hits.begin(), m_hits.end(), [](const Hit& x, const Hit& y) { return x.key < y.key; });
    for (Memo& m : m_memo) recycle(m);
    std::sort(m_nextMemo.begin(), m_nextMemo.end(), [](const Memo& x, const Memo& y) { return x.key < y.key; });
    m_memo.swap(m_nextMemo);
    m_nextMemo.clear();
    m_memoValid = m_incremental;
    for (const BroadObject& o : m_broadObjects) m_records[static_cast<size_t>(o.id)].changed = false;
}

void CollisionPipeline::check(unsigned* out) {
    m_broadObjects.clear();
    for (size_t id = 0; id < m_records.size(); ++id) {
        Record& r = m_records[id];
        if (!r.active) continue;
        refresh(r);
        if (!r.tree || r.tree->empty()) continue;
        BroadObject b;
        r.posed.worldSphere(b.c, b.r);
        if (!std::isfinite(b.c[0] + b.c[1] + b.c[2] + b.r)) continue;
        b.id = static_cast<int>(id);
        m_broadObjects.push_back(b);
    }
    m_broad.findPairs(m_broadObjects, m_candidates);
    narrowPhase();

    unsigned called = 0;
    Data data;
    for (const Hit& h : m_hits) {
        const int lo = CallbackMap::keyLo(h.key), hi = CallbackMap::keyHi(h.key);
        OverlapResult& res = *m_results[h.result];
        const auto cbs = m_callbacks.find(h.key);
        // Every view is built before any callback runs: a callback may clear the lists it is given.
        bool wantContacts = false, wantSwapped = false, wantSwappedContacts = false;
        for (Callback* cb : cbs) {
            const bool contact = cb->getLevel() == LEVEL_CONTACT;
            wantContacts |= contact;
            if (cb->obj1 != lo) (contact ? wantSwappedContacts : wantSwapped) = true;
        }
        OverlapResult* contacts = wantContacts ? &contactSlot(h.result, res) : nullptr;
        Swapped* sw = wantSwapped ? &swappedSlot(m_swapped, h.result, res) : nullptr;
        Swapped* swContacts = wantSwappedContacts ? &swappedSlot(m_contactsSwapped, h.result, *contacts) : nullptr;
        for (Callback* cb : cbs) {
            const bool direct = cb->obj1 == lo;
            const bool contact = cb->getLevel() == LEVEL_CONTACT;
            OverlapResult& view = contact ? *contacts : res;
            Swapped* swView = contact ? swContacts : sw;
            const int id1 = direct ? lo : hi, id2 = direct ? hi : lo;
            data.geom1 = &m_records[static_cast<size_t>(id1)].geom;
            data.geom2 = &m_records[static_cast<size_t>(id2)].geom;
            data.id1 = id1;
            data.id2 = id2;
            data.sphereIntersections = direct ? &view.intersections : &swView->intersections;
            data.nodePairs = direct ? &view.nodePairs : &swView->nodePairs;
            data.overlap = res.overlap;
            (*cb)(&data);
            ++called;
        }
    }
    if (m_verbose)
        std::fprintf(stderr, "%s: %zu objects, %zu candidates, %zu narrow, %zu overlapping, %u callbacks\n",
                     m_name.c_str(), m_broadObjects.size(), m_candidates.size(), m_narrowCount, m_hits.size(), called);
    if (out) *out = called;
}

}  // namespace col
