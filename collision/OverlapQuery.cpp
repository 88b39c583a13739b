#include "collision/OverlapQuery.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "collision/CullTree.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace col {

float lensVolume(float d, float r1, float r2) {
    const double a = r1, b = r2, dd = d;
    if (dd >= a + b) return 0.0f;
    if (dd <= std::fabs(a - b)) {
        const double r = std::min(a, b);
        return static_cast<float>(4.0 / 3.0 * M_PI * r * r * r);
    }
    const double s = a + b - dd;
    return static_cast<float>(M_PI * s * s * (dd * dd + 2.0 * dd * (a + b) - 3.0 * (a - b) * (a - b)) / (12.0 * dd));
}

void PosedTree::set(const SphereTree* t, const Matrix4& X_WM, float geometryScale) {
    tree = t;
    geomScale = geometryScale;
    double m[3][4];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            m[r][c] = X_WM.getElem(c, r);
            toWorld[r * 4 + c] = static_cast<float>(m[r][c]);
        }
    modelScale = static_cast<float>(std::sqrt(m[0][0] * m[0][0] + m[1][0] * m[1][0] + m[2][0] * m[2][0]));
    radiusScale = (std::fabs(modelScale - 1.0f) <= kUnitScaleTolerance ? 1.0f : modelScale) * geometryScale;
    // General 3x3 inverse by cofactors: the model matrix is affine, possibly scaled.
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    const double id = det != 0.0 ? 1.0 / det : 0.0;
    double inv[3][3] = {
        {c00 * id, (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * id, (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * id},
        {c01 * id, (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * id, (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * id},
        {c02 * id, (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * id, (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * id}};
    for (int r = 0; r < 3; ++r) {
        const double tr = -(inv[r][0] * m[0][3] + inv[r][1] * m[1][3] + inv[r][2] * m[2][3]);
        for (int c = 0; c < 3; ++c) fromWorld[r * 4 + c] = static_cast<float>(inv[r][c]);
        fromWorld[r * 4 + 3] = static_cast<float>(tr);
    }
}

void PosedTree::worldSphere(float outCentre[3], float& outRadius) const {
    if (!tree || tree->empty()) {
        outCentre[0] = outCentre[1] = outCentre[2] = 0;
        outRadius = -1;
        return;
    }
    // The cull tree's root is fitted to the leaves; a file's root sphere may be far looser
    // (0.83 around the leaves of a unit-diameter sphere), and every pair it lets through costs
    // a query.
    const CullTree& t = tree->cull();
    const float x = t.rootX, y = t.rootY, z = t.rootZ;
    for (int r = 0; r < 3; ++r)
        outCentre[r] = toWorld[r * 4] * x + toWorld[r * 4 + 1] * y + toWorld[r * 4 + 2] * z + toWorld[r * 4 + 3];
    // Centres scale with k, radii with k * s: the larger bounds both.
    outRadius = std::max(modelScale, radiusScale) * t.rootR * (1.0f + 1e-5f);
}

namespace {

// Four float lanes: SSE where available, plain arrays elsewhere; one code path for both.
#if defined(__SSE2__)
struct F4 {
    __m128 v;
    static F4 load(const float* p) { return {_mm_loadu_ps(p)}; }
    static F4 set(float x) { return {_mm_set1_ps(x)}; }
    /// All bits set in the lanes whose integer is negative.
    static F4 negative(const int32_t* p) {
        return {_mm_castsi128_ps(_mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 31))};
    }
    friend F4 operator+(F4 a, F4 b) { return {_mm_add_ps(a.v, b.v)}; }
    friend F4 operator-(F4 a, F4 b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend F4 operator*(F4 a, F4 b) { return {_mm_mul_ps(a.v, b.v)}; }
    /// The second operand when either is NaN.
    static F4 max(F4 a, F4 b) { return {_mm_max_ps(a.v, b.v)}; }
    static F4 select(F4 m, F4 a, F4 b) { return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))}; }
    friend unsigned operator<(F4 a, F4 b) { return static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(a.v, b.v))); }
    unsigned signs() const { return static_cast<unsigned>(_mm_movemask_ps(v)); }
    void store(float* p) const { _mm_storeu_ps(p, v); }
};
#else
struct F4 {
    float v[4];
    static F4 load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
    static F4 set(float x) { return {{x, x, x, x}}; }
    static F4 negative(const int32_t* p) {
        F4 r;
        for (int i = 0; i < 4; ++i) {
            const uint32_t bits = p[i] < 0 ? ~0u : 0u;
            std::memcpy(&r.v[i], &bits, sizeof bits);
        }
        return r;
    }
#define DP_F4_OP(op)                                                                       \
    friend F4 operator op(F4 a, F4 b) {                                                    \
        return {{a.v[0] op b.v[0], a.v[1] op b.v[1], a.v[2] op b.v[2], a.v[3] op b.v[3]}}; \
    }
    DP_F4_OP(+)
    DP_F4_OP(-)
    DP_F4_OP(*)
#undef DP_F4_OP
    static F4 max(F4 a, F4 b) {
        F4 r;
        for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] > b.v[i] ? a.v[i] : b.v[i];
        return r;
    }
    static F4 select(F4 m, F4 a, F4 b) {
        F4 r;
        for (int i = 0; i < 4; ++i) r.v[i] = std::signbit(m.v[i]) || std::isnan(m.v[i]) ? a.v[i] : b.v[i];
        return r;
    }
    friend unsigned operator<(F4 a, F4 b) {
        unsigned m = 0;
        for (int i = 0; i < 4; ++i) m |= (a.v[i] < b.v[i] ? 1u : 0u) << i;
        return m;
    }
    unsigned signs() const {
        unsigned m = 0;
        for (int i = 0; i < 4; ++i) m |= (std::signbit(v[i]) ? 1u : 0u) << i;
        return m;
    }
    void store(float* p) const { std::memcpy(p, v, sizeof v); }
};
#endif

// Upper bound on the lens volume of two spheres of radii r1, r2 penetrating by p, in float and
// without cancellation: pi p^2 (d^2 + 2d(r1+r2) - 3(r1-r2)^2) / (12 d) <= pi p^2 (r1+r2) / 4 for
// d <= r1 + r2, and no lens exceeds the smaller ball. Rounding is covered by the factor.
inline float lensBound(float p, float r1, float r2) {
    if (!(p > 0)) return 0.0f;
    const float m = std::min(r1, r2);
    constexpr float kPi = 3.14159265f;
    return std::min(4.0f / 3.0f * kPi * m * m * m, 0.25f * kPi * p * p * (r1 + r2)) * (1.0f + 1e-4f);
}

struct Reporter {
    const SphereTree* t1;
    const SphereTree* t2;
    const int32_t* leafNode1;
    const int32_t* leafNode2;
    const float* leafRadius1;  // the cull trees' copies of the file radii
    const float* leafRadius2;
    float scale1, scale2, worldPerFrame1;
    OverlapResult* out;
    bool contactsOnly;
    float largest = 0;  ///< largest lens volume reported so far

    /// Lens volumes below this can be left out (0 while every pair is wanted).
    float cut() const { return contactsOnly ? kContactShare * largest : 0.0f; }

    // Leaves by their index in the cull trees; the result names the file's nodes.
    void report(int32_t leaf1, int32_t leaf2, float d2) {
        const float r1 = leafRadius1[leaf1] * scale1, r2 = leafRadius2[leaf2] * scale2;
        const float d = worldPerFrame1 * std::sqrt(d2);
        // Most pairs below the cut fail the cheap bound (its depth padded by a few roundings)
        // before the exact volume in double and the file's nodes are touched.
        if (lensBound(r1 + r2 - d + 1e-6f * (r1 + r2), r1, r2) < cut()) return;
        const SphereNode& n1 = t1->node(leafNode1[leaf1]);
        const SphereNode& n2 = t2->node(leafNode2[leaf2]);
        const float lens = lensVolume(d, r1, r2);
        if (lens < cut()) return;
        largest = std::max(largest, lens);
        out->intersections.push_back(SphereIntersectionData{n1.center, r1, n2.center, r2});
        out->nodePairs.push_back(NodePair{&n1, &n2});
        out->lensVolumes.push_back(lens);
        out->overlap += lens;
    }
};

// One side of a pair query: its cull tree and the factors that take its radii into tree 1's frame.
struct Side {
    const CullTree* t;
    float fInner, fLeaf;
    float radius(int32_t ref) const { return ref < 0 ? fLeaf * t->lr[size_t(~ref)] : fInner * t->nr[size_t(ref)]; }
    /// Largest leaf radius at or below the reference, in tree 1's frame.
    float largestLeaf(int32_t ref) const { return fLeaf * (ref < 0 ? t->lr[size_t(~ref)] : t->nm[size_t(ref)]); }
    F4 childRadii(const CullTree::Node& n) const {
        return F4::load(n.r) * F4::select(F4::negative(n.child), F4::set(fLeaf), F4::set(fInner));
    }
};

// Separating-axis test of the two trees' leaf boxes, tree 2's mapped by T (a similarity) into
// tree 1's frame: 15 axes, each with the slack eps. For boxy shapes at touching poses the gap
// between two faces shows on one axis, where the traversal opened a dozen node pairs to find it.
bool boxesApart(const CullTree& A, const CullTree& B, const float T[12], float eps) {
    const float s = std::sqrt(T[0] * T[0] + T[4] * T[4] + T[8] * T[8]);
    if (!(s > 0)) return false;
    // The axes of tree 2's box are only its mapped edges under a rotation times a scale.
    for (int j = 0; j < 3; ++j)
        for (int k = j; k < 3; ++k) {
            const float dot = T[j] * T[k] + T[4 + j] * T[4 + k] + T[8 + j] * T[8 + k];
            if (std::fabs(dot - (j == k ? s * s : 0.0f)) > 1e-4f * s * s) return false;
        }
    float ha[3], hb[3], cb[3], R[3][3], AR[3][3], d[3];
    for (int i = 0; i < 3; ++i) {
        ha[i] = 0.5f * (A.rootHi[i] - A.rootLo[i]);
        hb[i] = 0.5f * s * (B.rootHi[i] - B.rootLo[i]);
        cb[i] = 0.5f * (B.rootHi[i] + B.rootLo[i]);
    }
    for (int i = 0; i < 3; ++i) {
        d[i] = T[i * 4] * cb[0] + T[i * 4 + 1] * cb[1] + T[i * 4 + 2] * cb[2] + T[i * 4 + 3] -
               0.5f * (A.rootHi[i] + A.rootLo[i]);
        for (int j = 0; j < 3; ++j) {
            R[i][j] = T[i * 4 + j] / s;
            AR[i][j] = std::fabs(R[i][j]) + 1e-6f;  // near-parallel edges: no false axis
        }
    }
    for (int i = 0; i < 3; ++i)
        if (std::fabs(d[i]) > ha[i] + AR[i][0] * hb[0] + AR[i][1] * hb[1] + AR[i][2] * hb[2] + eps) return true;
    for (int j = 0; j < 3; ++j)
        if (std::fabs(R[0][j] * d[0] + R[1][j] * d[1] + R[2][j] * d[2]) >
            ha[0] * AR[0][j] + ha[1] * AR[1][j] + ha[2] * AR[2][j] + hb[j] + eps)
            return true;
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            const float ra = ha[i1] * AR[i2][j] + ha[i2] * AR[i1][j];
            const float rb = hb[j1] * AR[i][j2] + hb[j2] * AR[i][j1];
            if (std::fabs(d[i2] * R[i1][j] - d[i1] * R[i2][j]) > ra + rb + eps) return true;
        }
    }
    return false;
}

// Node boxes against each other along both trees' axes (tree 2's mapped by T, a rotation times
// s). Leaf spheres below two node boxes penetrate no deeper than the boxes' overlap along any
// axis, so this both separates faces that lie side by side, where every node sphere bulges
// across the gap, and bounds the depth for the contact cut.
struct BoxPair {
    const float* T;
    float s = 0;
    bool on = false;  ///< boxes hold their leaves and T is a similarity
    float Rm[9], Ra[9];

    BoxPair(const float T12[12], bool boxesHold) : T(T12) {
        s = std::sqrt(T[0] * T[0] + T[4] * T[4] + T[8] * T[8]);
        on = boxesHold && s > 0;
        for (int j = 0; j < 3 && on; ++j)
            for (int k = j; k < 3; ++k) {
                const float dot = T[j] * T[k] + T[4 + j] * T[4 + k] + T[8 + j] * T[8 + k];
                if (std::fabs(dot - (j == k ? s * s : 0.0f)) > 1e-4f * s * s) on = false;
            }
        for (int i = 0; i < 9; ++i) {
            Rm[i] = on ? T[i / 3 * 4 + i % 3] / s : 0.0f;
            Ra[i] = std::fabs(Rm[i]) + 1e-6f;  // near-parallel edges: no false axis
        }
    }

    /// Smallest overlap of boxes ba (tree 1) and bb (tree 2), centre and half extents each, over
    /// the six face axes, in tree 1's frame; negative when apart. Kept out of line: the
    /// traversal's loop runs faster without it.
    [[gnu::noinline]] float overlap(const float* ba, const float* bb) const {
        const float hb[3] = {s * bb[3], s * bb[4], s * bb[5]};
        float d[3], o = std::numeric_limits<float>::infinity();
        for (int i = 0; i < 3; ++i) {
            d[i] = T[i * 4] * bb[0] + T[i * 4 + 1] * bb[1] + T[i * 4 + 2] * bb[2] + T[i * 4 + 3] - ba[i];
            const float* r = &Ra[i * 3];
            o = std::min(o, ba[3 + i] + r[0] * hb[0] + r[1] * hb[1] + r[2] * hb[2] - std::fabs(d[i]));
        }
        for (int j = 0; j < 3; ++j) {
            const float p = Rm[j] * d[0] + Rm[3 + j] * d[1] + Rm[6 + j] * d[2];
            o = std::min(o, hb[j] + Ra[j] * ba[3] + Ra[3 + j] * ba[4] + Ra[6 + j] * ba[5] - std::fabs(p));
        }
        return o;
    }
};

// Whether a plane proves the two trees' leaf sets apart, tree 2's mapped by b.T (a similarity)
// into tree 1's frame, rA and rB the leaf radius factors there: the support bounds of both sets
// along an axis, from the centre line and the six box axes, then climbing over nearby directions.
// Rounded shapes a few hundredths apart pass every box test and cost a hundred node pairs.
bool supportsApart(const CullTree& A, const CullTree& B, const BoxPair& b, float rA, float rB, float eps) {
    if (!b.on || A.support.empty() || B.support.empty()) return false;
    const float* T = b.T;
    const float t[3] = {T[3], T[7], T[11]};
    const float maxA = A.nm.empty() ? 0.0f : A.nm[0], maxB = B.nm.empty() ? 0.0f : B.nm[0];
    // v.t less B's support along -v less A's along v; the tables hold radii at unit scale, so a
    // radius factor above the direction's length is added on the largest leaf.
    auto margin = [&](const float v[3]) {
        const float lv = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        float w[3];
        for (int j = 0; j < 3; ++j) w[j] = -(T[j] * v[0] + T[4 + j] * v[1] + T[8 + j] * v[2]);
        const float lw = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
        const float hA = A.supportBound(v[0], v[1], v[2]) + std::max(0.0f, rA - 1.0f) * lv * maxA;
        const float hB = B.supportBound(w[0], w[1], w[2]) + std::max(0.0f, rB * lv - lw) * maxB;
        return (v[0] * t[0] + v[1] * t[1] + v[2] * t[2] - hA - hB) / lv;
    };
    float c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = T[i * 4] * B.rootX + T[i * 4 + 1] * B.rootY + T[i * 4 + 2] * B.rootZ + t[i] -
               (i == 0   ? A.rootX
                : i == 1 ? A.rootY
                         : A.rootZ);
    float best[3] = {c[0], c[1], c[2]};
    float bestMargin = margin(best);
    for (int k = 0; k < 6 && bestMargin <= eps; ++k) {
        float v[3] = {0, 0, 0};
        if (k < 3)
            v[k] = 1;
        else
            for (int i = 0; i < 3; ++i) v[i] = b.Rm[i * 3 + k - 3];
        const float side = v[0] * c[0] + v[1] * c[1] + v[2] * c[2] < 0 ? -1.0f : 1.0f;
        for (float& x : v) x *= side;
        const float m = margin(v);
        if (m > bestMargin) bestMargin = m, std::copy(v, v + 3, best);
    }
    // Climb: four directions a step off the best, the step halved when none is better.
    float step = 0.15f;
    const float reach = A.rootR + b.s * B.rootR;
    for (int it = 0; it < 8 && bestMargin <= eps; ++it) {
        const float len = std::sqrt(best[0] * best[0] + best[1] * best[1] + best[2] * best[2]);
        const float u[3] = {best[0] / len, best[1] / len, best[2] / len};
        const float o[3] = {std::fabs(u[0]) < 0.6f ? 1.0f : 0.0f, std::fabs(u[0]) < 0.6f ? 0.0f : 1.0f, 0.0f};
        float p[3] = {u[1] * o[2] - u[2] * o[1], u[2] * o[0] - u[0] * o[2], u[0] * o[1] - u[1] * o[0]};
        const float lp = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        for (float& x : p) x /= lp;
        const float q[3] = {u[1] * p[2] - u[2] * p[1], u[2] * p[0] - u[0] * p[2], u[0] * p[1] - u[1] * p[0]};
        bool better = false;
        for (int k = 0; k < 4; ++k) {
            const float* d = k < 2 ? p : q;
            const float sign = k % 2 ? -step : step;
            const float v[3] = {u[0] + sign * d[0], u[1] + sign * d[1], u[2] + sign * d[2]};
            const float m = margin(v);
            if (m > bestMargin) bestMargin = m, std::copy(v, v + 3, best), better = true;
        }
        // Near the best axis a turn by the step gains far less than the step times the sets'
        // reach: a pair still short of a gap by a tenth of that is left to the descent (such
        // pairs overlap; on the M&M packing no pair proved apart is lost).
        if (!better && (step *= 0.5f) * 0.1f * reach < -bestMargin) break;
    }
    return bestMargin > eps;
}

}  // namespace

namespace {

void queryPairs(const PosedTree& t1, const PosedTree& t2, OverlapScratch& scratch, OverlapResult& out,
                bool contactsOnly) {
    if (!t1.tree || !t2.tree || t1.tree->empty() || t2.tree->empty()) return;
    const CullTree& A = t1.tree->cull();
    const CullTree& B = t2.tree->cull();

    // T maps tree 2's model frame into tree 1's (distances there are world distances / k1), U the
    // other way (world distances / k2), for the boxes of tree 2.
    float T[12], U[12];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            double v = c == 3 ? t1.fromWorld[r * 4 + 3] : 0.0, w = c == 3 ? t2.fromWorld[r * 4 + 3] : 0.0;
            for (int k = 0; k < 3; ++k) {
                v += double(t1.fromWorld[r * 4 + k]) * t2.toWorld[k * 4 + c];
                w += double(t2.fromWorld[r * 4 + k]) * t1.toWorld[k * 4 + c];
            }
            T[r * 4 + c] = static_cast<float>(v);
            U[r * 4 + c] = static_cast<float>(w);
        }
    const float k1 = t1.modelScale > 0 ? t1.modelScale : 1.0f;
    const float k2 = t2.modelScale > 0 ? t2.modelScale : 1.0f;
    // An inner node's sphere holds its leaves scaled by the larger of the centres' and the
    // radii's factor.
    const Side sa{&A, std::max(k1, t1.radiusScale) / k1, t1.radiusScale / k1};
    const Side sb{&B, std::max(k2, t2.radiusScale) / k1, t2.radiusScale / k1};
    Reporter rep{t1.tree,     t2.tree,     A.leafNode.data(), B.leafNode.data(),
                 A.lr.data(), B.lr.data(), t1.radiusScale,    t2.radiusScale,
                 k1,          &out,        contactsOnly};

    // Slack for float rounding in the inner-node tests only; leaf pairs get the exact test.
    const float tlen = std::sqrt(T[3] * T[3] + T[7] * T[7] + T[11] * T[11]);
    const float eps = 1e-5f * (1.0f + tlen + sa.fInner * A.rootR + sb.fInner * B.rootR);
    const F4 EPS = F4::set(eps), ZERO = F4::set(0.0f);
    // A box holds its leaves only while radii grow no faster than centres; otherwise its test is
    // skipped and the spheres alone cull. An unscaled pose keeps radii of 1 with centres scaled
    // by up to 1 - kUnitScaleTolerance: its leaves then stick out of the box by at most that
    // share of a radius, which eps covers.
    const bool boxA = t1.radiusScale <= k1 * (1.0f + kUnitScaleTolerance);
    const bool boxB = t2.radiusScale <= k2 * (1.0f + kUnitScaleTolerance);
    const float toB = k1 / k2;  // tree 1 frame lengths into tree 2 frame lengths

    const F4 T0 = F4::set(T[0]), T1 = F4::set(T[1]), T2 = F4::set(T[2]), T3 = F4::set(T[3]);
    const F4 T4 = F4::set(T[4]), T5 = F4::set(T[5]), T6 = F4::set(T[6]), T7 = F4::set(T[7]);
    const F4 T8 = F4::set(T[8]), T9 = F4::set(T[9]), T10 = F4::set(T[10]), T11 = F4::set(T[11]);
    auto xform = [&](const CullTree::Node& n, F4& x, F4& y, F4& z) {
        const F4 px = F4::load(n.cx), py = F4::load(n.cy), pz = F4::load(n.cz);
        x = T0 * px + T1 * py + T2 * pz + T3;
        y = T4 * px + T5 * py + T6 * pz + T7;
        z = T8 * px + T9 * py + T10 * pz + T11;
    };
    auto intoB = [&](float x, float y, float z, float o[3]) {
        for (int r = 0; r < 3; ++r) o[r] = U[r * 4] * x + U[r * 4 + 1] * y + U[r * 4 + 2] * z + U[r * 4 + 3];
    };
    // Lanes whose box (model frame of its tree) comes closer than rr to the point p.
    auto boxHits = [&](const CullTree::Node& n, F4 px, F4 py, F4 pz, F4 rr) {
        const F4 ex = F4::max(F4::max(F4::load(n.lo[0]) - px, px - F4::load(n.hi[0])), ZERO);
        const F4 ey = F4::max(F4::max(F4::load(n.lo[1]) - py, py - F4::load(n.hi[1])), ZERO);
        const F4 ez = F4::max(F4::max(F4::load(n.lo[2]) - pz, pz - F4::load(n.hi[2])), ZERO);
        return (ex * ex + ey * ey + ez * ez) < rr * rr;
    };
    // One lane's box against four points.
    auto laneBoxHits = [&](const CullTree::Node& n, int i, F4 px, F4 py, F4 pz, F4 rr) {
        const F4 ex = F4::max(F4::max(F4::set(n.lo[0][i]) - px, px - F4::set(n.hi[0][i])), ZERO);
        const F4 ey = F4::max(F4::max(F4::set(n.lo[1][i]) - py, py - F4::set(n.hi[1][i])), ZERO);
        const F4 ez = F4::max(F4::max(F4::set(n.lo[2][i]) - pz, pz - F4::set(n.hi[2][i])), ZERO);
        return (ex * ex + ey * ey + ez * ez) < rr * rr;
    };
    const BoxPair boxes(T, boxA && boxB);
    auto centreA = [&](int32_t ref, float& x, float& y, float& z) {
        if (ref < 0)
            x = A.lx[size_t(~ref)], y = A.ly[size_t(~ref)], z = A.lz[size_t(~ref)];
        else
            x = A.nx[size_t(ref)], y = A.ny[size_t(ref)], z = A.nz[size_t(ref)];
    };

    // Two inner nodes open together (two levels per pop halve the pops), unless one is more than
    // this many times the other: then only the larger opens, so that a container's wall nodes
    // are cut down to the object's size before the object's own nodes multiply the pairs.
    constexpr float kOpenAlone = 2.0f;
    // Every pop pushes at most 4 x 4 entries and removes one, so per level of either tree the
    // stack grows by at most 15.
    const size_t capacity = static_cast<size_t>(16 * (A.depth + B.depth + 2));
    OverlapScratch::Entry* stack = scratch.reserve(capacity);
    int sp = 0;
    {
        const float bx = T[0] * B.rootX + T[1] * B.rootY + T[2] * B.rootZ + T[3];
        const float by = T[4] * B.rootX + T[5] * B.rootY + T[6] * B.rootZ + T[7];
        const float bz = T[8] * B.rootX + T[9] * B.rootY + T[10] * B.rootZ + T[11];
        const float dx = A.rootX - bx, dy = A.rootY - by, dz = A.rootZ - bz;
        const float d2 = dx * dx + dy * dy + dz * dz;
        const float R = sa.radius(A.root) + sb.radius(B.root);
        if (A.root < 0 && B.root < 0) {
            if (d2 < R * R) rep.report(~A.root, ~B.root, d2);
            return;
        }
        if (d2 >= (R + eps) * (R + eps)) return;
        // A container's box holds every object: only objects' boxes can prove anything.
        if (boxA && boxB && t1.tree->kind() != SphereTreeKind::Container &&
            t2.tree->kind() != SphereTreeKind::Container &&
            (boxesApart(A, B, T, eps) ||
             ((A.rounded || B.rounded) && supportsApart(A, B, boxes, sa.fLeaf, sb.fLeaf, eps))))
            return;
        stack[sp++] = {A.root, B.root, bx, by, bz};
    }

    while (sp > 0) {
        const OverlapScratch::Entry e = stack[--sp];
        ++out.visited;
        const int32_t a = e.a, b = e.b;
        const float ra = sa.radius(a), rb = sb.radius(b);
        float boxDepth = std::numeric_limits<float>::infinity();
        if (boxes.on && a >= 0 && b >= 0 && (A.nflat[size_t(a)] | B.nflat[size_t(b)])) {
            boxDepth = boxes.overlap(&A.nbox[6 * size_t(a)], &B.nbox[6 * size_t(b)]);
            if (boxDepth < -eps) continue;
        }
        if (rep.largest > 0 && contactsOnly) {
            // No leaf pair below reaches deeper than the two node spheres or boxes do, and the
            // lens of given depth only grows with the radii: bounded by the largest leaves at
            // that depth.
            float cx, cy, cz;
            centreA(a, cx, cy, cz);
            const float dx = cx - e.bx, dy = cy - e.by, dz = cz - e.bz;
            const float depth = k1 * (std::min(ra + rb - std::sqrt(dx * dx + dy * dy + dz * dz), boxDepth) + eps);
            const float la = k1 * sa.largestLeaf(a), lb = k1 * sb.largestLeaf(b);
            const float cut = rep.cut();
            if (lensBound(depth, la, lb) < cut ||
                lensVolume(std::max(0.0f, la + lb - depth), la, lb) * (1.0f + 1e-4f) < cut)
                continue;
        }
        const F4 bx = F4::set(e.bx), by = F4::set(e.by), bz = F4::set(e.bz);
        if (a >= 0 && b >= 0 && ra <= kOpenAlone * rb && rb <= kOpenAlone * ra) {
            // Both inner: cull each side's children against the other's sphere, then test the
            // surviving children pairwise. Two levels per pop halve the pops.
            const CullTree::Node& na = A.nodes[size_t(a)];
            const CullTree::Node& nb = B.nodes[size_t(b)];
            const F4 ax = F4::load(na.cx), ay = F4::load(na.cy), az = F4::load(na.cz), ar = sa.childRadii(na);
            F4 x, y, z;
            xform(nb, x, y, z);
            const F4 br = sb.childRadii(nb);
            const F4 dax = ax - bx, day = ay - by, daz = az - bz, Ra = ar + F4::set(rb) + EPS;
            unsigned ma = (dax * dax + day * day + daz * daz) < Ra * Ra;
            if (boxA) ma &= boxHits(na, bx, by, bz, F4::set(rb + eps));
            const F4 ox = F4::set(A.nx[size_t(a)]), oy = F4::set(A.ny[size_t(a)]), oz = F4::set(A.nz[size_t(a)]);
            const F4 dbx = x - ox, dby = y - oy, dbz = z - oz, Rb = br + F4::set(ra) + EPS;
            unsigned mb = (dbx * dbx + dby * dby + dbz * dbz) < Rb * Rb;
            float ub[3];
            if (boxB) {
                intoB(A.nx[size_t(a)], A.ny[size_t(a)], A.nz[size_t(a)], ub);
                mb &= boxHits(nb, F4::set(ub[0]), F4::set(ub[1]), F4::set(ub[2]), F4::set((ra + eps) * toB));
            }
            if (!ma || !mb) continue;
            const unsigned leavesA = F4::negative(na.child).signs(), leavesB = F4::negative(nb.child).signs();
            float xs[4], ys[4], zs[4], ars[4];
            x.store(xs), y.store(ys), z.store(zs), ar.store(ars);
            float uxs[4], uys[4], uzs[4];
            if (boxB) {
                // A's children in tree 2's frame, for B's boxes.
                const F4 U0 = F4::set(U[0]), U1 = F4::set(U[1]), U2 = F4::set(U[2]), U4 = F4::set(U[4]);
                const F4 U5 = F4::set(U[5]), U6 = F4::set(U[6]), U8 = F4::set(U[8]), U9 = F4::set(U[9]);
                const F4 U10 = F4::set(U[10]);
                (U0 * ax + U1 * ay + U2 * az + F4::set(U[3])).store(uxs);
                (U4 * ax + U5 * ay + U6 * az + F4::set(U[7])).store(uys);
                (U8 * ax + U9 * ay + U10 * az + F4::set(U[11])).store(uzs);
            }
            for (; ma; ma &= ma - 1) {
                const int i = std::countr_zero(ma);
                const F4 dx = x - F4::set(na.cx[i]), dy = y - F4::set(na.cy[i]), dz = z - F4::set(na.cz[i]);
                const F4 d2 = dx * dx + dy * dy + dz * dz, R = br + F4::set(ars[i]), Re = R + EPS;
                unsigned m = (d2 < Re * Re) & mb;
                if (!m) continue;
                if (boxA) m &= laneBoxHits(na, i, x, y, z, br + EPS);
                if (boxB)
                    m &= boxHits(nb, F4::set(uxs[i]), F4::set(uys[i]), F4::set(uzs[i]), F4::set((ars[i] + eps) * toB));
                if (leavesA >> i & 1) {
                    const unsigned exact = m & leavesB & (d2 < R * R);
                    if (exact) {
                        float d2s[4];
                        d2.store(d2s);
                        for (unsigned h = exact; h; h &= h - 1)
                            rep.report(~na.child[i], ~nb.child[std::countr_zero(h)], d2s[std::countr_zero(h)]);
                    }
                    m &= ~leavesB;
                }
                for (; m; m &= m - 1) {
                    const int j = std::countr_zero(m);
                    stack[sp++] = {na.child[i], nb.child[j], xs[j], ys[j], zs[j]};
                }
            }
        } else if (a >= 0 && (b < 0 || ra > rb)) {
            // b is a leaf, or much the smaller: a's children against it.
            const CullTree::Node& na = A.nodes[size_t(a)];
            const F4 dx = F4::load(na.cx) - bx, dy = F4::load(na.cy) - by, dz = F4::load(na.cz) - bz;
            const F4 d2 = dx * dx + dy * dy + dz * dz, R = sa.childRadii(na) + F4::set(rb), Re = R + EPS;
            unsigned m = d2 < Re * Re;
            if (m && boxA) m &= boxHits(na, bx, by, bz, F4::set(rb + eps));
            if (!m) continue;
            if (b < 0) {
                const unsigned leaves = F4::negative(na.child).signs();
                if (const unsigned exact = m & leaves & (d2 < R * R)) {
                    float d2s[4];
                    d2.store(d2s);
                    for (unsigned h = exact; h; h &= h - 1)
                        rep.report(~na.child[std::countr_zero(h)], ~b, d2s[std::countr_zero(h)]);
                }
                m &= ~leaves;
            }
            for (; m; m &= m - 1) stack[sp++] = {na.child[std::countr_zero(m)], b, e.bx, e.by, e.bz};
        } else {
            // a is a leaf, or much the smaller: b's children, moved into tree 1's frame, against it.
            const CullTree::Node& nb = B.nodes[size_t(b)];
            F4 x, y, z;
            xform(nb, x, y, z);
            float cx, cy, cz;
            centreA(a, cx, cy, cz);
            const F4 dx = x - F4::set(cx), dy = y - F4::set(cy), dz = z - F4::set(cz);
            const F4 d2 = dx * dx + dy * dy + dz * dz, R = sb.childRadii(nb) + F4::set(ra), Re = R + EPS;
            unsigned m = d2 < Re * Re;
            if (m && boxB) {
                float ub[3];
                intoB(cx, cy, cz, ub);
                m &= boxHits(nb, F4::set(ub[0]), F4::set(ub[1]), F4::set(ub[2]), F4::set((ra + eps) * toB));
            }
            if (!m) continue;
            if (a < 0) {
                const unsigned leaves = F4::negative(nb.child).signs();
                if (const unsigned exact = m & leaves & (d2 < R * R)) {
                    float d2s[4];
                    d2.store(d2s);
                    for (unsigned h = exact; h; h &= h - 1)
                        rep.report(~a, ~nb.child[std::countr_zero(h)], d2s[std::countr_zero(h)]);
                }
                m &= ~leaves;
                if (!m) continue;
            }
            float xs[4], ys[4], zs[4];
            x.store(xs), y.store(ys), z.store(zs);
            for (; m; m &= m - 1) {
                const int j = std::countr_zero(m);
                stack[sp++] = {a, nb.child[j], xs[j], ys[j], zs[j]};
            }
        }
    }
}

}  // namespace

namespace {

// True when the container's clearance grid proves that no leaf of the object comes near a wall
// leaf: the object's bounding sphere, taken into the container's frame, fits into the gap of the
// cell its centre lies in. Only for containers posed by a similarity whose radii do not grow
// faster than their centres; the margin dwarfs the float rounding of the exact leaf test.
bool clearOfWalls(const PosedTree& container, const PosedTree& object) {
    const CullTree::Clearance& g = container.tree->cull().clearance;
    if (g.invCell == 0 || !object.tree || object.tree->empty()) return false;
    const float* w = container.toWorld;
    const float k = container.modelScale;
    if (!(k > 0) || container.radiusScale > k) return false;
    for (int c = 1; c < 3; ++c) {
        const float len = std::sqrt(w[c] * w[c] + w[4 + c] * w[4 + c] + w[8 + c] * w[8 + c]);
        if (std::fabs(len - k) > 1e-5f * k) return false;
    }
    float c[3], r;
    object.worldSphere(c, r);
    const float* f = container.fromWorld;
    const float x = f[0] * c[0] + f[1] * c[1] + f[2] * c[2] + f[3];
    const float y = f[4] * c[0] + f[5] * c[1] + f[6] * c[2] + f[7];
    const float z = f[8] * c[0] + f[9] * c[1] + f[10] * c[2] + f[11];
    const float rr = r / k;
    const float margin = 1e-4f * (1.0f + std::fabs(x) + std::fabs(y) + std::fabs(z) + rr);
    return rr + margin < g.at(x, y, z);
}

}  // namespace

void queryOverlap(const PosedTree& t1, const PosedTree& t2, OverlapScratch& scratch, OverlapResult& out, PairSet want) {
    out.clear();
    if (t1.tree && t2.tree) {
        const bool c1 = t1.tree->kind() == SphereTreeKind::Container;
        const bool c2 = t2.tree->kind() == SphereTreeKind::Container;
        if (c1 != c2 && clearOfWalls(c1 ? t1 : t2, c1 ? t2 : t1)) return;
    }
    queryPairs(t1, t2, scratch, out, want == PairSet::Contacts);
    if (out.intersections.empty() || want == PairSet::Contacts) return;  // also covers missing trees
    const bool c1 = t1.tree->kind() == SphereTreeKind::Container, c2 = t2.tree->kind() == SphereTreeKind::Container;
    if (c1 != c2) out.overlap = containerOverlap(out, c1);
}

float containerOverlap(const OverlapResult& r, bool containerFirst) {
    constexpr float kSameWall = 0.95f;  // cosine between wall normals of one wall
    const size_t n = r.intersections.size();
    auto objectNode = [&](size_t i) { return containerFirst ? r.nodePairs[i].node2 : r.nodePairs[i].node1; };
    // Pairs grouped by object leaf (in node order, then report order). The leaves are nodes of
    // one array, so their offsets order them: a comparator that chased both nodes at every step
    // was a twelfth of a spheres_box run. Many pairs (a cube's face flat on a wall) take a
    // counting sort over the offsets, which keeps the report order within a leaf; few, one sort
    // of offset-and-index keys.
    const SphereNode* base = n ? objectNode(0) : nullptr;
    for (size_t i = 1; i < n; ++i) base = std::min(base, objectNode(i), std::less<const SphereNode*>());
    thread_local std::vector<uint32_t> order, offsets, counts;
    thread_local std::vector<uint64_t> keys;
    order.resize(n);
    offsets.resize(n);
    size_t range = 0;
    for (size_t i = 0; i < n; ++i) {
        offsets[i] = static_cast<uint32_t>(objectNode(i) - base);
        range = std::max<size_t>(range, offsets[i] + 1);
    }
    if (n > 64 && range <= 16 * n) {
        counts.assign(range + 1, 0);
        for (size_t i = 0; i < n; ++i) ++counts[offsets[i] + 1];
        for (size_t k = 1; k <= range; ++k) counts[k] += counts[k - 1];
        for (size_t i = 0; i < n; ++i) order[counts[offsets[i]]++] = static_cast<uint32_t>(i);
    } else {
        keys.resize(n);
        for (size_t i = 0; i < n; ++i) keys[i] = static_cast<uint64_t>(offsets[i]) << 32 | static_cast<uint64_t>(i);
        std::sort(keys.begin(), keys.end());
        for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(keys[i] & 0xffffffffu);
    }
    struct Wall {
        Vector3 normal;
        float lens;
    };
    std::vector<Wall> walls;
    double total = 0;
    for (size_t g = 0; g < n;) {
        size_t e = g;
        walls.clear();
        while (e < n && objectNode(order[e]) == objectNode(order[g])) {
            const size_t i = order[e++];
            const SphereNode* c = containerFirst ? r.nodePairs[i].node1 : r.nodePairs[i].node2;
            const float len = Vectormath::Aos::length(c->direction);
            const Vector3 normal = len > 0 ? c->direction / len : Vector3(0.0f);
            bool merged = false;
            for (Wall& w : walls)
                if (len > 0 && Vectormath::Aos::dot(w.normal, normal) > kSameWall) {
                    w.lens = std::max(w.lens, r.lensVolumes[i]);
                    merged = true;
                    break;
                }
            if (!merged) walls.push_back({normal, r.lensVolumes[i]});
        }
        const SphereIntersectionData& d = r.intersections[order[g]];
        const double rad = containerFirst ? d.radius2 : d.radius1;
        double sum = 0;
        for (const Wall& w : walls) sum += w.lens;
        total += std::min(sum, 4.0 / 3.0 * M_PI * rad * rad * rad);
        g = e;
    }
    return static_cast<float>(total);
}

void selectContacts(const OverlapResult& all, OverlapResult& out) {
    out.clear();
    out.overlap = all.overlap;
    out.visited = all.visited;
    float largest = 0;
    for (const float v : all.lensVolumes) largest = std::max(largest, v);
    if (!(largest > 0)) {  // only grazing pairs, volume lost in rounding: keep them all
        out = all;
        return;
    }
    const float cut = kContactShare * largest;
    for (size_t i = 0; i < all.lensVolumes.size(); ++i) {
        if (all.lensVolumes[i] < cut) continue;
        out.intersections.push_back(all.intersections[i]);
        out.nodePairs.push_back(all.nodePairs[i]);
        out.lensVolumes.push_back(all.lensVolumes[i]);
    }
}

void queryOverlap(const SphereTree* tree1, const Matrix4& X_W1, float scale1, const SphereTree* tree2,
                  const Matrix4& X_W2, float scale2, OverlapResult& out) {
    PosedTree p1, p2;
    p1.set(tree1, X_W1, scale1);
    p2.set(tree2, X_W2, scale2);
    OverlapScratch scratch;
    queryOverlap(p1, p2, scratch, out);
}

}  // namespace col
