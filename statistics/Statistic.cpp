// The packing report printed after the improvement phase.

#include <iostream>
#include <vector>

#include "geometry/MovingObject.h"
#include "statistics/Statistics.h"

namespace Packing {

PackingFigures MeasurePacking(const PackingView& view) {
    const std::vector<PackingObjectInfo>& types = *view.types;
    PackingFigures f;
    f.epsilon = view.epsilon;
    f.hopkinsSubSet = view.hopkinsSubSet;
    f.hopkinsRepeat = view.hopkinsRepeat;
    f.containerVolume = view.container->m_volume;
    f.numObjects = static_cast<int32_t>(view.placedObjects->size());
    f.types.resize(types.size());
    for (size_t t = 0; t < types.size(); ++t) {
        f.types[t].name = types[t].name;
        f.types[t].volume = types[t].volume;
    }
    // Every object counts with its type's volume at its size factor, whatever its scale.
    for (const MovingObject* o : *view.placedObjects) {
        const size_t t = static_cast<size_t>(o->m_typeIndex);
        const float s = o->m_sizeFactor;
        f.objectsVolume += types[t].volume * s * s * s;
        ++f.types[t].count;
    }
    f.packingDensityPercent = static_cast<double>(f.objectsVolume / f.containerVolume) * 100.0;
    for (TypeReport& t : f.types)
        // An empty packing would divide 0 by 0; its distribution is reported as 0 % instead of
        // the not-a-number text.
        t.sharePercent =
            f.numObjects == 0 ? 0.0f : static_cast<float>(t.count) / static_cast<float>(f.numObjects) * 100.0f;
    return f;
}

void PrintPackingSummary(std::ostream& out, const PackingFigures& f) {
    out << "EPSILON: " << f.epsilon << std::endl;
    out << "### Auto packing info ###" << std::endl;
    out << "Packing density/fraction: " << f.packingDensityPercent << " %" << std::endl;
    out << "Surface density/fraction: " << f.surfaceDensityPercent << " %" << std::endl;
    out << "Container Vol: " << f.containerVolume << std::endl;
    out << "Objects Vol: " << f.objectsVolume << std::endl;
    out << "Volume per object type" << std::endl;
}

void PrintTypeVolumes(std::ostream& out, const PackingFigures& f) {
    for (const TypeReport& t : f.types) out << t.name << " Vol: " << t.volume << std::endl;
}

void PrintDistribution(std::ostream& out, const PackingFigures& f) {
    out << "Num. placed objects: " << f.numObjects << std::endl;
    for (const TypeReport& t : f.types)
        out << t.name << " | "
            << "Num.: " << t.count << " | "
            << "Distribution : " << t.sharePercent << " %" << std::endl;
}

void PrintHopkins(std::ostream& out, const PackingFigures& f) {
    for (const TypeReport& t : f.types) {
        out << t.name << " | Hopkins Value:";
        for (float v : t.hopkins) out << " " << v;
        out << std::endl;
    }
}

}  // namespace Packing
