// The reports of the viewer's keys. The viewer copies what they read under the packing lock.

#include "statistics/ViewReports.h"

#include <cmath>
#include <ostream>

#include "geometry/PackingGeometry.h"

using Vectormath::Aos::Vector3;

void avgDistFruit(const std::vector<Vector3>& positions, DistanceSummary& result) {
    if (positions.size() < 2) return;
    std::vector<float> distances;
    float sum = 0.0f;
    for (size_t i = 0; i < positions.size(); ++i)
        for (size_t j = i + 1; j < positions.size(); ++j) {
            const float d = Vectormath::Aos::length(positions[i] - positions[j]);
            distances.push_back(d);
            sum += d;
        }
    const float pairs = static_cast<float>(distances.size());
    const float avg = sum / pairs;
    float squares = 0.0f;
    for (float d : distances) squares += (d - avg) * (d - avg);
    result.avg = avg;
    result.variance = squares / pairs;
    result.deviation = std::sqrt(result.variance);
}

void PrintDistanceReport(std::ostream& out, const std::vector<std::pair<int, Vector3>>& objects,
                         const std::vector<PackingObjectInfo>& types) {
    const size_t n = objects.size();
    out << "Num. placed objects: " << n << std::endl;
    std::vector<std::vector<Vector3>> byType(types.size());
    for (const auto& [type, position] : objects)
        if (type >= 0 && static_cast<size_t>(type) < types.size())
            byType[static_cast<size_t>(type)].push_back(position);
    for (size_t t = 0; t < types.size(); ++t) {
        DistanceSummary s;
        avgDistFruit(byType[t], s);
        const float share = static_cast<float>(byType[t].size()) / static_cast<float>(n) * 100.0f;
        out << types[t].name << " | "
            << "Num.: " << byType[t].size() << " | "
            << "Distribution : " << share << " %"
            << " | "
            << "avg dist: " << s.avg << " | "
            << "variance: " << s.variance << " | "
            << "standard deviation: " << s.deviation << " | "
            << "percentage: " << static_cast<double>(s.deviation) / static_cast<double>(s.avg) * 100.0 << std::endl;
    }
}

void PrintVolumePerType(std::ostream& out, const std::vector<PackingObjectInfo>& types) {
    for (const PackingObjectInfo& type : types)
        out << type.name << " Vol: " << calculateVolume(type.geometry) << std::endl;
}

void PrintPackingReport(std::ostream& out, const std::vector<int>& typeIndices,
                        const std::vector<PackingObjectInfo>& types, const PackingGeometry* container) {
    const float containerVolume = calculateVolume(container);
    float objectsVolume = 0.0f;
    for (int t : typeIndices)
        if (t >= 0 && static_cast<size_t>(t) < types.size()) objectsVolume += types[static_cast<size_t>(t)].volume;
    // An empty packing is 0 %, also in a scene without a container mesh.
    const double density =
        objectsVolume == 0.0f ? 0.0 : static_cast<double>(objectsVolume) / static_cast<double>(containerVolume) * 100.0;
    out << "### Auto packing info ###" << std::endl;
    out << "Packing density/fraction: " << density << " %" << std::endl;
    out << "Container Vol: " << calculateVolume(container) << std::endl;
    out << "Objects Vol: " << objectsVolume << std::endl;
    out << "Volume per object type" << std::endl;
    PrintVolumePerType(out, types);
}
