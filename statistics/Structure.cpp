#include "statistics/Structure.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include "statistics/Cubatic.h"

namespace check {
namespace {

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

constexpr double kPi = 3.14159265358979323846;
constexpr double kSphericalExtents = 1e-2;  // relative spread of box extents below which a type has no axis
constexpr long kMaxDrawsPerSample = 50;     // bulk points are drawn in the shrunk box; most land inside

Point3 Apply(const Matrix4& m, const Point3& p) {
    const Vector4 v = m * p;
    return Point3(v.getX(), v.getY(), v.getZ());
}

struct Extents {
    float lo[3], hi[3];
};

Extents BoxOf(const std::vector<Point3>& points) {
    Extents e{};
    for (int k = 0; k < 3; ++k) {
        e.lo[k] = std::numeric_limits<float>::max();
        e.hi[k] = -std::numeric_limits<float>::max();
    }
    for (const Point3& p : points)
        for (int k = 0; k < 3; ++k) {
            e.lo[k] = std::min(e.lo[k], p[k]);
            e.hi[k] = std::max(e.hi[k], p[k]);
        }
    return e;
}

/// Per object: where it is and how big, world frame.
struct Placed {
    Point3 centre;  ///< enclosing-sphere centre
    float radius, thickness, diameter, scale;
    Matrix4 inverse;
    bool bulk;
};

/// Objects bucketed by enclosing-sphere centre on a uniform grid of cell `cell`.
class CentreGrid {
 public:
    CentreGrid(const std::vector<Placed>& placed, const float lo[3], const float hi[3], float cell) : m_cell(cell) {
        for (int k = 0; k < 3; ++k) {
            m_lo[k] = lo[k];
            m_n[k] = std::max(1, static_cast<int>(std::ceil((hi[k] - lo[k]) / cell)));
        }
        m_cells.resize(static_cast<size_t>(m_n[0]) * m_n[1] * m_n[2]);
        for (size_t i = 0; i < placed.size(); ++i) m_cells[Index(placed[i].centre)].push_back(i);
    }
    /// Calls f(i) for every object whose centre may lie within `reach` of p.
    template <class F>
    void ForNear(const Point3& p, float reach, F&& f) const {
        int lo[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            lo[k] = Clamp(k, p[k] - reach);
            hi[k] = Clamp(k, p[k] + reach);
        }
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int x = lo[0]; x <= hi[0]; ++x)
                    for (size_t i : m_cells[(static_cast<size_t>(z) * m_n[1] + y) * m_n[0] + x]) f(i);
    }

 private:
    int Clamp(int k, float v) const { return std::clamp(static_cast<int>((v - m_lo[k]) / m_cell), 0, m_n[k] - 1); }
    size_t Index(const Point3& p) const {
        return (static_cast<size_t>(Clamp(2, p[2])) * m_n[1] + Clamp(1, p[1])) * m_n[0] + Clamp(0, p[0]);
    }
    float m_cell, m_lo[3];
    int m_n[3];
    std::vector<std::vector<size_t>> m_cells;
};

}  // namespace

double LargestEigenvalue(const double m[9]) {
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) a[i][j] = m[3 * i + j];
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
        if (off < 1e-24) break;
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                if (std::fabs(a[p][q]) < 1e-300) continue;
                const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
                const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) {  // A <- J^T A J
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
            }
    }
    return std::max({a[0][0], a[1][1], a[2][2]});
}

StructureReport AnalyzeStructure(const CheckScene& scene, const std::vector<PlacedObject>& objects,
                                 const StructureOptions& opt) {
    StructureReport r;
    r.objects = objects.size();
    r.containerVolume = scene.container.Volume();
    const CheckMesh& box = scene.container;
    const Extents cbox = BoxOf(box.Points());

    std::vector<Extents> typeBox(scene.types.size());
    for (size_t t = 0; t < scene.types.size(); ++t) typeBox[t] = BoxOf(scene.types[t].Points());

    std::vector<Placed> placed(objects.size());
    std::vector<double> factors(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        const size_t t = static_cast<size_t>(objects[i].type);
        const CheckMesh& mesh = scene.types[t];
        const float s = length(objects[i].model.getCol0().getXYZ());
        factors[i] = s;
        const Extents& e = typeBox[t];
        const float d = std::max({e.hi[0] - e.lo[0], e.hi[1] - e.lo[1], e.hi[2] - e.lo[2]}) * s;
        placed[i] = {Apply(objects[i].model, mesh.Centre()),
                     mesh.Radius() * s,
                     mesh.MinExtent() * s,
                     d,
                     s,
                     inverse(objects[i].model),
                     false};
        r.objectsVolume += double(mesh.Volume()) * s * s * s;
        r.largestDiameter = std::max(r.largestDiameter, double(d));
        r.meanDiameter += d;
    }
    if (r.containerVolume > 0) r.globalFraction = r.objectsVolume / r.containerVolume;
    if (objects.empty()) return r;
    r.sizes = SummarizeSizes(std::move(factors));
    r.meanDiameter /= double(objects.size());
    r.margin = opt.margin >= 0 ? opt.margin : opt.marginDiameters * r.largestDiameter;
    const float margin = static_cast<float>(r.margin);
    auto inBulk = [&](const Point3& p) { return box.Inside(p) && box.SurfaceDistance(p) >= margin; };
    for (Placed& p : placed) p.bulk = inBulk(p.centre);

    float maxRadius = 0;
    for (const Placed& p : placed) maxRadius = std::max(maxRadius, p.radius);
    const CentreGrid grid(placed, cbox.lo, cbox.hi, std::max(2 * maxRadius, 1e-6f));

    // Bulk fraction: a point of the bulk region lies at least the margin inside every face of the
    // container's bounding box, so drawing in the box shrunk by the margin loses no bulk point.
    float lo[3], hi[3];
    double shrunkVolume = 1;
    bool hasBulk = true;
    for (int k = 0; k < 3; ++k) {
        lo[k] = cbox.lo[k] + margin;
        hi[k] = cbox.hi[k] - margin;
        hasBulk = hasBulk && hi[k] > lo[k];
        shrunkVolume *= hi[k] - lo[k];
    }
    if (hasBulk && opt.samples > 0) {
        std::mt19937_64 rng(opt.seed);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        long draws = 0, inside = 0, filled = 0;
        while (inside < opt.samples && draws < kMaxDrawsPerSample * opt.samples) {
            ++draws;
            const Point3 p(lo[0] + (hi[0] - lo[0]) * unit(rng), lo[1] + (hi[1] - lo[1]) * unit(rng),
                           lo[2] + (hi[2] - lo[2]) * unit(rng));
            if (!inBulk(p)) continue;
            ++inside;
            bool hit = false;
            grid.ForNear(p, maxRadius, [&](size_t i) {
                if (hit) return;
                const Placed& o = placed[i];
                if (lengthSqr(p - o.centre) > o.radius * o.radius) return;
                hit = scene.types[static_cast<size_t>(objects[i].type)].Inside(Apply(o.inverse, p));
            });
            filled += hit;
        }
        r.bulkSamples = inside;
        r.bulkVolume = shrunkVolume * double(inside) / double(draws);
        if (inside > 0) {
            r.bulkFraction = double(filled) / double(inside);
            r.bulkFractionError = std::sqrt(r.bulkFraction * (1 - r.bulkFraction) / double(inside));
        }
    }

    // Contacts: exact surface gap below the tolerance of the thinner object.
    std::vector<size_t> contacts(objects.size(), 0);
    for (size_t i = 0; i < objects.size(); ++i) {
        const Placed& a = placed[i];
        grid.ForNear(a.centre, a.radius + maxRadius + 0.01f * a.thickness, [&](size_t j) {
            if (j <= i) return;
            const Placed& b = placed[j];
            const float tol = static_cast<float>(opt.contactTolerance) * std::min(a.thickness, b.thickness);
            const float rr = a.radius + b.radius + tol;
            if (lengthSqr(a.centre - b.centre) > rr * rr) return;
            const col::MeshDistanceResult d = col::meshDistance(
                scene.types[static_cast<size_t>(objects[i].type)].Tree(),
                scene.types[static_cast<size_t>(objects[j].type)].Tree(), b.inverse * objects[i].model);
            if (!d.valid || d.distance * b.scale >= tol) return;
            ++r.contactPairs;
            ++contacts[i];
            ++contacts[j];
        });
    }
    r.meanContacts = 2.0 * double(r.contactPairs) / double(objects.size());
    size_t bulkContacts = 0;
    for (size_t i = 0; i < objects.size(); ++i)
        if (placed[i].bulk) {
            ++r.bulkObjects;
            bulkContacts += contacts[i];
        }
    if (r.bulkObjects > 0) r.bulkMeanContacts = double(bulkContacts) / double(r.bulkObjects);

    // g(r): references in the bulk, every neighbour counts; shells stay inside the container.
    const double bin = opt.rdfBinDiameters * r.meanDiameter;
    const int bins = bin > 0 ? static_cast<int>(std::floor(r.margin / bin * (1 + 1e-6))) : 0;
    if (r.bulkObjects > 0 && r.bulkVolume > 0 && bins > 0) {
        std::vector<double> counts(static_cast<size_t>(bins), 0.0);
        for (const Placed& a : placed) {
            if (!a.bulk) continue;
            grid.ForNear(a.centre, margin, [&](size_t j) {
                const double dist = length(placed[j].centre - a.centre);
                const int k = static_cast<int>(dist / bin);
                if (dist > 0 && k < bins) counts[static_cast<size_t>(k)] += 1;
            });
        }
        // Number density of the centres, from those in the bulk region.
        const double density = double(r.bulkObjects) / r.bulkVolume;
        for (int k = 0; k < bins; ++k) {
            const double r0 = k * bin, r1 = r0 + bin;
            const double shell = 4.0 / 3.0 * kPi * (r1 * r1 * r1 - r0 * r0 * r0);
            r.rdfR.push_back((r0 + bin / 2) / r.meanDiameter);
            r.rdfG.push_back(counts[static_cast<size_t>(k)] / (double(r.bulkObjects) * density * shell));
        }
    }

    // Orientational order per type: of the shortest box axis where the extents differ, of all three
    // box axes where they agree and the mesh is not round about them.
    for (size_t t = 0; t < scene.types.size(); ++t) {
        const Extents& e = typeBox[t];
        const float ext[3] = {e.hi[0] - e.lo[0], e.hi[1] - e.lo[1], e.hi[2] - e.lo[2]};
        const float longest = std::max({ext[0], ext[1], ext[2]});
        const int axis = static_cast<int>(std::min_element(ext, ext + 3) - ext);
        if (longest <= 0) continue;
        const bool cubic = (longest - ext[axis]) / longest < kSphericalExtents;
        if (cubic && !HasCubicAxes(scene.types[t].Points())) continue;
        TypeOrder to;
        to.type = static_cast<int>(t);
        to.kind = cubic ? OrderKind::Cubatic : OrderKind::Nematic;
        double q[2][9] = {};
        std::vector<Matrix3> frames[2];
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i].type != static_cast<int>(t)) continue;
            ++to.count;
            to.bulkCount += placed[i].bulk;
            if (cubic) {
                for (int set = 0; set < (placed[i].bulk ? 2 : 1); ++set)
                    frames[set].push_back(objects[i].model.getUpper3x3());
                continue;
            }
            const Vector3 u = normalize(objects[i].model.getCol(axis).getXYZ());
            const double uu[3] = {u.getX(), u.getY(), u.getZ()};
            for (int set = 0; set < (placed[i].bulk ? 2 : 1); ++set)
                for (int a = 0; a < 3; ++a)
                    for (int b = 0; b < 3; ++b) q[set][3 * a + b] += 1.5 * uu[a] * uu[b] - (a == b ? 0.5 : 0.0);
        }
        if (to.count == 0) continue;
        if (cubic) {
            to.order = CubaticOrder(frames[0]);
            to.bulkOrder = CubaticOrder(frames[1]);
        } else {
            for (double& v : q[0]) v /= double(to.count);
            to.order = LargestEigenvalue(q[0]);
            if (to.bulkCount > 0) {
                for (double& v : q[1]) v /= double(to.bulkCount);
                to.bulkOrder = LargestEigenvalue(q[1]);
            }
        }
        r.order.push_back(to);
    }

    const CheckResult checked = CheckPacking(scene, objects);
    for (const PairFinding& p : checked.pairs)
        if (p.relative > r.worstPenetrationRelative) {
            r.worstPenetrationRelative = p.relative;
            r.worstPenetration = p.depth;
        }
    for (const OutsideFinding& o : checked.outside)
        r.worstProtrusionRelative = std::max(r.worstProtrusionRelative, double(o.relative));
    return r;
}

SizeSummary SummarizeSizes(std::vector<double> factors) {
    SizeSummary s;
    if (factors.empty()) return s;
    std::sort(factors.begin(), factors.end());
    const double n = static_cast<double>(factors.size());
    for (double f : factors) s.mean += f / n;
    for (double f : factors) s.sd += (f - s.mean) * (f - s.mean) / n;
    s.sd = std::sqrt(s.sd);
    auto quantile = [&](double q) {
        const double at = q * (n - 1.0);
        const size_t i = static_cast<size_t>(at);
        const double w = at - static_cast<double>(i);
        return i + 1 < factors.size() ? factors[i] * (1.0 - w) + factors[i + 1] * w : factors[i];
    };
    s.min = factors.front();
    s.q10 = quantile(0.1);
    s.median = quantile(0.5);
    s.q90 = quantile(0.9);
    s.max = factors.back();
    return s;
}

JsonValue StructureToJson(const StructureReport& r, const std::vector<std::string>& typeNames) {
    JsonValue order = JsonValue::array();
    for (const TypeOrder& t : r.order) {
        const bool cubatic = t.kind == OrderKind::Cubatic;
        const size_t k = static_cast<size_t>(t.type);
        order.push_back({{"name", k < typeNames.size() ? typeNames[k] : ""},
                         {"count", t.count},
                         {cubatic ? "cubaticOrder" : "nematicOrder", JsonNumber(t.order)},
                         {"bulkCount", t.bulkCount},
                         {cubatic ? "bulkCubaticOrder" : "bulkNematicOrder", JsonNumber(t.bulkOrder)}});
    }
    auto numbers = [](const std::vector<double>& values) {
        JsonValue a = JsonValue::array();
        for (const double v : values) a.push_back(JsonNumber(v));
        return a;
    };
    return {{"objects", r.objects},
            {"containerVolume", JsonNumber(r.containerVolume)},
            {"objectsVolume", JsonNumber(r.objectsVolume)},
            {"globalFraction", JsonNumber(r.globalFraction)},
            {"largestDiameter", JsonNumber(r.largestDiameter)},
            {"meanDiameter", JsonNumber(r.meanDiameter)},
            {"sizeFactors",
             {{"mean", JsonNumber(r.sizes.mean)},
              {"sd", JsonNumber(r.sizes.sd)},
              {"min", JsonNumber(r.sizes.min)},
              {"q10", JsonNumber(r.sizes.q10)},
              {"median", JsonNumber(r.sizes.median)},
              {"q90", JsonNumber(r.sizes.q90)},
              {"max", JsonNumber(r.sizes.max)}}},
            {"margin", JsonNumber(r.margin)},
            {"bulkVolume", JsonNumber(r.bulkVolume)},
            {"bulkFraction", JsonNumber(r.bulkFraction)},
            {"bulkFractionError", JsonNumber(r.bulkFractionError)},
            {"bulkSamples", r.bulkSamples},
            {"contactPairs", r.contactPairs},
            {"meanContacts", JsonNumber(r.meanContacts)},
            {"bulkObjects", r.bulkObjects},
            {"bulkMeanContacts", JsonNumber(r.bulkMeanContacts)},
            {"worstPenetration", JsonNumber(r.worstPenetration)},
            {"worstPenetrationRelative", JsonNumber(r.worstPenetrationRelative)},
            {"worstProtrusionRelative", JsonNumber(r.worstProtrusionRelative)},
            {"order", order},
            {"rdfR", numbers(r.rdfR)},
            {"rdfG", numbers(r.rdfG)}};
}

}  // namespace check
