#pragma once
/// @file Callback.h
/// Base of the user's reaction to an overlapping pair.

#include "collision/Data.h"

namespace col {

class Callback {
 public:
    /// The two booleans are accepted for compatibility and ignored; the level chooses which
    /// overlapping leaf pairs the callback's lists hold (LevelOfDetectionE).
    Callback(int id1, int id2, bool unused1, bool unused2, LevelOfDetectionE level);
    virtual ~Callback();
    /// Called by CollisionPipeline::check with data whose object 1 is obj1.
    virtual void operator()(const Data* data) = 0;

    int getId1() const { return obj1; }
    int getId2() const { return obj2; }
    LevelOfDetectionE getLevel() const { return m_level; }

    /// Whether the operator reads Data::overlap (true unless told otherwise). When no callback
    /// of a pair reads it and all of them are LEVEL_CONTACT, the pipeline asks the query for the
    /// contact pairs only (PairSet::Contacts): the lists are the same, the overlap value then
    /// sums only the pairs that query found.
    bool readsOverlap() const { return m_readsOverlap; }
    void setReadsOverlap(bool reads) { m_readsOverlap = reads; }

    int obj1, obj2;

 private:
    LevelOfDetectionE m_level;
    bool m_readsOverlap = true;
};

}  // namespace col
