#include "app/Heuristics.h"

#include "algorithms/construction/DistanceAlgorithm.h"
#include "algorithms/construction/GrowingSeedAlgorithm.h"
#include "algorithms/construction/HybridAlgorithm.h"
#include "algorithms/construction/PlacementAlgorithm.h"
#include "algorithms/improvement/CavityFilling.h"
#include "algorithms/improvement/CavityFillingGrowing.h"
#include "algorithms/improvement/CompactionAlgorithm.h"
#include "algorithms/improvement/SGAlgorithm.h"
#include "algorithms/improvement/ShuffleAlgorithm.h"
#include "algorithms/improvement/TestAlgorithm.h"

IConstructionHeuristic* g_constructionHeuristic = nullptr;
IImprovementHeuristic* g_improvementHeuristic = nullptr;
std::thread* g_algorithmThread = nullptr;

namespace {

// Every heuristic takes the same five arguments; T is the class a name maps to.
struct Args {
    std::vector<PackingObjectInfo>& types;
    MovingObject* container;
    std::vector<Vectormath::Aos::Vector3>& points;
    std::list<MovingObject*>* placed;
    Vectormath::Aos::Vector3 grid;
};

template <class T>
T* Make(const Args& a) {
    return new T(a.types, a.container, a.points, a.placed, a.grid);
}

}  // namespace

bool IsConstructionHeuristicName(const std::string& name) {
    return name == "DistanceAlgorithm" || name == "PlacementAlgorithm" || name == "HybridAlgorithm" ||
           name == "GrowingSeedAlgorithm";
}

IConstructionHeuristic* CreateConstructionHeuristic(const std::string& name, std::vector<PackingObjectInfo>& types,
                                                    MovingObject* container,
                                                    std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                                    std::list<MovingObject*>* placedObjects,
                                                    Vectormath::Aos::Vector3 gridCells) {
    const Args args{types, container, pointsInside, placedObjects, gridCells};
    if (name == "DistanceAlgorithm") return Make<DistanceAlgorithm>(args);
    if (name == "PlacementAlgorithm") return Make<PlacementAlgorithm>(args);
    if (name == "HybridAlgorithm") return Make<HybridAlgorithm>(args);
    if (name == "GrowingSeedAlgorithm") return Make<GrowingSeedAlgorithm>(args);
    return nullptr;
}

IImprovementHeuristic* CreateImprovementHeuristic(const std::string& name, std::vector<PackingObjectInfo>& types,
                                                  MovingObject* container,
                                                  std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                                  std::list<MovingObject*>* placedObjects,
                                                  Vectormath::Aos::Vector3 gridCells) {
    const Args args{types, container, pointsInside, placedObjects, gridCells};
    if (name == "CompactionAlgorithm") return Make<CompactionAlgorithm>(args);
    if (name == "CavityFillingAlgorithm") return Make<CavityFilling>(args);
    if (name == "CavityFillingGrowingAlgorithm") return Make<CavityFillingGrowing>(args);
    if (name == "ShuffleAlgorithm") return Make<ShuffleAlgorithm>(args);
    if (name == "SGAlgorithm") return Make<SGAlgorithm>(args);
    if (name == "TestAlgorithm") return Make<TestAlgorithm>(args);
    return nullptr;
}

IConstructionHeuristic* CreatePlacementLoader(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                              std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                              std::list<MovingObject*>* placedObjects,
                                              Vectormath::Aos::Vector3 gridCells) {
    // Used only for its loading operation; it never runs.
    return Make<DistanceAlgorithm>({types, container, pointsInside, placedObjects, gridCells});
}
