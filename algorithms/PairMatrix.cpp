#include "algorithms/PairMatrix.h"

#include <iostream>

#include "geometry/MovingObject.h"

namespace Packing {

namespace {
bool HasIntersections(const std::vector<col::SphereIntersectionData>* list) {
    return list != nullptr && !list->empty();
}
}  // namespace

void SizeMatrix(IsecMatrix& matrix, size_t n) {
    matrix.assign(n, std::vector<std::vector<col::SphereIntersectionData>*>(n, nullptr));
}

void GrowMatrix(IsecMatrix& matrix) {
    matrix.emplace_back();
    for (auto& row : matrix) row.resize(matrix.size(), nullptr);
    for (auto& row : matrix) row.back() = nullptr;
    for (auto& entry : matrix.back()) entry = nullptr;
}

void ClearMatrix(IsecMatrix& matrix) {
    for (auto& row : matrix)
        for (auto& entry : row) entry = nullptr;
}

void ResolvePairs(IsecMatrix& matrix, const std::vector<MovingObject*>& objects, MovingObject* container,
                  ImpulseRule rule, bool releaseLists) {
    auto apply = [&](MovingObject* a, MovingObject* b, std::vector<col::SphereIntersectionData>* list) {
        (a->*rule)(b, list);
        if (releaseLists) {
            list->clear();
            list->shrink_to_fit();
        }
    };
    const size_t n = objects.size();
    for (size_t i = 1; i < matrix.size(); ++i)
        for (size_t j = 1; j < matrix[i].size(); ++j)
            if (HasIntersections(matrix[i][j]) && i - 1 < n && j - 1 < n)
                apply(objects[i - 1], objects[j - 1], matrix[i][j]);
    if (!matrix.empty())
        for (size_t j = 1; j < matrix.size(); ++j)
            if (HasIntersections(matrix[0][j]) && j - 1 < n) apply(container, objects[j - 1], matrix[0][j]);
    ClearMatrix(matrix);
}

MatrixCallback::MatrixCallback(MovingObject& a, MovingObject& b, col::LevelOfDetectionE level, IsecMatrix* matrix,
                               bool& flag, Options options)
    : col::Callback(a.m_id, b.m_id, false, true, level),
      m_a(a),
      m_b(b),
      m_matrix(matrix),
      m_flag(flag),
      m_options(options) {
    // Without addOverlap only the lists are used: the query may then skip the small pairs.
    setReadsOverlap(options.addOverlap);
}

void MatrixCallback::operator()(const col::Data* data) {
    if (m_a.m_id != getId1() || m_b.m_id != getId2()) {
        std::cerr << "MovemCallback: mobj.node != obj !" << std::endl;
        return;
    }
    m_flag = false;
    if (!HasIntersections(data->sphereIntersections)) {
        std::cout << "IsecData was NULL!" << std::endl;
        return;
    }
    if (m_options.addOverlap) {
        m_a.m_overlap += data->overlap;
        m_b.m_overlap += data->overlap;
    }
    const size_t i = static_cast<size_t>(getId1()), j = static_cast<size_t>(getId2());
    // Ids of a pipeline never outgrow the matrix; the check only guards against a foreign one.
    if (i < m_matrix->size() && j < (*m_matrix)[i].size()) (*m_matrix)[i][j] = data->sphereIntersections;
    if (m_options.releaseNodePairs && data->nodePairs != nullptr) {
        data->nodePairs->clear();
        data->nodePairs->shrink_to_fit();
    }
}

}  // namespace Packing
