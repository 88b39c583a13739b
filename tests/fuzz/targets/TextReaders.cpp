// The configuration, the point file and the sphere-tree file.

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzTargets.h"
#include "app/Config.h"
#include "collision/SpheresFile.h"
#include "preprocessing/PointFile.h"

namespace fuzz {

namespace {
size_t CountLines(const uint8_t* data, size_t size) {
    size_t lines = size > 0 && data[size - 1] != '\n' ? 1 : 0;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    return lines;
}
}  // namespace

int Config(const uint8_t* data, size_t size) {
    std::string path = InputFile(data, size);
    ConfigData config;
    const int result = LoadConfig(path, config);
    Require(result == kConfigOk || result == kConfigBadObjectLine, "an open configuration file was not read");
    Require(config.objects.size() <= CountLines(data, size), "more object types than lines");
    for (const PackingObjectInfo& type : config.objects) Require(type.geometry == nullptr, "reader set a mesh");
    return 0;
}

int PointFile(const uint8_t* data, size_t size) {
    std::string path = InputFile(data, size);
    std::vector<Vectormath::Aos::Vector3> points(1, Vectormath::Aos::Vector3(7.0f));
    const int result = LoadPointFile(path, points);
    Require(result == 0 || result == -1, "unexpected result");
    Require(points.size() >= 1 && points[0].getX() == 7.0f, "points held before the load were changed");
    if (result == -1) Require(points.size() == 1, "a rejected file added points");
    Require(points.size() - 1 <= CountLines(data, size), "more points than lines");
    return 0;
}

int Spheres(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    col::SpheresParseResult first = col::parseSpheres(in, "input");
    Require(first.ok == first.error.empty(), "an error message without a failure or the other way round");
    if (!first.ok) return 0;
    Require(!first.tree.nodes().empty(), "an accepted tree without nodes");
    // What the writer makes of an accepted tree must read back as the same tree.
    const std::string written = col::formatSpheres(first.tree);
    std::istringstream again(written);
    col::SpheresParseResult second = col::parseSpheres(again, "written");
    Require(second.ok, second.error.c_str());
    Require(col::formatSpheres(second.tree) == written, "the tree changed in a write/read round trip");
    return 0;
}

}  // namespace fuzz
