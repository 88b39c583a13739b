#include "collision/OverlapQuery.h"

#include <algorithm>
#include <cmath>

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

struct Side {
  const float *cx, *cy, *cz, *r;
  const int32_t *first, *count;
  const uint32_t* leaf;
  float fInner, fLeaf;  // radius factors into tree 1's frame
};

Side makeSide(const SphereTree& t, float fInner, float fLeaf) {
  const auto& s = t.soa();
  return Side{s.cx.data(), s.cy.data(), s.cz.data(), s.cullRadius.data(), s.first.data(), s.count.data(),
              s.leafMask.data(), fInner, fLeaf};
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
    out->overlap += lensVolume(worldPerFrame1 * std::sqrt(d2), r1, r2);
  }
};

inline float pick(uint32_t leaf, float fInner, float fLeaf) { return leaf ? fLeaf : fInner; }

}  // namespace

void queryOverlap(const PosedTree& t1, const PosedTree& t2, OverlapScratch& scratch, OverlapResult& out) {
  out.clear();
  if (!t1.tree || !t2.tree || t1.tree->empty() || t2.tree->empty()) return;
  const SphereTree& A = *t1.tree;
  const SphereTree& B = *t2.tree;

  // T maps tree 2's model frame into tree 1's; distances there are world distances / k1.
  double T[12];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      double v = 0;
      for (int k = 0; k < 3; ++k) v += double(t1.fromWorld[r * 4 + k]) * t2.toWorld[k * 4 + c];
      if (c == 3) v += t1.fromWorld[r * 4 + 3];
      T[r * 4 + c] = v;
    }
  float Tf[12];
  for (int i = 0; i < 12; ++i) Tf[i] = static_cast<float>(T[i]);
  const float k1 = t1.modelScale > 0 ? t1.modelScale : 1.0f;
  const float k2 = t2.modelScale;
  const Side sa = makeSide(A, std::max(k1, t1.geomScale) / k1, t1.geomScale / k1);
  const Side sb = makeSide(B, std::max(k2, t2.geomScale) / k1, t2.geomScale / k1);
  const Reporter rep{&A, &B, t1.geomScale, t2.geomScale, k1, &out};

  // Slack for float rounding in the inner-node tests only; leaf pairs get the exact test.
  const float tlen = std::sqrt(Tf[3] * Tf[3] + Tf[7] * Tf[7] + Tf[11] * Tf[11]);
  const float eps = 1e-5f * (1.0f + tlen + sa.fInner * A.enclosingRadius() + sb.fInner * B.enclosingRadius());

  auto xform = [&](int i, float& x, float& y, float& z) {
    const float px = sb.cx[i], py = sb.cy[i], pz = sb.cz[i];
    x = Tf[0] * px + Tf[1] * py + Tf[2] * pz + Tf[3];
    y = Tf[4] * px + Tf[5] * py + Tf[6] * pz + Tf[7];
    z = Tf[8] * px + Tf[9] * py + Tf[10] * pz + Tf[11];
  };

  OverlapScratch::Entry* stack = scratch.reserve(static_cast<size_t>(A.stackBound() + B.stackBound() + 2));
  int sp = 0;
  {
    float x, y, z;
    xform(0, x, y, z);
    const float dx = sa.cx[0] - x, dy = sa.cy[0] - y, dz = sa.cz[0] - z;
    const float d2 = dx * dx + dy * dy + dz * dz;
    const bool leafA = sa.leaf[0] != 0, leafB = sb.leaf[0] != 0;
    const float R = pick(sa.leaf[0], sa.fInner, sa.fLeaf) * sa.r[0] + pick(sb.leaf[0], sb.fInner, sb.fLeaf) * sb.r[0];
    if (leafA && leafB) {
      if (d2 < R * R) rep.report(0, 0, d2);
      return;
    }
    if (d2 >= (R + eps) * (R + eps)) return;
    stack[sp++] = {0, 0, x, y, z};
  }

#if defined(__SSE2__)
  const __m128 lane = _mm_set_ps(3, 2, 1, 0);
#endif
  while (sp > 0) {
    const OverlapScratch::Entry e = stack[--sp];
    const int a = e.a, b = e.b;
    const bool leafA = sa.leaf[a] != 0, leafB = sb.leaf[b] != 0;
    const float ra = (leafA ? sa.fLeaf : sa.fInner) * sa.r[a];
    const float rb = (leafB ? sb.fLeaf : sb.fInner) * sb.r[b];
    const bool descendA = !leafA && (leafB || ra >= rb);
    if (descendA) {
      // Children of a (tree 1 frame as stored) against b's sphere at e.b{x,y,z}.
      const int f = sa.first[a], n = sa.count[a];
      for (int j = 0; j < n; j += 4) {
        const int base = f + j;
        unsigned hits;
        float d2s[4], rrs[4];
#if defined(__SSE2__)
        const __m128 lm = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sa.leaf + base)));
        const __m128 fac = _mm_or_ps(_mm_and_ps(lm, _mm_set1_ps(sa.fLeaf)), _mm_andnot_ps(lm, _mm_set1_ps(sa.fInner)));
        const __m128 rr = _mm_mul_ps(_mm_loadu_ps(sa.r + base), fac);
        const __m128 dx = _mm_sub_ps(_mm_loadu_ps(sa.cx + base), _mm_set1_ps(e.bx));
        const __m128 dy = _mm_sub_ps(_mm_loadu_ps(sa.cy + base), _mm_set1_ps(e.by));
        const __m128 dz = _mm_sub_ps(_mm_loadu_ps(sa.cz + base), _mm_set1_ps(e.bz));
        const __m128 d2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
        const __m128 R = _mm_add_ps(_mm_add_ps(rr, _mm_set1_ps(rb)), _mm_set1_ps(eps));
        const __m128 valid = _mm_cmplt_ps(lane, _mm_set1_ps(static_cast<float>(n - j)));
        hits = static_cast<unsigned>(_mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(d2, _mm_mul_ps(R, R)), valid)));
        if (!hits) continue;
        _mm_storeu_ps(d2s, d2);
        _mm_storeu_ps(rrs, rr);
#else
        hits = 0;
        for (int l = 0; l < 4 && j + l < n; ++l) {
          const int c = base + l;
          const float dx = sa.cx[c] - e.bx, dy = sa.cy[c] - e.by, dz = sa.cz[c] - e.bz;
          d2s[l] = dx * dx + dy * dy + dz * dz;
          rrs[l] = pick(sa.leaf[c], sa.fInner, sa.fLeaf) * sa.r[c];
          const float R = rrs[l] + rb + eps;
          if (d2s[l] < R * R) hits |= 1u << l;
        }
#endif
        for (int l = 0; l < 4; ++l) {
          if (!(hits & (1u << l))) continue;
          const int c = base + l;
          if (leafB && sa.leaf[c]) {
            const float R = rrs[l] + rb;
            if (d2s[l] < R * R) rep.report(c, b, d2s[l]);
          } else {
            stack[sp++] = {c, b, e.bx, e.by, e.bz};
          }
        }
      }
    } else {
      // Children of b, moved into tree 1's frame, against a's sphere.
      const int f = sb.first[b], n = sb.count[b];
      const float ax = sa.cx[a], ay = sa.cy[a], az = sa.cz[a];
      for (int j = 0; j < n; j += 4) {
        const int base = f + j;
        unsigned hits;
        float d2s[4], rrs[4], xs[4], ys[4], zs[4];
#if defined(__SSE2__)
        const __m128 px = _mm_loadu_ps(sb.cx + base), py = _mm_loadu_ps(sb.cy + base), pz = _mm_loadu_ps(sb.cz + base);
        const __m128 x = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(Tf[0]), px), _mm_mul_ps(_mm_set1_ps(Tf[1]), py)),
                                    _mm_add_ps(_mm_mul_ps(_mm_set1_ps(Tf[2]), pz), _mm_set1_ps(Tf[3])));
        const __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(Tf[4]), px), _mm_mul_ps(_mm_set1_ps(Tf[5]), py)),
                                    _mm_add_ps(_mm_mul_ps(_mm_set1_ps(Tf[6]), pz), _mm_set1_ps(Tf[7])));
        const __m128 z = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(Tf[8]), px), _mm_mul_ps(_mm_set1_ps(Tf[9]), py)),
                                    _mm_add_ps(_mm_mul_ps(_mm_set1_ps(Tf[10]), pz), _mm_set1_ps(Tf[11])));
        const __m128 lm = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sb.leaf + base)));
        const __m128 fac = _mm_or_ps(_mm_and_ps(lm, _mm_set1_ps(sb.fLeaf)), _mm_andnot_ps(lm, _mm_set1_ps(sb.fInner)));
        const __m128 rr = _mm_mul_ps(_mm_loadu_ps(sb.r + base), fac);
        const __m128 dx = _mm_sub_ps(x, _mm_set1_ps(ax));
        const __m128 dy = _mm_sub_ps(y, _mm_set1_ps(ay));
        const __m128 dz = _mm_sub_ps(z, _mm_set1_ps(az));
        const __m128 d2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
        const __m128 R = _mm_add_ps(_mm_add_ps(rr, _mm_set1_ps(ra)), _mm_set1_ps(eps));
        const __m128 valid = _mm_cmplt_ps(lane, _mm_set1_ps(static_cast<float>(n - j)));
        hits = static_cast<unsigned>(_mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(d2, _mm_mul_ps(R, R)), valid)));
        if (!hits) continue;
        _mm_storeu_ps(d2s, d2);
        _mm_storeu_ps(rrs, rr);
        _mm_storeu_ps(xs, x);
        _mm_storeu_ps(ys, y);
        _mm_storeu_ps(zs, z);
#else
        hits = 0;
        for (int l = 0; l < 4 && j + l < n; ++l) {
          const int c = base + l;
          xform(c, xs[l], ys[l], zs[l]);
          const float dx = xs[l] - ax, dy = ys[l] - ay, dz = zs[l] - az;
          d2s[l] = dx * dx + dy * dy + dz * dz;
          rrs[l] = pick(sb.leaf[c], sb.fInner, sb.fLeaf) * sb.r[c];
          const float R = rrs[l] + ra + eps;
          if (d2s[l] < R * R) hits |= 1u << l;
        }
#endif
        for (int l = 0; l < 4; ++l) {
          if (!(hits & (1u << l))) continue;
          const int c = base + l;
          if (leafA && sb.leaf[c]) {
            const float R = rrs[l] + ra;
            if (d2s[l] < R * R) rep.report(a, c, d2s[l]);
          } else {
            stack[sp++] = {a, c, xs[l], ys[l], zs[l]};
          }
        }
      }
    }
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
