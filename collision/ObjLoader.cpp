// OBJ reader for the collision geometry: "v" and "f" lines only.
//
// The whole file is parsed into local lists first and swapped into the geometry only on
// success, so a bad file never leaves a half-filled geometry behind. A successful load
// replaces the geometry's points and polygons.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "collision/ColGeometry.h"

namespace col {
namespace {

struct ParseError {
    int line;
    std::string what;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

/// Splits `line` at blanks into tokens (views into `line`).
void tokenize(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i])) ++i;
        size_t j = i;
        while (j < line.size() && !isSpace(line[j])) ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
}

bool parseFloat(std::string_view tok, float& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+') ++b;  // from_chars rejects a leading '+'
    const auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

bool parseInt(std::string_view tok, long& out) {
    const char* b = tok.data();
    const char* e = b + tok.size();
    if (b != e && *b == '+') ++b;
    const auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e && b != e;
}

/// One face corner "a", "a/b", "a//c" or "a/b/c" → 0-based position index.
/// Texture and normal parts must be integers when present; their values are not used.
bool parseCorner(std::string_view tok, size_t vertexCount, int line, unsigned& out, ParseError& err) {
    const size_t s1 = tok.find('/');
    const std::string_view pos = tok.substr(0, s1);
    if (s1 != std::string_view::npos) {
        std::string_view rest = tok.substr(s1 + 1);
        const size_t s2 = rest.find('/');
        const std::string_view tex = rest.substr(0, s2);
        const std::string_view nrm = s2 == std::string_view::npos ? std::string_view() : rest.substr(s2 + 1);
        long dummy;
        const bool bad = (s2 == std::string_view::npos && tex.empty()) ||  // "a/"
                         (!tex.empty() && !parseInt(tex, dummy)) ||
                         (s2 != std::string_view::npos && (nrm.empty() || !parseInt(nrm, dummy)));
        if (bad) {
            err = {line, "malformed face corner '" + std::string(tok) + "'"};
            return false;
        }
    }
    long idx;
    if (!parseInt(pos, idx)) {
        err = {line, "malformed face corner '" + std::string(tok) + "'"};
        return false;
    }
    if (idx == 0) {
        err = {line, "face index 0 (indices start at 1)"};
        return false;
    }
    // Negative indices count back from the last vertex read so far.
    const long zeroBased = idx > 0 ? idx - 1 : long(vertexCount) + idx;
    if (zeroBased < 0 || zeroBased >= long(vertexCount)) {
        err = {line, "face index " + std::to_string(idx) + " out of range (" + std::to_string(vertexCount) +
                         " vertices so far)"};
        return false;
    }
    out = unsigned(zeroBased);
    return true;
}

bool parseObj(std::istream& in, std::vector<Point3>& pts, std::vector<std::vector<unsigned>>& polys, ParseError& err) {
    std::string text;
    std::vector<std::string_view> tok;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        std::string_view sv(text);
        if (!sv.empty() && sv.back() == '\r') sv.remove_suffix(1);
        const size_t hash = sv.find('#');
        if (hash != std::string_view::npos) sv = sv.substr(0, hash);
        tokenize(sv, tok);
        if (tok.empty()) continue;
        if (tok[0] == "v") {
            // "v x y z" with an optional w or colour values after; all must be numbers.
            if (tok.size() < 4) {
                err = {line, "vertex needs 3 coordinates"};
                return false;
            }
            float c[3] = {0, 0, 0};
            for (size_t i = 1; i < tok.size(); ++i) {
                float v;
                if (!parseFloat(tok[i], v)) {
                    err = {line, "vertex coordinate '" + std::string(tok[i]) + "' is not a number"};
                    return false;
                }
                if (i <= 3) c[i - 1] = v;
            }
            pts.emplace_back(c[0], c[1], c[2]);
        } else if (tok[0] == "f") {
            if (tok.size() < 4) {
                err = {line, "face needs at least 3 corners"};
                return false;
            }
            std::vector<unsigned> poly(tok.size() - 1);
            for (size_t i = 1; i < tok.size(); ++i)
                if (!parseCorner(tok[i], pts.size(), line, poly[i - 1], err)) return false;
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
    ParseError err;
    if (!parseObj(in, pts, polys, err)) {
        std::fprintf(stderr, "%s:%d: %s\n", path, err.line, err.what.c_str());
        return -2;
    }
    geom->editPointsPtr()->swap(pts);
    geom->editPrimitivesPtr()->swap(polys);
    geom->updateBBox();
    return 0;
}

}  // namespace col
