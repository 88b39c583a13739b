#pragma once
/// @file Heuristics.h
/// The run's two heuristics and their creation by configured name; the names and their classes
/// stand in one table in Heuristics.cpp, one line per heuristic.

#include <list>
#include <string>
#include <thread>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/ImprovementHeuristic.h"

extern IConstructionHeuristic* g_constructionHeuristic;  ///< the construction heuristic (view mode: the loader)
extern IImprovementHeuristic* g_improvementHeuristic;    ///< the improvement heuristic, or null
extern std::thread* g_algorithmThread;                   ///< runs both phases; null until started

/// Exact, case-sensitive match against the names registered for the role.
bool IsConstructionHeuristicName(const std::string& name);
bool IsImprovementHeuristicName(const std::string& name);
/// The names registered for the role, comma-separated, for messages.
std::string ConstructionHeuristicNames();
std::string ImprovementHeuristicNames();

/// Improvement names that choose no improvement phase on purpose: empty (no section), "None" and
/// "none". Any other unknown name is a mistake worth a warning.
bool MeansNoImprovement(const std::string& name);

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
