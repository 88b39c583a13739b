// The report members of the framework: each builds the statistics' view of this algorithm's
// packing, lets the statistics compute, and prints what they return.

#include <iostream>

#include "algorithms/PackingAlgorithm.h"
#include "statistics/Statistics.h"

PackingView IPackingAlgorithm::StatisticsView() {
    PackingView view;
    view.container = m_container;
    view.placedObjects = m_placedObjects;
    view.types = m_objectTypes;
    view.points = m_pointsInside;
    view.epsilon = m_epsilon;
    view.hopkinsSubSet = m_hopkinsSubSet;
    view.hopkinsRepeat = m_hopkinsRepeat;
    view.random = m_random;
    view.createPipeline = [this](const std::string& name, int tag) { return CreatePipeline(name, tag); };
    view.generateObject = [this](int k) { return GenerateObject(k); };
    view.distance = [this](MovingObject* a, MovingObject* b) { return Distance(a, b); };
    view.resolveOverlap = [this](col::CollisionPipeline* pipeline, MovingObject* object, bool& overlapFlag) {
        return ResolveOverlap(pipeline, object, overlapFlag);
    };
    return view;
}

void IPackingAlgorithm::Statistic() {
    const PackingView view = StatisticsView();
    PackingFigures figures = Packing::MeasurePacking(view);
    figures.surfaceDensityPercent = SurfaceDensity(m_epsilon) * 100.0f;
    Packing::PrintPackingSummary(std::cout, figures);
    Packing::PrintTypeVolumes(std::cout, figures);
    Packing::PrintDistribution(std::cout, figures);
    const std::vector<std::vector<float>> hopkins = Packing::HopkinsValues(view);
    for (size_t t = 0; t < figures.types.size(); ++t) figures.types[t].hopkins = hopkins[t];
    Packing::PrintHopkins(std::cout, figures);
    m_report.statistics = figures;
}

void IPackingAlgorithm::VolumePerObject() {
    Packing::PrintTypeVolumes(std::cout, Packing::MeasurePacking(StatisticsView()));
}

void IPackingAlgorithm::DistributionStatistic() {
    Packing::PrintDistribution(std::cout, Packing::MeasurePacking(StatisticsView()));
}

float IPackingAlgorithm::SurfaceDensity(float epsilon) { return Packing::SurfaceDensity(StatisticsView(), epsilon); }

void IPackingAlgorithm::HopkinsStatistic() {
    const PackingView view = StatisticsView();
    PackingFigures figures = Packing::MeasurePacking(view);
    const std::vector<std::vector<float>> hopkins = Packing::HopkinsValues(view);
    for (size_t t = 0; t < figures.types.size(); ++t) figures.types[t].hopkins = hopkins[t];
    Packing::PrintHopkins(std::cout, figures);
}

float IPackingAlgorithm::NearestNeighborDist(MovingObject* object, std::vector<MovingObject*>& candidates) {
    return Packing::NearestNeighborDist(StatisticsView(), object, candidates);
}
