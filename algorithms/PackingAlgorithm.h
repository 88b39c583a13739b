#pragma once
/// @file PackingAlgorithm.h
/// The common base of every packing heuristic: the shared scene, the main collision pipeline,
/// the link to the next phase, the placement files, the statistics parameters and the
/// operations all heuristics use (object creation, saved states, grid, distance, overlap
/// resolution, placement files, the report).

#include <cstdint>
#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "collision/Data.h"
#include "geometry/PackingObjectInfo.h"
#include "statistics/PackingView.h"
#include "statistics/Report.h"
#include "vectormath/vectormath_aos.h"

class MovingObject;
class PackingGeometry;

namespace col {
class CollisionPipeline;
class FibRand;
}  // namespace col

class IPackingAlgorithm {
 public:
    /// Every heuristic takes these five, in this order, and hands them on unchanged.
    IPackingAlgorithm(std::vector<PackingObjectInfo>& objectTypes, MovingObject* container,
                      std::vector<Vectormath::Aos::Vector3>& pointsInside, std::list<MovingObject*>* placedObjects,
                      Vectormath::Aos::Vector3 gridCells);
    /// Releases only the strings; the generator, pipeline and objects outlive the algorithm.
    virtual ~IPackingAlgorithm();

    /// Creates the main pipeline "PackingObjectsCollisionThread" and registers the container
    /// first, so it holds id 0 there.
    virtual void Init();
    /// Kept for the heuristics' interface; does nothing.
    virtual void InitBSP();
    /// One phase and everything after it (see IConstructionHeuristic / IImprovementHeuristic).
    virtual void Run() = 0;

    /// Start-up hook; does nothing.
    void InitEmptySpace();

    /// A new pipeline with hulls and verbosity off; the tag is accepted and not used.
    /// The caller owns the result.
    col::CollisionPipeline* CreatePipeline(std::string name, int tag);
    /// Registers the object's geometry and stores the new id in object->m_id; returns it.
    int MakeObjectCollidable(col::CollisionPipeline* pipeline, MovingObject* object);

    /// Copies position, translation, rotation and model matrix into the saved slots and zeroes
    /// both velocities. The scale matrix is not part of the state; no pipeline is told.
    void SaveObjectStates(std::list<MovingObject*>* objects);
    void SaveObjectStates(std::vector<MovingObject*>* objects);
    /// The reverse copy of SaveObjectStates, also zeroing both velocities.
    void LoadObjectStates(std::list<MovingObject*>* objects);
    void LoadObjectStates(std::vector<MovingObject*>* objects);

    /// An object of a type drawn with randMToN(0, 100) against the shares; null when the
    /// shares add up to the draw or less (nothing is allocated then).
    MovingObject* GenerateRandomObject();
    /// The type a share draw selects: the first whose running share sum is strictly greater
    /// than `draw`; -1 when there is none (no types, or shares summing to `draw` or less).
    int TypeForShareDraw(float draw) const;
    /// A new object of type k (not range-checked), sharing the type's sphere tree, points,
    /// primitives, colour and GL buffers; identity pose, in no list and no pipeline. Its size
    /// factor is drawn from the type's distribution with m_random (no draw for a fixed one).
    MovingObject* GenerateObject(int k);
    /// The same at a given size factor: the scale matrix and model hold it, the volume and
    /// inertia follow it.
    MovingObject* GenerateObject(int k, float size);

    /// Switches `pipeline` (null: the main pipeline) to a uniform grid over the container's
    /// refreshed bounding box with `cells` truncated toward zero per axis.
    void UseGrid(Vectormath::Aos::Vector3 cells, col::CollisionPipeline* pipeline);
    /// The per-axis counts UseGrid passes: each component truncated toward zero, negatives as 0.
    static void GridCellCounts(const Vectormath::Aos::Vector3& cells, unsigned outCounts[3]);

    /// Links the next phase (may be null) and hands out the two placement file names: this
    /// object keeps the construction file, `next` gets the improvement file.
    void SetImprovementHeuristic(IPackingAlgorithm* next, std::string constructionFile, std::string improvementFile);

    /// Distance between the two objects' sphere trees at their current model matrices.
    float Distance(MovingObject* a, MovingObject* b);

    void SetEpsilon(float epsilon) { m_epsilon = epsilon; }
    void SetHopkinsSubSet(float subSet) { m_hopkinsSubSet = subSet; }
    void SetHopkinsRepeat(int repeat) { m_hopkinsRepeat = repeat; }

    /// Integrates the velocities the pipeline's callbacks put on `object` into new poses until a
    /// check reports no overlap (true) or more than one second has passed (false). The callbacks
    /// must set `overlapFlag` for every overlap they see. Sets the container's inverse mass to 0.
    bool ResolveOverlap(col::CollisionPipeline* pipeline, MovingObject* object, bool& overlapFlag);

    /// One line per object: type index, then translation, rotation and scale matrices, every
    /// number followed by a space. An empty list prints "Placed objects array is empty!" and
    /// leaves the file alone. The file is replaced atomically, keeping its permissions
    /// (geometry/AtomicReplace.h): a crash or a failed write leaves the previous file whole; a
    /// failure is reported in one line.
    void WritePlacedObjects(std::string file, std::list<MovingObject*>& objects);
    /// All or nothing: every line must be a configured type index and 48 numbers; otherwise one
    /// line names the file and line number, nothing is appended and the result is false.
    /// Loaded objects are appended; the result is true when the list is non-empty afterwards.
    /// A file without object lines says so in one line on standard error.
    bool LoadPlacedObjects(std::string file, std::list<MovingObject*>& objects);
    /// The 16 elements column by column, each in "%g" form followed by a space.
    void WriteMatrix(std::ofstream& out, Vectormath::Aos::Matrix4 matrix);
    /// Reads 16 elements in WriteMatrix's order; a column is zeroed before it is read, so
    /// missing numbers leave zeros.
    void LoadMatrix(std::istringstream& in, Vectormath::Aos::Matrix4& matrix);
    /// The container and every listed object as one OBJ file with global face indices;
    /// replaced atomically like the placement files.
    void ExportObj(std::string file, std::list<MovingObject*>& objects, MovingObject* container);

    // The packing report, computed by the statistics from StatisticsView(). Statistic() prints
    // the whole report and keeps its figures in report().
    void Statistic();
    void VolumePerObject();
    void DistributionStatistic();
    float SurfaceDensity(float epsilon);
    void HopkinsStatistic();
    float NearestNeighborDist(MovingObject* object, std::vector<MovingObject*>& candidates);
    /// This algorithm's packing as the statistics read it, with the framework operations they use.
    PackingView StatisticsView();

    /// Phase times and report figures. After the construction heuristic's Run() it holds the
    /// whole run (both phases' times and the improvement phase's report).
    const PackingReport& report() const { return m_report; }

    // Read access for start-up, the viewer and tests.
    std::list<MovingObject*>* placedObjects() const { return m_placedObjects; }
    col::CollisionPipeline* collisionPipeline() const { return m_collisionPipeline; }
    IPackingAlgorithm* improvementHeuristic() const { return m_improvementHeuristic; }
    const std::string& constructionFile() const { return m_constructionFile; }
    const std::string& improvementFile() const { return m_improvementFile; }
    const Vectormath::Aos::Vector3& gridCells() const { return m_gridCells; }
    float epsilon() const { return m_epsilon; }
    float hopkinsSubSet() const { return m_hopkinsSubSet; }
    int hopkinsRepeat() const { return m_hopkinsRepeat; }
    col::FibRand* random() const { return m_random; }

 protected:
    std::list<MovingObject*>*
        m_placedObjects;  ///< the run's one placed-object list, shared by both phases and the viewer
    col::CollisionPipeline* m_collisionPipeline = nullptr;  ///< main pipeline, created by Init
    MovingObject* m_container;                              ///< the container object
    std::vector<Vectormath::Aos::Vector3>* m_pointsInside;  ///< interior sample points
    IPackingAlgorithm* m_improvementHeuristic = nullptr;    ///< the phase after this one; null: none
    std::string m_constructionFile;                         ///< placement file of the construction phase
    std::string m_improvementFile;                          ///< placement file of the improvement phase
    /// Pairwise sphere-intersection lists by pipeline id, allocated by the improvement heuristics
    /// that use it; each entry points at a list owned by the collision library.
    std::vector<std::vector<std::vector<col::SphereIntersectionData>*>>* m_isecMatrix = nullptr;
    Vectormath::Aos::Vector3 m_gridCells;           ///< grid cells along x, y, z
    float m_epsilon = 0.1f;                         ///< surface-density epsilon
    float m_hopkinsSubSet = 1.0f;                   ///< sample fraction of the Hopkins statistic
    int32_t m_hopkinsRepeat = 1;                    ///< repetitions of the Hopkins statistic
    std::vector<PackingObjectInfo>* m_objectTypes;  ///< the object types, largest volume first
    col::FibRand* m_random;                         ///< the algorithm's own generator (honours --seed), never freed
    PackingReport m_report;                         ///< what the runners and Statistic() measured
};
