#include "collision/SphereTree.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "collision/Data.h"
#include "collision/TriangleTree.h"

namespace col {

SphereTree::SphereTree() = default;
SphereTree::~SphereTree() = default;
SphereTree::SphereTree(SphereTree&&) noexcept = default;
SphereTree& SphereTree::operator=(SphereTree&&) noexcept = default;

SphereTree::SphereTree(std::vector<SphereNode> nodes, SphereTreeKind kind) : m_nodes(std::move(nodes)), m_kind(kind) {
    buildSoa();
}

void SphereTree::buildSoa() {
    const size_t n = m_nodes.size();
    m_leafCount = 0;
    m_stackBound = 1;
    m_soa = Soa{};
    m_cull = CullTree{};
    if (n == 0) return;
    // Four padding entries keep every 4-wide child load inside the arrays.
    const size_t padded = n + 4;
    m_soa.cx.assign(padded, 0.0f);
    m_soa.cy.assign(padded, 0.0f);
    m_soa.cz.assign(padded, 0.0f);
    m_soa.cullRadius.assign(padded, 0.0f);
    m_soa.first.assign(padded, -1);
    m_soa.count.assign(padded, 0);
    m_soa.leafMask.assign(padded, 0u);
    m_soa.leafParent.assign(padded, 0);
    m_maxChildren = 0;
    std::vector<int> pathSum(n, 0);
    // Children always come after their parent, so one backward pass sees every subtree finished.
    for (size_t k = n; k-- > 0;) {
        const SphereNode& nd = m_nodes[k];
        m_soa.cx[k] = nd.center.getX();
        m_soa.cy[k] = nd.center.getY();
        m_soa.cz[k] = nd.center.getZ();
        m_soa.first[k] = nd.firstChild;
        m_soa.count[k] = nd.childCount;
        if (nd.isLeaf()) {
            m_soa.leafMask[k] = ~0u;
            m_soa.cullRadius[k] = nd.radius;
            ++m_leafCount;
            continue;
        }
        // The file allows a parent to miss its children by a tolerance; culling must not.
        float r = nd.radius;
        int deepest = 0;
        bool allLeaves = true;
        m_maxChildren = std::max(m_maxChildren, nd.childCount);
        for (int c = nd.firstChild; c < nd.firstChild + nd.childCount; ++c) {
            const float dx = m_soa.cx[c] - m_soa.cx[k], dy = m_soa.cy[c] - m_soa.cy[k], dz = m_soa.cz[c] - m_soa.cz[k];
            r = std::max(r, std::sqrt(dx * dx + dy * dy + dz * dz) + m_soa.cullRadius[c]);
            deepest = std::max(deepest, pathSum[c]);
            allLeaves = allLeaves && m_nodes[static_cast<size_t>(c)].isLeaf();
        }
        m_soa.leafParent[k] = allLeaves ? 1 : 0;
        m_soa.cullRadius[k] = r * (1.0f + 1e-6f);
        pathSum[k] = nd.childCount + deepest;
    }
    m_stackBound = pathSum[0] + 1;
    m_cull.build(m_nodes);
    if (m_kind == SphereTreeKind::Container) m_cull.buildClearance();
}

namespace {

struct Affine {
    float m[12];
    void set(const Matrix4& M) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) m[r * 4 + c] = M.getElem(c, r);
    }
    void apply(float x, float y, float z, float out[3]) const {
        for (int r = 0; r < 3; ++r) out[r] = m[r * 4] * x + m[r * 4 + 1] * y + m[r * 4 + 2] * z + m[r * 4 + 3];
    }
    float scale() const { return std::sqrt(m[0] * m[0] + m[4] * m[4] + m[8] * m[8]); }
};

}  // namespace

float SphereTree::leafDistance(const SphereTree& other, const Matrix4& m12) {
    // Branch and bound in object 2's frame: a node pair is opened only while its lower bound can
    // still beat the best leaf distance found so far.
    Affine T;
    T.set(m12);
    const float k = T.scale();
    float best = std::numeric_limits<float>::infinity();
    int visited = 0;
    struct Pair {
        int a, b;
    };
    std::vector<Pair> stack;
    stack.reserve(static_cast<size_t>(m_stackBound + other.m_stackBound + 2));
    stack.push_back({0, 0});
    auto gap = [&](int a, int b) {
        float p[3];
        T.apply(m_soa.cx[a], m_soa.cy[a], m_soa.cz[a], p);
        const float dx = p[0] - other.m_soa.cx[b], dy = p[1] - other.m_soa.cy[b], dz = p[2] - other.m_soa.cz[b];
        return std::sqrt(dx * dx + dy * dy + dz * dz) - k * m_soa.cullRadius[a] - other.m_soa.cullRadius[b];
    };
    while (!stack.empty()) {
        const Pair pr = stack.back();
        stack.pop_back();
        ++visited;
        const float g = gap(pr.a, pr.b);
        if (g >= best) continue;
        const bool leafA = m_soa.count[pr.a] == 0, leafB = other.m_soa.count[pr.b] == 0;
        if (leafA && leafB) {
            best = g;
            continue;
        }
        const bool openA = !leafA && (leafB || k * m_soa.cullRadius[pr.a] >= other.m_soa.cullRadius[pr.b]);
        if (openA) {
            for (int c = m_soa.first[pr.a]; c < m_soa.first[pr.a] + m_soa.count[pr.a]; ++c) stack.push_back({c, pr.b});
        } else {
            for (int c = other.m_soa.first[pr.b]; c < other.m_soa.first[pr.b] + other.m_soa.count[pr.b]; ++c)
                stack.push_back({pr.a, c});
        }
    }
    m_visitCount = visited;
    m_distanceBound = best;
    return std::max(best, 0.0f);
}

float SphereTree::checkDistance(const SphereTree* other, Data* data) {
    data->hasClosestTriangles = false;
    if (!other || empty() || other->empty()) {
        data->distance = std::numeric_limits<float>::infinity();
        return data->distance;
    }
    Matrix4 m12 = Matrix4::identity();
    if (data->m12Specified)
        m12 = data->m12;
    else if (data->m21Specified)
        m12 = Vectormath::Aos::inverse(data->m21);
    if (m_mesh && other->m_mesh && !m_mesh->empty() && !other->m_mesh->empty()) {
        const MeshDistanceResult r = meshDistance(*m_mesh, *other->m_mesh, m12);
        if (r.valid) {
            for (int i = 0; i < 3; ++i) {
                data->closestTri1[i] = r.tri1[i];
                data->closestTri2[i] = r.tri2[i];
            }
            data->hasClosestTriangles = true;
            data->distance = std::max(r.distance, 0.0f);
            m_distanceBound = data->distance;
            return data->distance;
        }
    }
    data->distance = leafDistance(*other, m12);
    return data->distance;
}

}  // namespace col
