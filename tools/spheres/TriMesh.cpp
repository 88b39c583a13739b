#include "TriMesh.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <utility>

#include "collision/ObjTokenizer.h"

namespace spheres {

namespace {

MeshResult Fail(std::string msg) { return {false, std::move(msg)}; }

std::string LineError(const std::string& path, int line, const std::string& what) {
    return path + ":" + std::to_string(line) + ": " + what;
}

bool ParseDouble(const std::string& token, double& out) {
    if (token.empty()) return false;
    const char* begin = token.c_str();
    char* end = nullptr;
    errno = 0;
    out = std::strtod(begin, &end);
    return end == begin + token.size() && errno != ERANGE && std::isfinite(out);
}

}  // namespace

MeshResult ReadObj(const std::string& path, TriMesh& outMesh) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail("cannot open '" + path + "'");
    outMesh = TriMesh{};
    col::ObjReader reader(in);
    while (reader.next()) {
        const std::vector<std::string_view>& tok = reader.tokens();
        const int lineNo = reader.line();
        if (tok[0] == "v") {
            Vec3 p;
            for (int i = 0; i < 3; ++i) {
                if (tok.size() < 4 || !ParseDouble(std::string(tok[i + 1]), p[i]))
                    return Fail(LineError(path, lineNo, "bad vertex line '" + reader.text() + "'"));
            }
            outMesh.points.push_back(p);
        } else if (tok[0] == "f") {
            std::vector<int> corners;
            for (size_t k = 1; k < tok.size(); ++k) {
                // Only the position index matters here; texture and normal parts are checked for syntax.
                col::ObjCorner corner;
                if (!col::parseObjCorner(tok[k], corner) || corner.position == 0)
                    return Fail(LineError(path, lineNo, "bad face corner '" + std::string(tok[k]) + "'"));
                const long idx = corner.position;
                long n = static_cast<long>(outMesh.points.size());
                long resolved = idx > 0 ? idx - 1 : n + idx;
                if (resolved < 0 || resolved >= n)
                    return Fail(LineError(path, lineNo, "face index " + std::to_string(idx) + " out of range"));
                corners.push_back(static_cast<int>(resolved));
            }
            if (corners.size() < 3) return Fail(LineError(path, lineNo, "face with fewer than three corners"));
            for (size_t i = 1; i + 1 < corners.size(); ++i)
                outMesh.triangles.push_back({corners[0], corners[i], corners[i + 1]});
        }
        // vn, vt, o, g, s, usemtl, mtllib and anything else do not change the shape.
    }
    if (outMesh.triangles.empty()) return Fail(path + ": no faces");
    return {true, {}};
}

MeshResult CheckClosedAndOriented(const TriMesh& mesh) {
    // Directed edge -> number of uses; a closed consistently oriented mesh uses each directed
    // edge exactly once and its reverse exactly once.
    std::map<std::pair<int, int>, int> directed;
    for (const auto& t : mesh.triangles) {
        for (int k = 0; k < 3; ++k) {
            int a = t[k], b = t[(k + 1) % 3];
            if (a == b) return Fail("degenerate triangle with repeated vertex " + std::to_string(a + 1));
            ++directed[{a, b}];
        }
    }
    for (const auto& [edge, uses] : directed) {
        const int a = edge.first + 1, b = edge.second + 1;
        const std::string name = "edge " + std::to_string(a) + "-" + std::to_string(b);
        if (uses > 1)
            return Fail("mesh not consistently oriented: " + name + " used " + std::to_string(uses) +
                        " times in the same direction");
        auto rev = directed.find({edge.second, edge.first});
        if (rev == directed.end()) return Fail("mesh not closed: " + name + " belongs to one face only");
    }
    return {true, {}};
}

double SignedVolume(const TriMesh& mesh) {
    double v = 0.0;
    for (const auto& t : mesh.triangles) v += dot(mesh.points[t[0]], cross(mesh.points[t[1]], mesh.points[t[2]]));
    return v / 6.0;
}

MeshResult LoadClosedMesh(const std::string& path, TriMesh& outMesh) {
    MeshResult r = ReadObj(path, outMesh);
    if (!r.ok) return r;
    r = CheckClosedAndOriented(outMesh);
    if (!r.ok) return {false, path + ": " + r.message};
    Vec3 lo = outMesh.points[0], hi = lo;
    for (const Vec3& p : outMesh.points) {
        lo = vmin(lo, p);
        hi = vmax(hi, p);
    }
    double extent = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
    double vol = SignedVolume(outMesh);
    if (!(std::fabs(vol) > 1e-9 * extent * extent * extent) || extent <= 0.0)
        return Fail(path + ": mesh has zero volume");
    if (vol < 0.0)
        for (auto& t : outMesh.triangles) std::swap(t[1], t[2]);
    return {true, {}};
}

}  // namespace spheres
