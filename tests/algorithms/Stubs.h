#pragma once
// Minimal heuristics for driving the framework, which record what the runners call, and the
// object helpers these tests share.

#include <string>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/ImprovementHeuristic.h"
#include "support/TestScene.h"

using testscene::MakeType;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Vector3;

/// A rod long along x: half extent 0.9, about 0.72 in x and y after a 45 degree turn about z.
inline PackingObjectInfo MakeRodType(float share) {
    std::vector<col::SphereNode> nodes(3);
    nodes[0].radius = 0.91f, nodes[0].firstChild = 1, nodes[0].childCount = 2;
    for (int i = 1; i < 3; ++i) nodes[i].center = Point3(i == 1 ? -0.6f : 0.6f, 0, 0), nodes[i].radius = 0.3f;
    PackingObjectInfo t;
    t.name = "rod";
    t.percentage = share;
    t.geometry = testscene::MakeBox(0.9f, 0.3f, 0.3f);
    t.geometry->m_extraData = new col::ExtraData_SphereTree(col::SphereTree(nodes));
    return t;
}

/// Translation `t`, then rotation by `angle` about `axis`, then uniform `scale`.
inline void Pose(MovingObject* o, Vector3 t, float angle, Vector3 axis, float scale) {
    o->m_position = t;
    o->m_translationMatrix = Matrix4::translation(t);
    o->m_rotationMatrix = Matrix4::rotation(angle, Vectormath::Aos::normalize(axis));
    o->m_scaleMatrix = Matrix4::scale(Vector3(scale));
    o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
}

/// Places `toPlace` objects of type 0 on the x axis, 1.5 apart.
class StubConstruction : public IConstructionHeuristic {
 public:
    using IConstructionHeuristic::IConstructionHeuristic;
    void Init() override { ++inits; }
    void ConstructionHeuristic() override {
        ++runs;
        for (int i = 0; i < toPlace; ++i) {
            m_placedObjects->push_back(GenerateObject(0));
            Pose(m_placedObjects->back(), Vector3(1.5f * i, 0, 0), 0, Vector3(0, 0, 1), 1);
        }
    }
    int toPlace = 2;
    int inits = 0;
    int runs = 0;
};

class StubImprovement : public IImprovementHeuristic {
 public:
    using IImprovementHeuristic::IImprovementHeuristic;
    void Init() override { ++inits; }
    void ImprovementHeuristic() override { seenObjects = m_placedObjects->size(); }
    int inits = 0;
    size_t seenObjects = 0;
};

/// Two box types (shares 60/40 unless changed) in a box container of half size 2.
struct StubScene : testscene::Scene {
    StubScene() : Scene(2.0f, {MakeType("large", 60.0f, 0.5f, 0.5f), MakeType("small", 40.0f, 0.25f, 0.25f)}) {}
};
