#include "app/Heuristics.h"

#include <iterator>

#include "algorithms/construction/DistanceAlgorithm.h"
#include "algorithms/construction/GrowingSeedAlgorithm.h"
#include "algorithms/construction/HybridAlgorithm.h"
#include "algorithms/construction/PlacementAlgorithm.h"
#include "algorithms/construction/RandomSequentialAddition.h"
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

// The five arguments every heuristic is constructed with, in constructor order.
struct HeuristicArgs {
    std::vector<PackingObjectInfo>& types;
    MovingObject* container;
    std::vector<Vectormath::Aos::Vector3>& points;
    std::list<MovingObject*>* placed;
    Vectormath::Aos::Vector3 grid;
};

// One name a configuration may give and how to make it in each role; a null factory means the
// name cannot stand in that role.
struct HeuristicEntry {
    const char* name;
    IConstructionHeuristic* (*construction)(const HeuristicArgs&);
    IImprovementHeuristic* (*improvement)(const HeuristicArgs&);
};

template <class T, class Role>
Role* Make(const HeuristicArgs& a) {
    return new T(a.types, a.container, a.points, a.placed, a.grid);
}

template <class T>
constexpr HeuristicEntry Construction(const char* name) {
    return {name, &Make<T, IConstructionHeuristic>, nullptr};
}

template <class T>
constexpr HeuristicEntry Improvement(const char* name) {
    return {name, nullptr, &Make<T, IImprovementHeuristic>};
}

// One name for both roles: a class for each, usually two thin wrappers over one engine.
template <class AsConstruction, class AsImprovement>
constexpr HeuristicEntry Both(const char* name) {
    return {name, &Make<AsConstruction, IConstructionHeuristic>, &Make<AsImprovement, IImprovementHeuristic>};
}

// One line per heuristic: the name a configuration gives and the class it makes.
constexpr HeuristicEntry kHeuristics[] = {
    Construction<PlacementAlgorithm>("PlacementAlgorithm"),
    Construction<HybridAlgorithm>("HybridAlgorithm"),
    Construction<GrowingSeedAlgorithm>("GrowingSeedAlgorithm"),
    Construction<DistanceAlgorithm>("DistanceAlgorithm"),
    Improvement<CompactionAlgorithm>("CompactionAlgorithm"),
    Improvement<CavityFilling>("CavityFillingAlgorithm"),
    Improvement<CavityFillingGrowing>("CavityFillingGrowingAlgorithm"),
    Improvement<ShuffleAlgorithm>("ShuffleAlgorithm"),
    Improvement<SGAlgorithm>("SGAlgorithm"),
    Improvement<TestAlgorithm>("TestAlgorithm"),
    Both<RandomSequentialAddition, RandomSequentialAdditionImprovement>("RandomSequentialAddition"),
};

constexpr bool SameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool NamesAreUnique() {
    for (size_t i = 0; i < std::size(kHeuristics); ++i)
        for (size_t j = i + 1; j < std::size(kHeuristics); ++j)
            if (SameName(kHeuristics[i].name, kHeuristics[j].name)) return false;
    return true;
}
// A second line under a taken name would never be reached; a heuristic for both roles takes one
// line with Both.
static_assert(NamesAreUnique(), "two heuristics are registered under one name");

const HeuristicEntry* Find(const std::string& name) {
    for (const HeuristicEntry& e : kHeuristics)
        if (name == e.name) return &e;
    return nullptr;
}

template <class Factory>
std::string NamesWith(Factory HeuristicEntry::*role) {
    std::string names;
    for (const HeuristicEntry& e : kHeuristics) {
        if (e.*role == nullptr) continue;
        if (!names.empty()) names += ", ";
        names += e.name;
    }
    return names;
}

}  // namespace

bool IsConstructionHeuristicName(const std::string& name) {
    const HeuristicEntry* e = Find(name);
    return e != nullptr && e->construction != nullptr;
}

bool IsImprovementHeuristicName(const std::string& name) {
    const HeuristicEntry* e = Find(name);
    return e != nullptr && e->improvement != nullptr;
}

std::string ConstructionHeuristicNames() { return NamesWith(&HeuristicEntry::construction); }
std::string ImprovementHeuristicNames() { return NamesWith(&HeuristicEntry::improvement); }

bool MeansNoImprovement(const std::string& name) { return name.empty() || name == "None" || name == "none"; }

IConstructionHeuristic* CreateConstructionHeuristic(const std::string& name, std::vector<PackingObjectInfo>& types,
                                                    MovingObject* container,
                                                    std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                                    std::list<MovingObject*>* placedObjects,
                                                    Vectormath::Aos::Vector3 gridCells) {
    if (!IsConstructionHeuristicName(name)) return nullptr;
    return Find(name)->construction({types, container, pointsInside, placedObjects, gridCells});
}

IImprovementHeuristic* CreateImprovementHeuristic(const std::string& name, std::vector<PackingObjectInfo>& types,
                                                  MovingObject* container,
                                                  std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                                  std::list<MovingObject*>* placedObjects,
                                                  Vectormath::Aos::Vector3 gridCells) {
    if (!IsImprovementHeuristicName(name)) return nullptr;
    return Find(name)->improvement({types, container, pointsInside, placedObjects, gridCells});
}

IConstructionHeuristic* CreatePlacementLoader(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                              std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                              std::list<MovingObject*>* placedObjects,
                                              Vectormath::Aos::Vector3 gridCells) {
    // Used only for its loading operation; it never runs.
    return Make<DistanceAlgorithm, IConstructionHeuristic>({types, container, pointsInside, placedObjects, gridCells});
}
