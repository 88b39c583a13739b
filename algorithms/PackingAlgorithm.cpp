#include "algorithms/PackingAlgorithm.h"

#include <cmath>

#include "algorithms/ObjectPose.h"
#include "collision/CollisionPipeline.h"
#include "collision/ExtraData.h"
#include "collision/FibRand.h"
#include "collision/SphereTree.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;

IPackingAlgorithm::IPackingAlgorithm(std::vector<PackingObjectInfo>& objectTypes, MovingObject* container,
                                     std::vector<Vector3>& pointsInside, std::list<MovingObject*>* placedObjects,
                                     Vector3 gridCells)
    : m_placedObjects(placedObjects),
      m_container(container),
      m_pointsInside(&pointsInside),
      m_gridCells(gridCells),
      m_objectTypes(&objectTypes),
      m_random(new col::FibRand(algorithmSeed())) {}

IPackingAlgorithm::~IPackingAlgorithm() = default;

void IPackingAlgorithm::Init() {
    m_collisionPipeline = CreatePipeline("PackingObjectsCollisionThread", 0);
    MakeObjectCollidable(m_collisionPipeline, m_container);
}

void IPackingAlgorithm::InitBSP() {}

void IPackingAlgorithm::InitEmptySpace() {}

col::CollisionPipeline* IPackingAlgorithm::CreatePipeline(std::string name, int /*tag*/) {
    col::CollisionPipeline::M_PipelineAlgorithm = 3;
    auto* pipeline = new col::CollisionPipeline(name.c_str(), 1);
    pipeline->setUseHulls(false);
    pipeline->verbose(false, false);
    return pipeline;
}

int IPackingAlgorithm::MakeObjectCollidable(col::CollisionPipeline* pipeline, MovingObject* object) {
    object->m_id = pipeline->makeCollidable(object->m_geometry, PackingGeometryConverter);
    return object->m_id;
}

namespace {

void SaveState(MovingObject* o) {
    o->m_savedPosition = o->m_position;
    o->m_savedTranslationMatrix = o->m_translationMatrix;
    o->m_savedRotationMatrix = o->m_rotationMatrix;
    o->m_savedModelMatrix = o->m_modelMatrix;
    o->m_velocity = Vector3(0.0f);
    o->m_angularVelocity = Vector3(0.0f);
}

void LoadState(MovingObject* o) {
    o->m_position = o->m_savedPosition;
    o->m_translationMatrix = o->m_savedTranslationMatrix;
    o->m_rotationMatrix = o->m_savedRotationMatrix;
    o->m_modelMatrix = o->m_savedModelMatrix;
    o->m_velocity = Vector3(0.0f);
    o->m_angularVelocity = Vector3(0.0f);
}

}  // namespace

void IPackingAlgorithm::SaveObjectStates(std::list<MovingObject*>* objects) {
    for (MovingObject* o : *objects) SaveState(o);
}
void IPackingAlgorithm::SaveObjectStates(std::vector<MovingObject*>* objects) {
    for (MovingObject* o : *objects) SaveState(o);
}
void IPackingAlgorithm::LoadObjectStates(std::list<MovingObject*>* objects) {
    for (MovingObject* o : *objects) LoadState(o);
}
void IPackingAlgorithm::LoadObjectStates(std::vector<MovingObject*>* objects) {
    for (MovingObject* o : *objects) LoadState(o);
}

int IPackingAlgorithm::TypeForShareDraw(float draw) const {
    float sum = 0.0f;
    for (size_t k = 0; k < m_objectTypes->size(); ++k) {
        sum += (*m_objectTypes)[k].percentage;
        if (sum > draw) return static_cast<int>(k);
    }
    return -1;
}

MovingObject* IPackingAlgorithm::GenerateRandomObject() {
    const int k = TypeForShareDraw(randMToN(0.0f, 100.0f));
    return k < 0 ? nullptr : GenerateObject(k);
}

MovingObject* IPackingAlgorithm::GenerateObject(int k) {
    return GenerateObject(k, (*m_objectTypes)[static_cast<size_t>(k)].size.Draw(*m_random));
}

MovingObject* IPackingAlgorithm::GenerateObject(int k, float size) {
    PackingObjectInfo& type = (*m_objectTypes)[static_cast<size_t>(k)];
    PackingGeometry* source = type.geometry;

    auto* object = new MovingObject();
    auto* geometry = new PackingGeometry();
    object->m_geometry = geometry;

    // The object's geometry is a thin view of its type's: the box is copied, the sphere tree,
    // points and primitives are shared, so thousands of objects cost no mesh copies.
    float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    source->getBBox(min, max);
    geometry->setBBox(min, max);
    geometry->m_extraData = source->m_extraData;
    geometry->m_numVertices = source->m_numVertices;
    geometry->m_pointsPtr = source->editPointsPtr();
    geometry->m_primitivesPtr = source->editPrimitivesPtr();

    object->m_colorPtr = type.color;
    object->m_vertexBuffer = type.vertexBuffer;
    object->m_normalBuffer = type.normalBuffer;
    object->m_modelLocation = type.modelLocation;
    object->m_colorLocation = type.colorLocation;
    object->m_lightLocation = type.lightLocation;
    object->m_normalMatrixLocation = type.normalMatrixLocation;
    object->m_mvpLocation = type.mvpLocation;
    object->m_sizeFactor = size;
    object->m_volume = type.volume * size * size * size;
    object->m_typeIndex = k;
    object->m_name = type.name;
    object->m_extentRatio = type.extentRatio;
    object->m_impulseScale = 5.0f;

    const float a = (max[0] - min[0]) * 0.5f * size;
    const float b = (max[1] - min[1]) * 0.5f * size;
    const float c = (max[2] - min[2]) * 0.5f * size;
    const float w = object->m_inverseMass;
    Matrix3 inertia(0.0f);
    inertia.setElem(0, 0, 3.0f / ((b * b + c * c) * w));
    inertia.setElem(1, 1, 3.0f / ((a * a + c * c) * w));
    inertia.setElem(2, 2, 3.0f / ((a * a + b * b) * w));
    object->m_inverseInertia = inertia;
    Packing::ScaleObject(*object, 1.0f);
    Packing::RebuildModel(*object);
    return object;
}

void IPackingAlgorithm::GridCellCounts(const Vector3& cells, unsigned outCounts[3]) {
    for (int i = 0; i < 3; ++i) {
        const float c = cells[i];
        // Truncation toward zero; a negative or NaN count is no grid axis at all.
        outCounts[i] = (c >= 1.0f) ? static_cast<unsigned>(c) : 0u;
    }
}

void IPackingAlgorithm::UseGrid(Vector3 cells, col::CollisionPipeline* pipeline) {
    m_gridCells = cells;
    m_container->m_geometry->updateBBox();
    float min[3], max[3];
    m_container->m_geometry->getBBox(min, max);
    unsigned counts[3];
    GridCellCounts(cells, counts);
    (pipeline ? pipeline : m_collisionPipeline)->useGrid(counts, min, max);
}

void IPackingAlgorithm::SetImprovementHeuristic(IPackingAlgorithm* next, std::string constructionFile,
                                                std::string improvementFile) {
    m_improvementHeuristic = next;
    m_constructionFile = constructionFile;
    if (next != nullptr) next->m_improvementFile = improvementFile;
}

float IPackingAlgorithm::Distance(MovingObject* a, MovingObject* b) {
    auto* extraA = dynamic_cast<col::ExtraData_SphereTree*>(a->m_geometry->m_extraData);
    auto* extraB = dynamic_cast<col::ExtraData_SphereTree*>(b->m_geometry->m_extraData);
    if (extraA == nullptr || extraB == nullptr) return INFINITY;
    col::SphereTree* treeA = extraA->tree();
    const col::SphereTree* treeB = extraB->tree();

    auto* data = new col::Data(a->m_geometry, b->m_geometry);
    const Matrix4 m12 = Vectormath::Aos::inverse(b->m_modelMatrix) * a->m_modelMatrix;
    data->m12 = m12;
    data->m21 = Vectormath::Aos::inverse(m12);
    data->m12Specified = true;
    data->m21Specified = true;
    const float d = treeA->checkDistance(treeB, data);
    treeA->m_distanceBound = 0;
    treeA->m_visitCount = 0;
    delete data;
    return d;
}
