#pragma once
/// @file Heuristics.h
/// The run's two heuristics and their creation by configured name.

#include <list>
#include <string>
#include <thread>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/ImprovementHeuristic.h"

extern IConstructionHeuristic* g_constructionHeuristic;  ///< the construction heuristic (view mode: the loader)
extern IImprovementHeuristic* g_improvementHeuristic;    ///< the improvement heuristic, or null
extern std::thread* g_algorithmThread;                   ///< runs both phases; null until started

/// True for the four construction names a configuration may give (exact, case-sensitive).
bool IsConstructionHeuristicName(const std::string& name);

/// A new construction heuristic of the named class with the five standard arguments; null when
/// the name is unknown.
IConstructionHeuristic* CreateConstructionHeuristic(const std::string& name, std::vector<PackingObjectInfo>& types,
                                                    MovingObject* container,
                                                    std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                                    std::list<MovingObject*>* placedObjects,
                                                    Vectormath::Aos::Vector3 gridCells);

/// The same for the improvement phase; null (no improvement phase) for any other name.
IImprovementHeuristic* CreateImprovementHeuristic(const std::string& name, std::vector<PackingObjectInfo>& types,
                                                  MovingObject* container,
                                                  std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                                  std::list<MovingObject*>* placedObjects,
                                                  Vectormath::Aos::Vector3 gridCells);

/// The object view mode loads placement files with: a DistanceAlgorithm that is never run.
IConstructionHeuristic* CreatePlacementLoader(std::vector<PackingObjectInfo>& types, MovingObject* container,
                                              std::vector<Vectormath::Aos::Vector3>& pointsInside,
                                              std::list<MovingObject*>* placedObjects,
                                              Vectormath::Aos::Vector3 gridCells);
