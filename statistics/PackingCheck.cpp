#include "statistics/PackingCheck.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace check {
namespace {

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

Point3 Apply(const Matrix4& m, const Point3& p) {
    const Vector4 v = m * p;
    return Point3(v.getX(), v.getY(), v.getZ());
}

/// Uniform scale of a model matrix: the length of its first column.
float ScaleOf(const Matrix4& m) { return length(m.getCol0().getXYZ()); }

struct Bound {
    Point3 centre;
    float radius;
    float thickness;
    float scale;
};

}  // namespace

bool LoadPlacement(const std::string& path, size_t typeCount, std::vector<PlacedObject>& out, std::string& err) {
    std::ifstream in(path);
    if (!in) {
        err = "cannot open " + path;
        return false;
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::istringstream ls(line);
        long type = -1;
        float v[48];
        ls >> type;
        for (float& x : v) ls >> x;
        if (!ls) {
            err = path + ":" + std::to_string(lineNo) + ": expected a type index and 48 numbers";
            return false;
        }
        if (type < 0 || static_cast<size_t>(type) >= typeCount) {
            err = path + ":" + std::to_string(lineNo) + ": type index " + std::to_string(type) + " is not one of the " +
                  std::to_string(typeCount) + " configured types";
            return false;
        }
        Matrix4 m[3];
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 4; ++c)
                m[k].setCol(
                    c, Vector4(v[16 * k + 4 * c], v[16 * k + 4 * c + 1], v[16 * k + 4 * c + 2], v[16 * k + 4 * c + 3]));
        out.push_back({static_cast<int>(type), m[0] * m[1] * m[2]});
    }
    return true;
}

CheckResult CheckPacking(const CheckScene& scene, const std::vector<PlacedObject>& objects) {
    CheckResult result;
    result.objects = objects.size();
    std::vector<Bound> bounds(objects.size());
    std::vector<Matrix4> inverses(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        const CheckMesh& mesh = scene.types[static_cast<size_t>(objects[i].type)];
        const float s = ScaleOf(objects[i].model);
        bounds[i] = {Apply(objects[i].model, mesh.Centre()), mesh.Radius() * s, mesh.MinExtent() * s, s};
        inverses[i] = inverse(objects[i].model);
    }

    // Broad phase: sweep the enclosing spheres along x.
    std::vector<size_t> order(objects.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return bounds[a].centre.getX() - bounds[a].radius < bounds[b].centre.getX() - bounds[b].radius;
    });
    for (size_t oi = 0; oi < order.size(); ++oi) {
        const size_t i = order[oi];
        const float maxX = bounds[i].centre.getX() + bounds[i].radius;
        for (size_t oj = oi + 1; oj < order.size(); ++oj) {
            const size_t j = order[oj];
            if (bounds[j].centre.getX() - bounds[j].radius > maxX) break;
            const float rr = bounds[i].radius + bounds[j].radius;
            if (lengthSqr(bounds[i].centre - bounds[j].centre) > rr * rr) continue;
            ++result.candidatePairs;

            const size_t a = std::min(i, j), b = std::max(i, j);
            const CheckMesh& ma = scene.types[static_cast<size_t>(objects[a].type)];
            const CheckMesh& mb = scene.types[static_cast<size_t>(objects[b].type)];
            const Matrix4 aInB = inverses[b] * objects[a].model;
            const Matrix4 bInA = inverses[a] * objects[b].model;
            const col::MeshDistanceResult d = col::meshDistance(ma.Tree(), mb.Tree(), aInB);
            // Separate surfaces: either apart, or one mesh wholly inside the other.
            if (d.distance > 0.0f && !mb.Inside(Apply(aInB, ma.Points()[0])) && !ma.Inside(Apply(bInA, mb.Points()[0])))
                continue;
            const float depth = std::max(col::deepestInside(ma.Exact(), mb.Exact(), aInB) * bounds[b].scale,
                                         col::deepestInside(mb.Exact(), ma.Exact(), bInA) * bounds[a].scale);
            const float thickness = std::min(bounds[a].thickness, bounds[b].thickness);
            result.pairs.push_back({a, b, depth, thickness > 0.0f ? depth / thickness : INFINITY});
        }
    }
    std::sort(result.pairs.begin(), result.pairs.end(),
              [](const PairFinding& x, const PairFinding& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });

    // Container: the container is never moved, so object frames map into it by their model matrix.
    const CheckMesh& box = scene.container;
    for (size_t i = 0; i < objects.size(); ++i) {
        const Bound& bd = bounds[i];
        // Cheap accept: the enclosing sphere lies inside, clear of the wall.
        if (box.Inside(bd.centre) && box.SurfaceDistance(bd.centre) > bd.radius) continue;
        const CheckMesh& mesh = scene.types[static_cast<size_t>(objects[i].type)];
        bool anyOutside = false;
        const float depth = col::farthestOutside(mesh.Exact(), box.Exact(), objects[i].model, anyOutside);
        if (!anyOutside && col::meshDistance(mesh.Tree(), box.Tree(), objects[i].model).distance > 0.0f) continue;
        result.outside.push_back({i, depth, bd.thickness > 0.0f ? depth / bd.thickness : INFINITY});
    }
    return result;
}

}  // namespace check
