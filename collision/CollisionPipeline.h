#pragma once
/// @file CollisionPipeline.h
/// A set of posed objects, the callbacks registered for their pairs, and the check that calls
/// the callbacks of all overlapping pairs.
///
/// Each pipeline owns its records, results and scratch; separate pipelines share nothing mutable
/// (trees and the geometries they read are shared read-only), so one pipeline per thread runs in
/// parallel. Within one pipeline every call comes from one thread at a time.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "collision/BroadPhase.h"
#include "collision/Callback.h"
#include "collision/CallbackMap.h"
#include "collision/ColGeometry.h"
#include "collision/OverlapQuery.h"

namespace col {

using GeometryConverter = bool (*)(ColGeometry* target, const void* source);

class CollisionPipeline {
 public:
    static int M_PipelineAlgorithm;  ///< recorded for compatibility; no effect

    /// `n` is a size hint for the callback table (pairs), not a limit.
    CollisionPipeline(const char* name, unsigned n);
    virtual ~CollisionPipeline();

    void setUseHulls(bool on) { m_useHulls = on; }
    void verbose(bool a, bool b) { m_verbose = a || b; }
    /// Uniform-grid broad phase over [min, max]; objects (partly) outside still collide.
    void useGrid(const unsigned cells[3], const float min[3], const float max[3]);
    /// All-pairs broad phase: the slow reference with the same results.
    void setBruteForce(bool on) { m_broad.setBruteForce(on); }

    /// New record from `geometry` via conv(&record, geometry), or a copy of *(ColGeometry*)geometry
    /// when conv is null. A converter that leaves the record without extra data gets the source's
    /// tree shared. Returns the next dense id; the object starts active at the identity pose.
    int makeCollidable(void* geometry, GeometryConverter conv);
    /// The next check uses this (copied) model matrix; a converter re-runs on the source geometry.
    void moveObject(int id, const Matrix4* modelMatrix, GeometryConverter conv = nullptr);
    void activate(int id);
    void deactivate(int id);
    /// Not owned. Several callbacks per pair are allowed; each gets data with object 1 = cb->obj1.
    void addCallback(Callback* cb);

    /// Calls, in the calling thread, every callback whose objects are both active and have
    /// overlapping leaf spheres, ordered by (min id, max id) and then registration order. The lists
    /// handed out stay valid until this pipeline's next check. *out = callbacks called.
    void check(unsigned* out = nullptr);

    /// Incremental checks (on by default): a pair is queried again only when one of its objects
    /// changed since the previous check: its model matrix (compared bit for bit, so moving an
    /// object to the pose it has changes nothing), activation, geometry scale value, sphere tree,
    /// or a converter run. Otherwise the pair's result of the previous check is handed out again
    /// (as a fresh copy, so callbacks may still clear their lists); a pair given a new callback
    /// is queried again too. Callbacks see exactly what a full check gives them. Only pairs that
    /// overlapped are remembered. Off: every candidate pair is queried at every check.
    void setIncremental(bool on);
    bool incremental() const { return m_incremental; }
    /// What pipelines constructed from now on start with (on unless changed): lets tests and
    /// benchmarks run whole heuristics with full checks.
    static void setIncrementalDefault(bool on);
    static bool incrementalDefault();

    int objectCount() const { return static_cast<int>(m_records.size()); }
    const ColGeometry* geometry(int id) const { return &m_records[static_cast<size_t>(id)].geom; }
    const std::string& name() const { return m_name; }
    /// Pairs the last check sent to the narrow phase (candidates with callbacks that had to be
    /// queried), and pairs whose remembered result it handed out instead.
    size_t lastNarrowPhaseCount() const { return m_narrowCount; }
    size_t lastReusedCount() const { return m_reusedCount; }
    /// Overlapping pair results kept for the next incremental check.
    size_t rememberedPairCount() const { return m_memo.size(); }

 private:
    struct Record {
        ColGeometry geom;
        void* source = nullptr;
        Matrix4 model = Matrix4::identity();
        bool active = true;
        bool dirty = true;    // posed tree out of date
        bool changed = true;  // differs from what the previous check saw
        const ExtraData* cachedExtra = nullptr;
        const SphereTree* tree = nullptr;
        float cachedScale = 1;
        PosedTree posed;
    };
    struct Hit {
        uint64_t key;
        uint32_t result;
    };
    struct Memo {
        uint64_t key;
        std::unique_ptr<OverlapResult> result;
    };
    struct Swapped {
        std::vector<SphereIntersectionData> intersections;
        std::vector<NodePair> nodePairs;
    };

    Record* record(int id);
    void refresh(Record& r);
    OverlapResult& resultSlot(size_t i);
    Swapped& swappedSlot(std::vector<std::unique_ptr<Swapped>>& slots, size_t i, const OverlapResult& src);
    OverlapResult& contactSlot(size_t i, const OverlapResult& all);
    void remember(uint64_t key, const OverlapResult& res);
    /// A memory entry's buffer back to the spares, trimmed.
    void recycle(Memo& m);
    void narrowPhase();

    std::string m_name;
    bool m_useHulls = false, m_verbose = false;
    std::deque<Record> m_records;  // stable addresses: callbacks see &geom
    CallbackMap m_callbacks;
    BroadPhase m_broad;
    OverlapScratch m_scratch;
    std::vector<BroadObject> m_broadObjects;
    std::vector<uint64_t> m_candidates;
    std::vector<Hit> m_hits;
    std::vector<std::unique_ptr<OverlapResult>> m_results;
    std::vector<std::unique_ptr<Swapped>> m_swapped;
    std::vector<std::unique_ptr<OverlapResult>> m_contacts;  // LEVEL_CONTACT view of m_results
    std::vector<std::unique_ptr<Swapped>> m_contactsSwapped;
    std::vector<Memo> m_memo, m_nextMemo;                 // overlapping pairs by key, sorted
    std::vector<std::unique_ptr<OverlapResult>> m_spare;  // memo buffers to reuse
    bool m_incremental = true, m_memoValid = false;
    size_t m_callbacksSeen = 0;  ///< callbacks registered at the last narrow phase
    size_t m_narrowCount = 0, m_reusedCount = 0;
};

}  // namespace col
