// OBJ reader for the collision geometry: "v" and "f" lines only.
//
// The whole file is parsed into local lists first and swapped into the geometry only on
// success, so a bad file never leaves a half-filled geometry behind. A successful load
// replaces the geometry's points and polygons.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "collision/ColGeometry.h"
#include "collision/ObjTokenizer.h"

namespace col {
namespace {

/// Resolves a corner to a 0-based position index among the vertices read so far; texture and
/// normal parts are checked for syntax only.
bool resolveCorner(std::string_view tok, size_t vertexCount, unsigned& out, std::string& err) {
    ObjCorner corner;
    if (!parseObjCorner(tok, corner)) {
        err = "malformed face corner '" + std::string(tok) + "'";
        return false;
    }
    const long idx = corner.position;
    if (idx == 0) {
        err = "face index 0 (indices start at 1)";
        return false;
    }
    // Negative indices count back from the last vertex read so far.
    const long zeroBased = idx > 0 ? idx - 1 : long(vertexCount) + idx;
    if (zeroBased < 0 || zeroBased >= long(vertexCount)) {
        err =
            "face index " + std::to_string(idx) + " out of range (" + std::to_string(vertexCount) + " vertices so far)";
        return false;
    }
    out = unsigned(zeroBased);
    return true;
}

bool parseObj(std::istream& in, std::vector<Point3>& pts, std::vector<std::vector<unsigned>>& polys, int& errLine,
              std::string& err) {
    ObjReader reader(in);
    while (reader.next()) {
        const std::vector<std::string_view>& tok = reader.tokens();
        errLine = reader.line();
        if (tok[0] == "v") {
            float c[3] = {0, 0, 0};
            if (!parseObjTriple(tok, "vertex", c, err)) return false;
            pts.emplace_back(c[0], c[1], c[2]);
        } else if (tok[0] == "f") {
            if (tok.size() < 4) {
                err = "face needs at least 3 corners";
                return false;
            }
            std::vector<unsigned> poly(tok.size() - 1);
            for (size_t i = 1; i < tok.size(); ++i)
                if (!resolveCorner(tok[i], pts.size(), poly[i - 1], err)) return false;
            polys.push_back(std::move(poly));
        }
        // Everything else (vt, vn, o, g, s, usemtl, mtllib, l, ...) carries nothing we use.
    }
    return true;
}

}  // namespace

int loadGeometryFromFile(ColGeometry* geom, const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    std::vector<Point3> pts;
    std::vector<std::vector<unsigned>> polys;
    int line = 0;
    std::string err;
    if (!parseObj(in, pts, polys, line, err)) {
        std::fprintf(stderr, "%s:%d: %s\n", path, line, err.c_str());
        return -2;
    }
    geom->editPointsPtr()->swap(pts);
    geom->editPrimitivesPtr()->swap(polys);
    geom->updateBBox();
    return 0;
}

}  // namespace col
