#include "algorithms/compression/Shapes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "collision/ColGeometry.h"
#include "collision/MeshOverlap.h"
#include "statistics/Cubatic.h"

namespace Packing::compression {
namespace {

using Vectormath::Aos::dot;
using Vectormath::Aos::transpose;

// Wall grids of more cells than this get coarser cells instead.
constexpr double kMaxWallCells = 4.0e6;

}  // namespace

bool Shapes::Build(const std::vector<const col::ColGeometry*>& types, const col::ColGeometry& container,
                   std::string& outError, const std::vector<float>& largestSize) {
    m_types.clear();
    m_maxOuter = 0.0f;
    for (size_t t = 0; t < types.size(); ++t) {
        auto type = std::make_shared<Type>();
        if (!type->mesh.build(types[t]->getPoints(), types[t]->getPrimitives())) {
            outError = "object type " + std::to_string(t) + " has no triangle";
            return false;
        }
        for (const Vectormath::Aos::Point3& p : type->mesh.points())
            type->outer = std::max(type->outer, Vectormath::Aos::length(Vector3(p)));
        m_maxOuter = std::max(m_maxOuter, type->outer * (t < largestSize.size() ? largestSize[t] : 1.0f));
        type->cubic = check::HasCubicAxes(type->mesh.points());
        m_types.push_back(std::move(type));
    }
    m_remembers.assign(m_types.size() * m_types.size(), 0);
    for (size_t a = 0; a < m_types.size(); ++a)
        for (size_t b = 0; b < m_types.size(); ++b) {
            const col::ExactMesh& ma = m_types[a]->mesh;
            const col::ExactMesh& mb = m_types[b]->mesh;
            m_remembers[a * m_types.size() + b] =
                ma.convex() != nullptr && mb.convex() != nullptr && !(ma.isBox() && mb.isBox());
        }
    return BuildContainer(container.getPoints(), container.getPrimitives(), outError);
}

bool Shapes::BuildScaled(const Shapes& from, float factor, std::string& outError) {
    m_types = from.m_types;
    m_maxOuter = from.m_maxOuter;
    m_remembers = from.m_remembers;
    const Vector3 centre = 0.5f * (from.m_lo + from.m_hi);
    std::vector<Vectormath::Aos::Point3> points;
    for (const Vectormath::Aos::Point3& p : from.m_containerPoints)
        points.emplace_back(centre + factor * (Vector3(p) - centre));
    return BuildContainer(points, from.m_containerPolygons, outError);
}

bool Shapes::BuildContainer(const std::vector<Vectormath::Aos::Point3>& points,
                            const std::vector<std::vector<unsigned>>& polygons, std::string& outError) {
    m_containerPoints = points;
    m_containerPolygons = polygons;
    if (!m_container.build(points, polygons)) {
        outError = "the container has no triangle";
        return false;
    }
    m_planes = m_container.convex() != nullptr ? &m_container.convex()->planes() : nullptr;

    // Wall grid over the container's box, cells about one object radius wide.
    const auto& used = m_container.points();
    m_lo = m_hi = Vector3(used[0]);
    for (const Vectormath::Aos::Point3& p : used) {
        m_lo = Vectormath::Aos::minPerElem(m_lo, Vector3(p));
        m_hi = Vectormath::Aos::maxPerElem(m_hi, Vector3(p));
    }
    const Vector3 extent = m_hi - m_lo;
    m_isBox = m_planes != nullptr && !m_planes->empty();
    if (m_isBox) {
        const float tol = 1e-5f * Vectormath::Aos::maxElem(extent);
        for (const col::Plane& p : *m_planes) {
            bool axisPlane = false;
            for (int k = 0; k < 3; ++k) {
                if (p.normal[k] > 1.0f - 1e-6f) axisPlane = std::fabs(p.offset - m_hi[k]) <= tol;
                if (p.normal[k] < -1.0f + 1e-6f) axisPlane = std::fabs(p.offset + m_lo[k]) <= tol;
            }
            m_isBox = m_isBox && axisPlane;
        }
    }
    m_cellSize = std::max(m_maxOuter, 1e-6f * Vectormath::Aos::maxElem(extent));
    while (true) {
        double cells = 1.0;
        for (int k = 0; k < 3; ++k) {
            m_dims[k] = std::max(1, static_cast<int>(std::ceil(extent[k] / m_cellSize)));
            cells *= m_dims[k];
        }
        if (cells <= kMaxWallCells) break;
        m_cellSize *= 1.5f;
    }
    m_invCellSize = 1.0f / m_cellSize;
    const float halfDiag = 0.5f * m_cellSize * std::sqrt(3.0f);
    const float reach = m_maxOuter + halfDiag;  // a body at scale <= 1 in the cell reaches no farther

    m_cells.clear();
    m_cellPlanes.clear();
    m_cells.reserve(static_cast<size_t>(m_dims[0]) * m_dims[1] * m_dims[2]);
    for (int z = 0; z < m_dims[2]; ++z)
        for (int y = 0; y < m_dims[1]; ++y)
            for (int x = 0; x < m_dims[0]; ++x) {
                const Vector3 c =
                    m_lo + Vector3((x + 0.5f) * m_cellSize, (y + 0.5f) * m_cellSize, (z + 0.5f) * m_cellSize);
                // The signed distance to the wall (inside positive) changes by at most the distance
                // moved. For a convex container the smallest plane clearance is that distance.
                float sd = std::numeric_limits<float>::infinity();
                if (m_planes != nullptr) {
                    for (const col::Plane& p : *m_planes) sd = std::min(sd, p.offset - dot(p.normal, c));
                } else {
                    const float d = m_container.surfaceDistance(Vectormath::Aos::Point3(c));
                    sd = m_container.contains(Vectormath::Aos::Point3(c)) ? d : -d;
                }
                WallCell cell{sd - halfDiag, static_cast<uint32_t>(m_cellPlanes.size()), 0};
                if (m_planes != nullptr && sd + halfDiag >= 0.0f && cell.clearance < m_maxOuter) {
                    for (const col::Plane& p : *m_planes)
                        if (p.offset - dot(p.normal, c) < reach) m_cellPlanes.push_back(p);
                }
                cell.count = static_cast<uint32_t>(m_cellPlanes.size()) - cell.first;
                m_cells.push_back(cell);
            }
    return true;
}

float Shapes::Clearance(const Vector3& p) const {
    for (int k = 0; k < 3; ++k)
        if (!(p[k] >= m_lo[k] && p[k] <= m_hi[k])) return -std::numeric_limits<float>::infinity();
    return m_cells[CellIndex(p)].clearance;
}

double Shapes::InnerVolume(float margin) const {
    size_t inner = 0;
    for (const WallCell& c : m_cells) inner += c.clearance >= margin;
    return static_cast<double>(inner) * m_cellSize * m_cellSize * m_cellSize;
}

size_t Shapes::CellIndex(const Vector3& p) const {
    int idx[3];
    for (int k = 0; k < 3; ++k) {
        const int i = static_cast<int>((p[k] - m_lo[k]) * m_invCellSize);
        idx[k] = std::clamp(i, 0, m_dims[k] - 1);
    }
    return (static_cast<size_t>(idx[2]) * m_dims[1] + idx[1]) * m_dims[0] + idx[0];
}

bool Shapes::Overlap(const Body& a, const Body& b, float scale) const {
    col::ConvexPairCache cache;
    return Overlap(a, b, scale, cache);
}

bool Shapes::Overlap(const Body& a, const Body& b, float scale, col::ConvexPairCache& ioCache) const {
    const col::ExactMesh& ma = m_types[static_cast<size_t>(a.type)]->mesh;
    const col::ExactMesh& mb = m_types[static_cast<size_t>(b.type)]->mesh;
    // Two boxes by their separating axes: a cube pair near the jam took GJK six iterations.
    if (ma.isBox() && mb.isBox()) return col::boxesOverlap(ma, Pose(a, scale), mb, Pose(b, scale));
    if (ma.convex() != nullptr && mb.convex() != nullptr)
        return col::convexOverlap(*ma.convex(), Pose(a, scale), *mb.convex(), Pose(b, scale), ioCache);
    col::ExactOverlapQuery q;
    q.a = &ma;
    q.X_WA = Pose(a, scale);
    q.b = &mb;
    q.X_WB = Pose(b, scale);
    return col::exactOverlap(q).overlap;
}

bool Shapes::Inside(const Body& b, float commonScale) const {
    const float scale = commonScale * b.size;
    const Vector3& p = b.position;
    for (int k = 0; k < 3; ++k)
        if (!(p[k] >= m_lo[k] && p[k] <= m_hi[k])) return false;
    const WallCell& cell = m_cells[CellIndex(p)];
    const Type& type = *m_types[static_cast<size_t>(b.type)];
    const float r = scale * type.outer;
    if (cell.clearance >= r) return true;
    if (m_planes == nullptr) {
        col::ContainmentQuery q;
        q.object = &type.mesh;
        q.X_WO = Pose(b, commonScale);
        q.container = &m_container;
        return col::exactContainment(q).inside;
    }
    if (cell.count == 0) return false;  // the whole cell lies outside the wall
    if (type.mesh.convex() == nullptr) {
        // A non-convex object against the planes: its vertices all behind every near plane.
        for (uint32_t k = cell.first; k < cell.first + cell.count; ++k) {
            const col::Plane& plane = m_cellPlanes[k];
            if (plane.offset - dot(plane.normal, p) >= r) continue;  // beyond its reach
            for (const Vectormath::Aos::Point3& v : type.mesh.points())
                if (dot(plane.normal, p + scale * (b.rotation * Vector3(v))) > plane.offset) return false;
        }
        return true;
    }
    const col::ConvexShape& shape = *type.mesh.convex();
    const Matrix3 rt = transpose(b.rotation);
    int hint = -1;
    for (uint32_t k = cell.first; k < cell.first + cell.count; ++k) {
        const col::Plane& plane = m_cellPlanes[k];
        const float gap = plane.offset - dot(plane.normal, p);
        if (gap >= r) continue;
        const Vector3 local = rt * plane.normal;
        hint = shape.support(local, hint);
        if (scale * dot(shape.vertices()[static_cast<size_t>(hint)], local) > gap) return false;
    }
    return true;
}

float Shapes::Protrusion(const Body& b, float commonScale) const {
    const float scale = commonScale * b.size;
    const Type& type = *m_types[static_cast<size_t>(b.type)];
    const Vector3& p = b.position;
    bool inBox = true;
    for (int k = 0; k < 3; ++k) inBox = inBox && p[k] >= m_lo[k] && p[k] <= m_hi[k];
    const WallCell* cell = inBox ? &m_cells[CellIndex(p)] : nullptr;
    if (cell != nullptr && cell->clearance >= scale * type.outer) return 0.0f;
    if (m_planes == nullptr) {
        col::ContainmentQuery q;
        q.object = &type.mesh;
        q.X_WO = Pose(b, commonScale);
        q.container = &m_container;
        q.wantDepth = true;
        const col::ContainmentResult r = col::exactContainment(q);
        return r.inside ? 0.0f : r.depth;
    }
    // Near the wall the cell's planes are all that can be crossed; out of the box, or where the
    // whole cell is outside, every plane is asked.
    const col::Plane* first = m_planes->data();
    size_t count = m_planes->size();
    if (cell != nullptr && cell->count > 0) {
        first = m_cellPlanes.data() + cell->first;
        count = cell->count;
    }
    float worst = 0.0f;
    if (type.mesh.convex() == nullptr) {
        for (size_t k = 0; k < count; ++k)
            for (const Vectormath::Aos::Point3& v : type.mesh.points())
                worst = std::max(worst, dot(first[k].normal, p + scale * (b.rotation * Vector3(v))) - first[k].offset);
        return worst;
    }
    const col::ConvexShape& shape = *type.mesh.convex();
    const Matrix3 rt = transpose(b.rotation);
    int hint = -1;
    for (size_t k = 0; k < count; ++k) {
        const col::Plane& plane = first[k];
        const Vector3 local = rt * plane.normal;
        hint = shape.support(local, hint);
        worst = std::max(worst, dot(plane.normal, p) + scale * dot(shape.vertices()[static_cast<size_t>(hint)], local) -
                                    plane.offset);
    }
    return worst;
}

}  // namespace Packing::compression
