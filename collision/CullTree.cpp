#include "collision/CullTree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "collision/SphereTree.h"

namespace col {

namespace {

struct Leaf {
    double c[3];
    double r;
};

// Binary build node; a range of the index array until it is split.
struct Bin {
    double c[3] = {0, 0, 0}, r = 0;
    int32_t left = -1, right = -1;  // children, -1 for a single leaf
    int32_t first = 0, count = 0;   // range in the index array
};

/// Nearly smallest sphere around leaf spheres: start at their box centre and walk towards the
/// farthest surface point with shrinking steps (Badoiu and Clarkson's iteration, for balls),
/// keeping the best centre seen. The radius is then exact for that centre, so the sphere
/// encloses every leaf whatever the iteration reached.
void fitSphere(const std::vector<Leaf>& leaves, const int32_t* idx, int32_t k, double out[4]) {
    double lo[3], hi[3];
    for (int a = 0; a < 3; ++a) lo[a] = std::numeric_limits<double>::infinity(), hi[a] = -lo[a];
    for (int32_t i = 0; i < k; ++i)
        for (int a = 0; a < 3; ++a) {
            const Leaf& l = leaves[static_cast<size_t>(idx[i])];
            lo[a] = std::min(lo[a], l.c[a] - l.r);
            hi[a] = std::max(hi[a], l.c[a] + l.r);
        }
    double c[3] = {0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1]), 0.5 * (lo[2] + hi[2])};
    auto farthest = [&](const double p[3], int32_t& outLeaf) {
        double best = -1;
        for (int32_t i = 0; i < k; ++i) {
            const Leaf& l = leaves[static_cast<size_t>(idx[i])];
            const double dx = l.c[0] - p[0], dy = l.c[1] - p[1], dz = l.c[2] - p[2];
            const double d = std::sqrt(dx * dx + dy * dy + dz * dz) + l.r;
            if (d > best) best = d, outLeaf = idx[i];
        }
        return best;
    };
    constexpr int kIterations = 48;
    int32_t far = idx[0];
    double bestR = farthest(c, far);
    double best[3] = {c[0], c[1], c[2]};
    for (int it = 1; it <= kIterations && k > 1; ++it) {
        const Leaf& l = leaves[static_cast<size_t>(far)];
        const double dx = l.c[0] - c[0], dy = l.c[1] - c[1], dz = l.c[2] - c[2];
        const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (d <= 0) break;  // the farthest sphere is centred here: nothing to gain
        const double t = 1.0 / (it + 1);
        for (int a = 0; a < 3; ++a) c[a] += (l.c[a] + (a == 0 ? dx : a == 1 ? dy : dz) / d * l.r - c[a]) * t;
        const double r = farthest(c, far);
        if (r < bestR) bestR = r, best[0] = c[0], best[1] = c[1], best[2] = c[2];
    }
    // The traversal reads float centres: measure the radius from the rounded one.
    for (int a = 0; a < 3; ++a) out[a] = static_cast<float>(best[a]);
    int32_t unused;
    out[3] = farthest(out, unused);
}

/// Surface area of the box around the leaf spheres idx[0, k), used as the split cost.
double boxArea(const double lo[3], const double hi[3]) {
    const double x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
    return x * y + y * z + z * x;
}

/// Splits idx[0, k) into [0, s) and [s, k) along the axis and position that minimise
/// area(left) * count(left) + area(right) * count(right); leaves idx sorted along that axis.
int32_t bestSplit(const std::vector<Leaf>& leaves, int32_t* idx, int32_t k, std::vector<double>& scratch) {
    int bestAxis = 0;
    int32_t split = k / 2;
    double bestCost = std::numeric_limits<double>::infinity();
    scratch.resize(static_cast<size_t>(k));
    auto sortAlong = [&](int axis) {
        std::sort(idx, idx + k, [&](int32_t a, int32_t b) {
            const double ca = leaves[static_cast<size_t>(a)].c[axis], cb = leaves[static_cast<size_t>(b)].c[axis];
            return ca < cb || (ca == cb && a < b);
        });
    };
    for (int axis = 0; axis < 3; ++axis) {
        sortAlong(axis);
        double lo[3], hi[3];
        auto reset = [&] {
            for (int a = 0; a < 3; ++a) lo[a] = std::numeric_limits<double>::infinity(), hi[a] = -lo[a];
        };
        auto grow = [&](int32_t i) {
            const Leaf& l = leaves[static_cast<size_t>(idx[i])];
            for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], l.c[a] - l.r), hi[a] = std::max(hi[a], l.c[a] + l.r);
        };
        reset();
        for (int32_t i = 0; i < k; ++i) grow(i), scratch[static_cast<size_t>(i)] = boxArea(lo, hi) * (i + 1);
        reset();
        for (int32_t i = k - 1; i > 0; --i) {
            grow(i);
            const double cost = scratch[static_cast<size_t>(i - 1)] + boxArea(lo, hi) * (k - i);
            if (cost < bestCost) bestCost = cost, bestAxis = axis, split = i;
        }
    }
    sortAlong(bestAxis);
    return split;
}

}  // namespace

void CullTree::build(const std::vector<SphereNode>& file) {
    *this = CullTree{};
    std::vector<Leaf> leaves;
    std::vector<int32_t> fileIndex;
    for (size_t i = 0; i < file.size(); ++i)
        if (file[i].isLeaf()) {
            const SphereNode& n = file[i];
            leaves.push_back({{n.center.getX(), n.center.getY(), n.center.getZ()}, n.radius});
            fileIndex.push_back(static_cast<int32_t>(i));
        }
    if (leaves.empty()) return;

    // 1. Binary tree, top down; ranges are split in place, so no recursion is needed.
    std::vector<int32_t> idx(leaves.size());
    std::iota(idx.begin(), idx.end(), 0);
    std::vector<Bin> bin(1);
    bin[0].count = static_cast<int32_t>(leaves.size());
    std::vector<double> scratch;
    for (size_t b = 0; b < bin.size(); ++b) {
        const int32_t first = bin[b].first, count = bin[b].count;
        double s[4];
        fitSphere(leaves, &idx[static_cast<size_t>(first)], count, s);
        bin[b].c[0] = s[0], bin[b].c[1] = s[1], bin[b].c[2] = s[2], bin[b].r = s[3];
        if (count == 1) continue;
        const int32_t split = bestSplit(leaves, &idx[static_cast<size_t>(first)], count, scratch);
        Bin l, r;
        l.first = first, l.count = split;
        r.first = first + split, r.count = count - split;
        bin[b].left = static_cast<int32_t>(bin.size());
        bin[b].right = bin[b].left + 1;
        bin.push_back(l);
        bin.push_back(r);
    }

    // 2. Four-wide nodes: open the largest inner member of each node's frontier until it holds
    //    four.
    auto sphereOf = [&](int32_t b, float out[4]) {
        const Bin& x = bin[static_cast<size_t>(b)];
        if (x.count == 1) {
            const SphereNode& n =
                file[static_cast<size_t>(fileIndex[static_cast<size_t>(idx[static_cast<size_t>(x.first)])])];
            out[0] = n.center.getX(), out[1] = n.center.getY(), out[2] = n.center.getZ(), out[3] = n.radius;
            return;
        }
        out[0] = static_cast<float>(x.c[0]), out[1] = static_cast<float>(x.c[1]), out[2] = static_cast<float>(x.c[2]);
        // Rounded up, and a little more: inner spheres must never cut a leaf.
        out[3] = static_cast<float>(x.r) * (1.0f + 1e-6f);
        if (static_cast<double>(out[3]) < x.r) out[3] = std::nextafter(out[3], std::numeric_limits<float>::infinity());
    };
    auto addLeaf = [&](int32_t b) {
        float s[4];
        sphereOf(b, s);
        lx.push_back(s[0]), ly.push_back(s[1]), lz.push_back(s[2]), lr.push_back(s[3]);
        leafNode.push_back(fileIndex[static_cast<size_t>(idx[static_cast<size_t>(bin[static_cast<size_t>(b)].first)])]);
        return ~static_cast<int32_t>(leafNode.size() - 1);
    };
    // Box of the leaf spheres below a build node, rounded outwards to float.
    auto boxOf = [&](int32_t b, int lane, Node& node) {
        const Bin& x = bin[static_cast<size_t>(b)];
        for (int a = 0; a < 3; ++a) {
            double lo = std::numeric_limits<double>::infinity(), hi = -lo;
            for (int32_t i = x.first; i < x.first + x.count; ++i) {
                const Leaf& l = leaves[static_cast<size_t>(idx[static_cast<size_t>(i)])];
                lo = std::min(lo, l.c[a] - l.r), hi = std::max(hi, l.c[a] + l.r);
            }
            float flo = static_cast<float>(lo), fhi = static_cast<float>(hi);
            if (static_cast<double>(flo) > lo) flo = std::nextafter(flo, -std::numeric_limits<float>::infinity());
            if (static_cast<double>(fhi) < hi) fhi = std::nextafter(fhi, std::numeric_limits<float>::infinity());
            node.lo[a][lane] = flo, node.hi[a][lane] = fhi;
        }
    };
    auto largestLeaf = [&](int32_t b) {
        const Bin& x = bin[static_cast<size_t>(b)];
        double m = 0;
        for (int32_t i = x.first; i < x.first + x.count; ++i)
            m = std::max(m, leaves[static_cast<size_t>(idx[static_cast<size_t>(i)])].r);
        // Rounded up: a bound.
        float f = static_cast<float>(m);
        if (static_cast<double>(f) < m) f = std::nextafter(f, std::numeric_limits<float>::infinity());
        return f;
    };
    float rs[4];
    sphereOf(0, rs);
    rootX = rs[0], rootY = rs[1], rootZ = rs[2], rootR = rs[3];
    {
        Node all{};
        boxOf(0, 0, all);
        for (int a = 0; a < 3; ++a) rootLo[a] = all.lo[a][0], rootHi[a] = all.hi[a][0];
    }
    if (bin[0].count == 1) {
        root = addLeaf(0);
        return;
    }
    struct Job {
        int32_t bin, node, level;
    };
    std::vector<Job> jobs{{0, 0, 1}};
    nodes.emplace_back();
    nx.push_back(rs[0]), ny.push_back(rs[1]), nz.push_back(rs[2]), nr.push_back(rs[3]);
    nm.push_back(largestLeaf(0));
    while (!jobs.empty()) {
        const Job job = jobs.back();
        jobs.pop_back();
        depth = std::max(depth, job.level);
        std::vector<int32_t> frontier{bin[static_cast<size_t>(job.bin)].left, bin[static_cast<size_t>(job.bin)].right};
        while (frontier.size() < 4) {
            int best = -1;
            for (size_t i = 0; i < frontier.size(); ++i) {
                const Bin& x = bin[static_cast<size_t>(frontier[i])];
                if (x.count > 1 && (best < 0 || x.r > bin[static_cast<size_t>(frontier[static_cast<size_t>(best)])].r))
                    best = static_cast<int>(i);
            }
            if (best < 0) break;
            const Bin& x = bin[static_cast<size_t>(frontier[static_cast<size_t>(best)])];
            frontier[static_cast<size_t>(best)] = x.left;
            frontier.insert(frontier.begin() + best + 1, x.right);
        }
        Node node;
        constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
        for (int lane = 0; lane < 4; ++lane) {
            node.cx[lane] = node.cy[lane] = node.cz[lane] = kNaN;
            node.r[lane] = 0;
            for (int a = 0; a < 3; ++a) node.lo[a][lane] = node.hi[a][lane] = kNaN;
            node.child[lane] = ~0;
        }
        // Siblings get adjacent node slots; jobs are taken depth first.
        std::vector<Job> children;
        for (size_t lane = 0; lane < frontier.size(); ++lane) {
            const int32_t b = frontier[lane];
            float s[4];
            sphereOf(b, s);
            node.cx[lane] = s[0], node.cy[lane] = s[1], node.cz[lane] = s[2], node.r[lane] = s[3];
            boxOf(b, lane, node);
            if (bin[static_cast<size_t>(b)].count == 1) {
                node.child[lane] = addLeaf(b);
            } else {
                node.child[lane] = static_cast<int32_t>(nodes.size() + children.size());
                children.push_back({b, node.child[lane], job.level + 1});
            }
        }
        nodes[static_cast<size_t>(job.node)] = node;
        for (const Job& c : children) {
            float s[4];
            sphereOf(c.bin, s);
            nodes.emplace_back();
            nx.push_back(s[0]), ny.push_back(s[1]), nz.push_back(s[2]), nr.push_back(s[3]);
            nm.push_back(largestLeaf(c.bin));
        }
        for (size_t i = children.size(); i-- > 0;) jobs.push_back(children[i]);
    }
    // Every inner node's box is the one its parent's lane holds; the root's is the whole box.
    nbox.assign(6 * nodes.size(), 0.0f);
    auto setBox = [&](size_t n, const float lo[3], const float hi[3]) {
        for (int a = 0; a < 3; ++a) {
            const float c = 0.5f * (lo[a] + hi[a]);
            float h = std::max(hi[a] - c, c - lo[a]);
            h = std::nextafter(h, std::numeric_limits<float>::infinity());
            nbox[6 * n + size_t(a)] = c, nbox[6 * n + 3 + size_t(a)] = h;
        }
    };
    setBox(0, rootLo, rootHi);
    for (const Node& node : nodes)
        for (int lane = 0; lane < 4; ++lane) {
            if (node.child[lane] < 0 || std::isnan(node.cx[lane])) continue;
            const float lo[3] = {node.lo[0][lane], node.lo[1][lane], node.lo[2][lane]};
            const float hi[3] = {node.hi[0][lane], node.hi[1][lane], node.hi[2][lane]};
            setBox(size_t(node.child[lane]), lo, hi);
        }
    constexpr float kFlat = 0.5f;  // thinnest half extent against the radius
    nflat.assign(nodes.size(), 0);
    for (size_t n = 0; n < nodes.size(); ++n)
        nflat[n] = std::min({nbox[6 * n + 3], nbox[6 * n + 4], nbox[6 * n + 5]}) < kFlat * nr[n];

    constexpr int N = kSupportCells;
    support.assign(6 * (N + 1) * (N + 1), 0.0f);
    for (int f = 0; f < 6; ++f)
        for (int i = 0; i <= N; ++i)
            for (int j = 0; j <= N; ++j) {
                double d[3];
                const int axis = f / 2;
                d[axis] = f % 2 ? -1.0 : 1.0;
                d[(axis + 1) % 3] = -1.0 + 2.0 * i / N;
                d[(axis + 2) % 3] = -1.0 + 2.0 * j / N;
                const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                double h = -std::numeric_limits<double>::infinity();
                for (size_t k = 0; k < lr.size(); ++k)
                    h = std::max(h, d[0] * lx[k] + d[1] * ly[k] + d[2] * lz[k] + len * lr[k]);
                float hf = static_cast<float>(h);
                if (static_cast<double>(hf) < h) hf = std::nextafter(hf, std::numeric_limits<float>::infinity());
                support[size_t((f * (N + 1) + i) * (N + 1) + j)] = hf;
            }
    // Along the diagonal (1, 1, 1) (a corner of face +x) against the box's corner.
    const float diagonal = supportBound(1, 1, 1);
    const float boxCorner =
        std::max(rootHi[0], -rootLo[0]) + std::max(rootHi[1], -rootLo[1]) + std::max(rootHi[2], -rootLo[2]);
    rounded = diagonal < 0.9f * boxCorner;
}

float CullTree::supportBound(float x, float y, float z) const {
    constexpr int N = kSupportCells;
    const float v[3] = {x, y, z};
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(v[a]) > std::fabs(v[axis])) axis = a;
    const float m = std::fabs(v[axis]);
    const int face = 2 * axis + (v[axis] < 0 ? 1 : 0);
    // d = m p with p on the cube face, p a convex combination of three corners of its cell.
    const float fu = (v[(axis + 1) % 3] / m + 1.0f) * (0.5f * N), fw = (v[(axis + 2) % 3] / m + 1.0f) * (0.5f * N);
    const int i = std::clamp(static_cast<int>(fu), 0, N - 1), j = std::clamp(static_cast<int>(fw), 0, N - 1);
    const float a = std::clamp(fu - float(i), 0.0f, 1.0f), b = std::clamp(fw - float(j), 0.0f, 1.0f);
    const float* h = &support[size_t(face * (N + 1) * (N + 1))];
    auto at = [&](int ii, int jj) { return h[ii * (N + 1) + jj]; };
    const float r = a + b <= 1.0f
                        ? (1.0f - a - b) * at(i, j) + a * at(i + 1, j) + b * at(i, j + 1)
                        : (a + b - 1.0f) * at(i + 1, j + 1) + (1.0f - b) * at(i + 1, j) + (1.0f - a) * at(i, j + 1);
    return m * r;
}

float CullTree::Clearance::at(float x, float y, float z) const {
    const float fx = (x - lo[0]) * invCell, fy = (y - lo[1]) * invCell, fz = (z - lo[2]) * invCell;
    // Written so that NaN lands outside too.
    if (!(fx >= 0 && fy >= 0 && fz >= 0 && fx < float(n[0]) && fy < float(n[1]) && fz < float(n[2])))
        return -std::numeric_limits<float>::infinity();
    const size_t i = static_cast<size_t>(fx), j = static_cast<size_t>(fy), k = static_cast<size_t>(fz);
    const float dx = fx - (float(i) + 0.5f), dy = fy - (float(j) + 0.5f), dz = fz - (float(k) + 0.5f);
    const float off = std::sqrt(dx * dx + dy * dy + dz * dz) / invCell;
    return gap[(k * static_cast<size_t>(n[1]) + j) * static_cast<size_t>(n[0]) + i] - off * (1.0f + 1e-5f);
}

void CullTree::buildClearance(int maxCells) {
    clearance = Clearance{};
    if (empty() || maxCells < 1) return;
    double lo[3], hi[3];
    for (int a = 0; a < 3; ++a) lo[a] = std::numeric_limits<double>::infinity(), hi[a] = -lo[a];
    for (size_t i = 0; i < lr.size(); ++i) {
        const double c[3] = {lx[i], ly[i], lz[i]};
        for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], c[a] - lr[i]), hi[a] = std::max(hi[a], c[a] + lr[i]);
    }
    const double side = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    if (!(side > 0) || !std::isfinite(side)) return;
    const double cell = side / maxCells;
    Clearance g;
    for (int a = 0; a < 3; ++a) {
        g.lo[a] = static_cast<float>(lo[a]);
        g.n[a] = std::max(1, static_cast<int>(std::ceil((hi[a] - lo[a]) / cell)));
    }
    g.invCell = static_cast<float>(1.0 / cell);
    const double slack = 1e-5 * (side + std::fabs(lo[0]) + std::fabs(lo[1]) + std::fabs(lo[2]));
    g.gap.resize(static_cast<size_t>(g.n[0]) * static_cast<size_t>(g.n[1]) * static_cast<size_t>(g.n[2]));

    // Gap from a point to the spheres below a reference: depth first, pruned by the best gap
    // found (a lane's sphere and box bound the leaf spheres below it).
    std::vector<int32_t> stack;
    auto boxGap = [](const double b[6], double x, double y, double z) {
        const double ex = std::max({b[0] - x, x - b[3], 0.0}), ey = std::max({b[1] - y, y - b[4], 0.0});
        const double ez = std::max({b[2] - z, z - b[5], 0.0});
        return std::sqrt(ex * ex + ey * ey + ez * ez);
    };
    for (int k = 0; k < g.n[2]; ++k)
        for (int j = 0; j < g.n[1]; ++j)
            for (int i = 0; i < g.n[0]; ++i) {
                const double p[3] = {double(g.lo[0]) + (i + 0.5) / double(g.invCell),
                                     double(g.lo[1]) + (j + 0.5) / double(g.invCell),
                                     double(g.lo[2]) + (k + 0.5) / double(g.invCell)};
                const double pb[6] = {p[0], p[1], p[2], p[0], p[1], p[2]};
                double best = std::numeric_limits<double>::infinity();
                stack.assign(1, root);
                while (!stack.empty()) {
                    const int32_t ref = stack.back();
                    stack.pop_back();
                    if (ref < 0) {
                        const size_t l = static_cast<size_t>(~ref);
                        best = std::min(best, boxGap(pb, lx[l], ly[l], lz[l]) - lr[l]);
                        continue;
                    }
                    const Node& nd = nodes[static_cast<size_t>(ref)];
                    for (int lane = 0; lane < 4; ++lane) {
                        if (std::isnan(nd.cx[lane])) continue;
                        const double lb[6] = {nd.lo[0][lane], nd.lo[1][lane], nd.lo[2][lane],
                                              nd.hi[0][lane], nd.hi[1][lane], nd.hi[2][lane]};
                        const double bound = std::max(boxGap(pb, nd.cx[lane], nd.cy[lane], nd.cz[lane]) - nd.r[lane],
                                                      boxGap(lb, p[0], p[1], p[2]));
                        if (bound < best) stack.push_back(nd.child[lane]);
                    }
                }
                g.gap[(static_cast<size_t>(k) * g.n[1] + j) * g.n[0] + i] =
                    static_cast<float>(best - slack - 1e-6 * std::fabs(best));
            }
    clearance = std::move(g);
}

}  // namespace col
