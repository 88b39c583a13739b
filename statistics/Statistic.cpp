// The packing report printed after the improvement phase.

#include <iostream>
#include <vector>

#include "algorithms/PackingAlgorithm.h"
#include "geometry/MovingObject.h"
#include "statistics/Report.h"

void IPackingAlgorithm::Statistic() {
    const float containerVolume = m_container->m_volume;
    // Every object counts with its type's volume, whatever its scale.
    float objectsVolume = 0.0f;
    for (const MovingObject* o : *m_placedObjects)
        objectsVolume += (*m_objectTypes)[static_cast<size_t>(o->m_typeIndex)].volume;
    const float surface = SurfaceDensity(m_epsilon);
    const double packing = static_cast<double>(objectsVolume / containerVolume) * 100.0;

    g_report.epsilon = m_epsilon;
    g_report.hopkinsSubSet = m_hopkinsSubSet;
    g_report.hopkinsRepeat = m_hopkinsRepeat;
    g_report.packingDensityPercent = packing;
    g_report.surfaceDensityPercent = surface * 100.0f;
    g_report.containerVolume = containerVolume;
    g_report.objectsVolume = objectsVolume;

    std::cout << "EPSILON: " << m_epsilon << std::endl;
    std::cout << "### Auto packing info ###" << std::endl;
    std::cout << "Packing density/fraction: " << packing << " %" << std::endl;
    std::cout << "Surface density/fraction: " << surface * 100.0f << " %" << std::endl;
    std::cout << "Container Vol: " << containerVolume << std::endl;
    std::cout << "Objects Vol: " << objectsVolume << std::endl;
    std::cout << "Volume per object type" << std::endl;
    VolumePerObject();
    DistributionStatistic();
    HopkinsStatistic();
    g_report.statisticsComputed = true;
}

void IPackingAlgorithm::VolumePerObject() {
    g_report.types.resize(m_objectTypes->size());
    for (size_t t = 0; t < m_objectTypes->size(); ++t) {
        const PackingObjectInfo& type = (*m_objectTypes)[t];
        g_report.types[t].name = type.name;
        g_report.types[t].volume = type.volume;
        std::cout << type.name << " Vol: " << type.volume << std::endl;
    }
}

void IPackingAlgorithm::DistributionStatistic() {
    const int32_t n = static_cast<int32_t>(m_placedObjects->size());
    std::cout << "Num. placed objects: " << n << std::endl;
    std::vector<int32_t> counts(m_objectTypes->size(), 0);
    for (const MovingObject* o : *m_placedObjects) ++counts[static_cast<size_t>(o->m_typeIndex)];

    g_report.numObjects = n;
    g_report.types.resize(m_objectTypes->size());
    for (size_t t = 0; t < m_objectTypes->size(); ++t) {
        // An empty packing would divide 0 by 0; its distribution is reported as 0 % instead of
        // the not-a-number text.
        const float share = n == 0 ? 0.0f : static_cast<float>(counts[t]) / static_cast<float>(n) * 100.0f;
        g_report.types[t].name = (*m_objectTypes)[t].name;
        g_report.types[t].count = counts[t];
        g_report.types[t].sharePercent = share;
        std::cout << (*m_objectTypes)[t].name << " | "
                  << "Num.: " << counts[t] << " | "
                  << "Distribution : " << share << " %" << std::endl;
    }
}
