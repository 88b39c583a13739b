#pragma once
/// @file PairMatrix.h
/// The pair matrix of the impulse heuristics: the callbacks record each reported pair's sphere
/// intersections by collision id during a check, and the resolve pass applies the impulses after
/// it, in a fixed order, so the result does not depend on the order the library reports pairs in.

#include <vector>

#include "collision/Callback.h"
#include "collision/Data.h"

class MovingObject;

/// Square pair matrix indexed [first id][second id]; an entry is the intersection list the library
/// reported for that pair in the current check, or null.
using IsecMatrix = std::vector<std::vector<std::vector<col::SphereIntersectionData>*>>;

namespace Packing {

/// n x n null entries.
void SizeMatrix(IsecMatrix& matrix, size_t n);
/// One more row and column, all new entries null; the new object's id is the new row's index.
void GrowMatrix(IsecMatrix& matrix);
void ClearMatrix(IsecMatrix& matrix);

using ImpulseRule = void (MovingObject::*)(MovingObject*, const std::vector<col::SphereIntersectionData>*);

/// The resolve pass: for every row i >= 1 and column j >= 1 with a non-empty entry, object i-1
/// gets `rule` with object j-1; then every non-empty container entry [0][j] gives the container
/// `rule` with object j-1 (`objects` holds the object with id k at k-1). With `releaseLists` each
/// list is emptied and its memory released after its impulse. Every entry is null afterwards.
void ResolvePairs(IsecMatrix& matrix, const std::vector<MovingObject*>& objects, MovingObject* container,
                  ImpulseRule rule, bool releaseLists = false);

/// The recording callback the impulse heuristics derive theirs from. For a report whose objects
/// still carry the registered ids it clears the heuristic's flag and stores the intersection list
/// at [first id][second id] (with `addOverlap` also adding the reported overlap to both objects'
/// m_overlap; with `releaseNodePairs` emptying the data's node-pair list); a report without
/// intersections prints "IsecData was NULL!". Mismatched ids print
/// "MovemCallback: mobj.node != obj !" on standard error and change nothing.
class MatrixCallback : public col::Callback {
 public:
    struct Options {
        bool addOverlap = false;
        bool releaseNodePairs = false;
    };
    MatrixCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix, bool& flag,
                   Options options);
    void operator()(const col::Data* data) override;

 protected:
    MovingObject& m_a;
    MovingObject& m_b;
    IsecMatrix* m_matrix;

 private:
    bool& m_flag;
    Options m_options;
};

}  // namespace Packing
