// OBJ reader for the render mesh.
//
// The file is parsed into local lists and appended to the geometry only when every line was
// understood, so a bad file leaves the geometry as it was. Positive indices are resolved at the
// end of the file (a face may name a vertex written after it); negative indices count back from
// the vertices read so far, as OBJ defines them.

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "collision/ObjTokenizer.h"
#include "geometry/PackingGeometry.h"

using Vectormath::Aos::Vector3;

namespace {

struct ParseError {
    int line = 0;
    std::string what;
};

/// One triangle corner: 0-based position index, 0-based normal index or -1 for none.
struct Corner {
    long position = 0;
    long normal = -1;
    int line = 0;
};

/// Index of a corner part: 1-based from the start, or negative from the current end.
/// Index 0 is an error; the range of positive indices is checked at the end of the file.
bool ResolveIndex(long idx, size_t countSoFar, int line, const char* kind, long& out, ParseError& err) {
    if (idx == 0) {
        err = {line, std::string(kind) + " index 0 (indices start at 1)"};
        return false;
    }
    if (idx > 0) {
        out = idx - 1;
        return true;
    }
    out = static_cast<long>(countSoFar) + idx;
    if (out < 0) {
        err = {line, std::string(kind) + " index " + std::to_string(idx) + " reaches before the first " + kind + " (" +
                         std::to_string(countSoFar) + " so far)"};
        return false;
    }
    return true;
}

/// "p", "p/t", "p//n" or "p/t/n". The texture part is checked for syntax only: it is not used.
bool ParseCorner(std::string_view tok, size_t positions, size_t normals, int line, Corner& out, ParseError& err) {
    col::ObjCorner c;
    if (!col::parseObjCorner(tok, c)) {
        err = {line, "malformed face corner '" + std::string(tok) + "'"};
        return false;
    }
    if (c.hasTexture && c.texture == 0) {
        err = {line, "texture index 0 (indices start at 1)"};
        return false;
    }
    out.line = line;
    if (!ResolveIndex(c.position, positions, line, "vertex", out.position, err)) return false;
    out.normal = -1;
    if (c.hasNormal && !ResolveIndex(c.normal, normals, line, "normal", out.normal, err)) return false;
    return true;
}

struct ObjData {
    std::vector<Vector3> positions;
    std::vector<Vector3> normals;
    std::vector<Corner> corners;  ///< three per triangle
};

bool ParseObj(std::istream& in, ObjData& data, ParseError& err) {
    col::ObjReader reader(in);
    std::vector<Corner> face;
    while (reader.next()) {
        const std::vector<std::string_view>& tok = reader.tokens();
        const int line = reader.line();
        if (tok[0] == "v" || tok[0] == "vn") {
            float c[3] = {0.0f, 0.0f, 0.0f};
            if (!col::parseObjTriple(tok, tok[0] == "v" ? "vertex" : "normal", c, err.what)) {
                err.line = line;
                return false;
            }
            (tok[0] == "v" ? data.positions : data.normals).emplace_back(c[0], c[1], c[2]);
        } else if (tok[0] == "f") {
            if (tok.size() < 4) {
                err = {line, "face needs at least 3 corners"};
                return false;
            }
            face.resize(tok.size() - 1);
            for (size_t i = 1; i < tok.size(); ++i)
                if (!ParseCorner(tok[i], data.positions.size(), data.normals.size(), line, face[i - 1], err))
                    return false;
            // Fan from the first corner; exact for the convex polygons that exporters write.
            for (size_t i = 1; i + 1 < face.size(); ++i) {
                data.corners.push_back(face[0]);
                data.corners.push_back(face[i]);
                data.corners.push_back(face[i + 1]);
            }
        }
        // Texture coordinates, groups, objects, smoothing and material lines carry nothing we draw.
    }
    return true;
}

bool CheckRanges(const ObjData& data, ParseError& err) {
    for (const Corner& c : data.corners) {
        if (c.position >= static_cast<long>(data.positions.size())) {
            err = {c.line, "vertex index " + std::to_string(c.position + 1) + " out of range (" +
                               std::to_string(data.positions.size()) + " vertices)"};
            return false;
        }
        if (c.normal >= static_cast<long>(data.normals.size())) {
            err = {c.line, "normal index " + std::to_string(c.normal + 1) + " out of range (" +
                               std::to_string(data.normals.size()) + " normals)"};
            return false;
        }
    }
    return true;
}

}  // namespace

int LoadOBJ(PackingGeometry* geometry, const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    ObjData data;
    ParseError err;
    if (!ParseObj(in, data, err) || !CheckRanges(data, err)) {
        std::fprintf(stderr, "%s:%d: %s\n", path, err.line, err.what.c_str());
        return -2;
    }

    std::vector<Vector3>& vertices = geometry->m_vertices;
    std::vector<Vector3>& normals = geometry->m_normals;
    vertices.reserve(vertices.size() + data.corners.size());
    normals.reserve(normals.size() + data.corners.size());
    for (size_t t = 0; t < data.corners.size(); t += 3) {
        const Vector3& p0 = data.positions[static_cast<size_t>(data.corners[t].position)];
        const Vector3& p1 = data.positions[static_cast<size_t>(data.corners[t + 1].position)];
        const Vector3& p2 = data.positions[static_cast<size_t>(data.corners[t + 2].position)];
        Vector3 faceNormal = cross(p1 - p0, p2 - p0);
        const float len = length(faceNormal);
        // A degenerate triangle has no direction; zero keeps NaN out of the shader.
        faceNormal = len > 0.0f ? faceNormal / len : Vector3(0.0f, 0.0f, 0.0f);
        for (size_t i = 0; i < 3; ++i) {
            const Corner& c = data.corners[t + i];
            vertices.push_back(data.positions[static_cast<size_t>(c.position)]);
            normals.push_back(c.normal >= 0 ? data.normals[static_cast<size_t>(c.normal)] : faceNormal);
        }
    }
    geometry->m_numVertices = vertices.size();
    return 0;
}
