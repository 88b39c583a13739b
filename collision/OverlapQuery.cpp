#include "collision/OverlapQuery.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
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
    const auto& s = tree->soa();
    const float x = s.cx[0], y = s.cy[0], z = s.cz[0];
    for (int r = 0; r < 3; ++r)
        outCentre[r] = toWorld[r * 4] * x + toWorld[r * 4 + 1] * y + toWorld[r * 4 + 2] * z + toWorld[r * 4 + 3];
    // Centres scale with the matrix, radii with the geometry value: the larger bounds both.
    outRadius = std::max(modelScale, geomScale) * tree->enclosingRadius() * (1.0f + 1e-6f);
}

namespace {

// Four float lanes: SSE where available, plain arrays elsewhere; one code path for both.
#if defined(__SSE2__)
struct F4 {
    __m128 v;
    static F4 load(const float* p) { return {_mm_loadu_ps(p)}; }
    static F4 set(float x) { return {_mm_set1_ps(x)}; }
    static F4 lanes() { return {_mm_set_ps(3, 2, 1, 0)}; }
    static F4 mask(const uint32_t* p) {
        return {_mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))};
    }
    friend F4 operator+(F4 a, F4 b) { return {_mm_add_ps(a.v, b.v)}; }
    friend F4 operator-(F4 a, F4 b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend F4 operator*(F4 a, F4 b) { return {_mm_mul_ps(a.v, b.v)}; }
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
    static F4 lanes() { return {{0, 1, 2, 3}}; }
    static F4 mask(const uint32_t* p) {
        F4 r;
        std::memcpy(r.v, p, sizeof r.v);
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

struct Side {
    const float *cx, *cy, *cz, *r;
    const int32_t *first, *count;
    const uint32_t* leaf;
    const uint8_t* leafParent;
    float fInner, fLeaf;  // radius factors into tree 1's frame
};

Side makeSide(const SphereTree& t, float fInner, float fLeaf) {
    const auto& s = t.soa();
    return Side{s.cx.data(),    s.cy.data(),    s.cz.data(),       s.cullRadius.data(),
                s.first.data(), s.count.data(), s.leafMask.data(), s.leafParent.data(),
                fInner,         fLeaf};
}

struct Reporter {
    const SphereTree* t1;
    const SphereTree* t2;
    float scale1, scale2, worldPerFrame1;
    OverlapResult* out;

    void report(int a, int b, float d2) const {
        const SphereNode& n1 = t1->node(a);
        const SphereNode& n2 = t2->node(b);
        const float r1 = n1.radius * scale1, r2 = n2.radius * scale2;
        out->intersections.push_back(SphereIntersectionData{n1.center, r1, n2.center, r2});
        out->nodePairs.push_back(NodePair{&n1, &n2});
        const float d = worldPerFrame1 * std::sqrt(d2);
        const float lens = lensVolume(d, r1, r2);
        out->lensVolumes.push_back(lens);
        out->overlap += lens;
    }
};

inline unsigned validLanes(int remaining) { return remaining >= 4 ? 0xfu : (1u << remaining) - 1u; }

}  // namespace

namespace {

void queryPairs(const PosedTree& t1, const PosedTree& t2, OverlapScratch& scratch, OverlapResult& out) {
    if (!t1.tree || !t2.tree || t1.tree->empty() || t2.tree->empty()) return;
    const SphereTree& A = *t1.tree;
    const SphereTree& B = *t2.tree;

    // T maps tree 2's model frame into tree 1's; distances there are world distances / k1.
    float T[12];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            double v = c == 3 ? t1.fromWorld[r * 4 + 3] : 0.0;
            for (int k = 0; k < 3; ++k) v += double(t1.fromWorld[r * 4 + k]) * t2.toWorld[k * 4 + c];
            T[r * 4 + c] = static_cast<float>(v);
        }
    const float k1 = t1.modelScale > 0 ? t1.modelScale : 1.0f;
    const float k2 = t2.modelScale;
    const Side sa = makeSide(A, std::max(k1, t1.geomScale) / k1, t1.geomScale / k1);
    const Side sb = makeSide(B, std::max(k2, t2.geomScale) / k1, t2.geomScale / k1);
    const Reporter rep{&A, &B, t1.geomScale, t2.geomScale, k1, &out};

    // Slack for float rounding in the inner-node tests only; leaf pairs get the exact test.
    const float tlen = std::sqrt(T[3] * T[3] + T[7] * T[7] + T[11] * T[11]);
    const float eps = 1e-5f * (1.0f + tlen + sa.fInner * A.enclosingRadius() + sb.fInner * B.enclosingRadius());

    const F4 T0 = F4::set(T[0]), T1 = F4::set(T[1]), T2 = F4::set(T[2]), T3 = F4::set(T[3]);
    const F4 T4 = F4::set(T[4]), T5 = F4::set(T[5]), T6 = F4::set(T[6]), T7 = F4::set(T[7]);
    const F4 T8 = F4::set(T[8]), T9 = F4::set(T[9]), T10 = F4::set(T[10]), T11 = F4::set(T[11]);
    auto xform = [&](int base, F4& x, F4& y, F4& z) {
        const F4 px = F4::load(sb.cx + base), py = F4::load(sb.cy + base), pz = F4::load(sb.cz + base);
        x = T0 * px + T1 * py + T2 * pz + T3;
        y = T4 * px + T5 * py + T6 * pz + T7;
        z = T8 * px + T9 * py + T10 * pz + T11;
    };
    auto radii = [](const Side& s, int base) {
        return F4::load(s.r + base) * F4::select(F4::mask(s.leaf + base), F4::set(s.fLeaf), F4::set(s.fInner));
    };

    int sp = 0;
    size_t capacity = static_cast<size_t>(A.stackBound() + B.stackBound() + 2);
    OverlapScratch::Entry* stack = scratch.reserve(capacity);
    // Inlined leaf steps can push up to (children of one) x (children of the other) per pop.
    auto ensure = [&](size_t more) {
        if (static_cast<size_t>(sp) + more > capacity) {
            capacity = 2 * (static_cast<size_t>(sp) + more);
            stack = scratch.reserve(capacity);
        }
    };
    float* cache = scratch.cache(static_cast<size_t>(4 * (B.maxChildren() + 4)));
    {
        float x[4], y[4], z[4];
        F4 X, Y, Z;
        xform(0, X, Y, Z);
        X.store(x), Y.store(y), Z.store(z);
        const float dx = sa.cx[0] - x[0], dy = sa.cy[0] - y[0], dz = sa.cz[0] - z[0];
        const float d2 = dx * dx + dy * dy + dz * dz;
        const bool leafA = sa.leaf[0] != 0, leafB = sb.leaf[0] != 0;
        const float R = (leafA ? sa.fLeaf : sa.fInner) * sa.r[0] + (leafB ? sb.fLeaf : sb.fInner) * sb.r[0];
        if (leafA && leafB) {
            if (d2 < R * R) rep.report(0, 0, d2);
            return;
        }
        if (d2 >= (R + eps) * (R + eps)) return;
        stack[sp++] = {0, 0, x[0], y[0], z[0]};
    }

    while (sp > 0) {
        const OverlapScratch::Entry e = stack[--sp];
        ++out.visited;
        const int a = e.a, b = e.b;
        const bool leafA = sa.leaf[a] != 0, leafB = sb.leaf[b] != 0;
        const float ra = (leafA ? sa.fLeaf : sa.fInner) * sa.r[a];
        const float rb = (leafB ? sb.fLeaf : sb.fInner) * sb.r[b];
        if (!leafA && (leafB || ra >= rb)) {
            // Children of a against b's sphere. A leaf child would next be tested against b's
            // children anyway, so that step is done right here instead of through the stack.
            const int f = sa.first[a], n = sa.count[a];
            const int nb = sb.count[b], fb = sb.first[b], stride = nb + 4;
            ensure(static_cast<size_t>(n) * static_cast<size_t>(nb + 1));
            bool cached = false;
            const F4 bx = F4::set(e.bx), by = F4::set(e.by), bz = F4::set(e.bz), rB = F4::set(rb);
            for (int j = 0; j < n; j += 4) {
                const int base = f + j;
                const F4 rr = radii(sa, base);
                const F4 dx = F4::load(sa.cx + base) - bx, dy = F4::load(sa.cy + base) - by,
                         dz = F4::load(sa.cz + base) - bz;
                const F4 d2 = dx * dx + dy * dy + dz * dz;
                const F4 Rx = rr + rB, R = Rx + F4::set(eps);
                unsigned hits = (d2 < R * R) & validLanes(n - j);
                if (!hits) continue;
                const unsigned leafBits = F4::mask(sa.leaf + base).signs();
                if (leafB) {
                    float d2s[4];
                    d2.store(d2s);
                    for (unsigned m = hits & leafBits & (d2 < Rx * Rx); m; m &= m - 1)
                        rep.report(base + std::countr_zero(m), b, d2s[std::countr_zero(m)]);
                    hits &= ~leafBits;
                } else if (hits & leafBits) {
                    if (!cached) {
                        for (int q = 0; q < nb; q += 4) {
                            F4 x, y, z;
                            xform(fb + q, x, y, z);
                            x.store(cache + q), y.store(cache + stride + q), z.store(cache + 2 * stride + q);
                            radii(sb, fb + q).store(cache + 3 * stride + q);
                        }
                        cached = true;
                    }
                    float rrs[4];
                    rr.store(rrs);
                    for (unsigned m = hits & leafBits; m; m &= m - 1) {
                        const int l = std::countr_zero(m), c = base + l;
                        const F4 cx = F4::set(sa.cx[c]), cy = F4::set(sa.cy[c]), cz = F4::set(sa.cz[c]),
                                 rc = F4::set(rrs[l]);
                        for (int q = 0; q < nb; q += 4) {
                            const F4 ex = F4::load(cache + q) - cx, ey = F4::load(cache + stride + q) - cy,
                                     ez = F4::load(cache + 2 * stride + q) - cz;
                            const F4 e2 = ex * ex + ey * ey + ez * ez, S = F4::load(cache + 3 * stride + q) + rc,
                                     Se = S + F4::set(eps);
                            const unsigned near = (e2 < Se * Se) & validLanes(nb - q);
                            if (!near) continue;
                            const unsigned childLeaves = F4::mask(sb.leaf + fb + q).signs();
                            float e2s[4];
                            e2.store(e2s);
                            for (unsigned h = near & childLeaves & (e2 < S * S); h; h &= h - 1)
                                rep.report(c, fb + q + std::countr_zero(h), e2s[std::countr_zero(h)]);
                            for (unsigned h = near & ~childLeaves; h; h &= h - 1) {
                                const int k = q + std::countr_zero(h);
                                stack[sp++] = {c, fb + k, cache[k], cache[stride + k], cache[2 * stride + k]};
                            }
                        }
                    }
                    hits &= ~leafBits;
                }
                for (unsigned m = hits; m; m &= m - 1) stack[sp++] = {base + std::countr_zero(m), b, e.bx, e.by, e.bz};
            }
        } else {
            // Children of b, moved into tree 1's frame, against a's sphere; the mirror image.
            const int f = sb.first[b], n = sb.count[b];
            const int na = sa.count[a], fa = sa.first[a];
            ensure(static_cast<size_t>(n) * static_cast<size_t>(na + 1));
            const F4 ax = F4::set(sa.cx[a]), ay = F4::set(sa.cy[a]), az = F4::set(sa.cz[a]), rA = F4::set(ra);
            for (int j = 0; j < n; j += 4) {
                const int base = f + j;
                F4 x, y, z;
                xform(base, x, y, z);
                const F4 rr = radii(sb, base);
                const F4 dx = x - ax, dy = y - ay, dz = z - az;
                const F4 d2 = dx * dx + dy * dy + dz * dz;
                const F4 Rx = rr + rA, R = Rx + F4::set(eps);
                unsigned hits = (d2 < R * R) & validLanes(n - j);
                if (!hits) continue;
                const unsigned leafBits = F4::mask(sb.leaf + base).signs();
                float xs[4], ys[4], zs[4];
                x.store(xs), y.store(ys), z.store(zs);
                if (leafA) {
                    float d2s[4];
                    d2.store(d2s);
                    for (unsigned m = hits & leafBits & (d2 < Rx * Rx); m; m &= m - 1)
                        rep.report(a, base + std::countr_zero(m), d2s[std::countr_zero(m)]);
                    hits &= ~leafBits;
                } else if (hits & leafBits) {
                    float rrs[4];
                    rr.store(rrs);
                    for (unsigned m = hits & leafBits; m; m &= m - 1) {
                        const int l = std::countr_zero(m), c = base + l;
                        const F4 cx = F4::set(xs[l]), cy = F4::set(ys[l]), cz = F4::set(zs[l]), rc = F4::set(rrs[l]);
                        for (int q = 0; q < na; q += 4) {
                            const F4 ex = F4::load(sa.cx + fa + q) - cx, ey = F4::load(sa.cy + fa + q) - cy,
                                     ez = F4::load(sa.cz + fa + q) - cz;
                            const F4 e2 = ex * ex + ey * ey + ez * ez, S = radii(sa, fa + q) + rc,
                                     Se = S + F4::set(eps);
                            const unsigned near = (e2 < Se * Se) & validLanes(na - q);
                            if (!near) continue;
                            const unsigned childLeaves = F4::mask(sa.leaf + fa + q).signs();
                            float e2s[4];
                            e2.store(e2s);
                            for (unsigned h = near & childLeaves & (e2 < S * S); h; h &= h - 1)
                                rep.report(fa + q + std::countr_zero(h), c, e2s[std::countr_zero(h)]);
                            for (unsigned h = near & ~childLeaves; h; h &= h - 1)
                                stack[sp++] = {fa + q + std::countr_zero(h), c, xs[l], ys[l], zs[l]};
                        }
                    }
                    hits &= ~leafBits;
                }
                for (unsigned m = hits; m; m &= m - 1) {
                    const int l = std::countr_zero(m);
                    stack[sp++] = {a, base + l, xs[l], ys[l], zs[l]};
                }
            }
        }
    }
}

}  // namespace

void queryOverlap(const PosedTree& t1, const PosedTree& t2, OverlapScratch& scratch, OverlapResult& out) {
    out.clear();
    queryPairs(t1, t2, scratch, out);
    if (out.intersections.empty()) return;  // also covers missing trees
    const bool c1 = t1.tree->kind() == SphereTreeKind::Container, c2 = t2.tree->kind() == SphereTreeKind::Container;
    if (c1 != c2) out.overlap = containerOverlap(out, c1);
}

float containerOverlap(const OverlapResult& r, bool containerFirst) {
    constexpr float kSameWall = 0.95f;  // cosine between wall normals of one wall
    const size_t n = r.intersections.size();
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);
    auto objectNode = [&](size_t i) { return containerFirst ? r.nodePairs[i].node2 : r.nodePairs[i].node1; };
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const SphereNode *na = objectNode(a), *nb = objectNode(b);
        return na != nb ? std::less<const SphereNode*>()(na, nb) : a < b;
    });
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
