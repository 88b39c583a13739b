#pragma once
// Minimal heuristics for driving the framework: they record what the runners call.

#include <string>
#include <vector>

#include "algorithms/ConstructionHeuristic.h"
#include "algorithms/ImprovementHeuristic.h"
#include "support/TestScene.h"

/// Places `toPlace` objects of type 0 on the x axis, 1.5 apart.
class StubConstruction : public IConstructionHeuristic {
 public:
    using IConstructionHeuristic::IConstructionHeuristic;
    void Init() override { ++inits; }
    void ConstructionHeuristic() override {
        ++runs;
        for (int i = 0; i < toPlace; ++i) {
            MovingObject* o = GenerateObject(0);
            o->m_position = Vectormath::Aos::Vector3(1.5f * static_cast<float>(i), 0.0f, 0.0f);
            o->m_translationMatrix.setTranslation(o->m_position);
            o->m_modelMatrix = o->m_translationMatrix;
            m_placedObjects->push_back(o);
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
    StubScene()
        : Scene(2.0f,
                {testscene::MakeType("large", 60.0f, 0.5f, 0.5f), testscene::MakeType("small", 40.0f, 0.25f, 0.25f)}) {}
};
