// createScene in process on small generated models: load order, messages, volume sort,
// container set-up, per-type tables and the two failure paths.

#include <gtest/gtest.h>

#include <string>

#include "app/Globals.h"
#include "app/Scene.h"
#include "geometry/PackingGeometry.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

class Scene : public ::testing::Test {
 protected:
    void SetUp() override {
        RunCommand("mkdir -p " + ShellQuote(models));
        g_configData = ConfigData();
        g_configData.modelPath = models;
        g_configData.containerName = "box";
        g_container = MovingObject();
        g_objectsByType.clear();
        AddModel("box", 6.0f);
    }
    // What createScene allocated for the whole run, freed so the leak checker sees a clean exit.
    void TearDown() override {
        for (PackingObjectInfo& t : g_configData.objects) {
            if (t.geometry != nullptr) delete t.geometry->m_extraData;
            delete t.geometry;
            t.geometry = nullptr;
        }
        if (g_container.m_geometry != nullptr) delete g_container.m_geometry->m_extraData;
        delete g_container.m_geometry;
        g_container.m_geometry = nullptr;
        for (auto* list : g_objectsByType) delete list;
        g_objectsByType.clear();
    }
    // A cube model of the edge, with a one-sphere tree; and a type of that name.
    void AddModel(const std::string& name, float edge, bool type = false) {
        WriteFile(models + name + ".obj", testscene::BoxObj(edge / 2));
        WriteFile(models + name + ".spheres",
                  "densepack-spheres 1\nkind object\nnodes 1 leaves 1\n0 0 0 0.5 0 0 0 3.14159265 -1 0\nend\n");
        if (type) AddType(name);
    }
    void AddType(const std::string& name) {
        g_configData.objects.emplace_back();
        g_configData.objects.back().name = name;
    }
    bool Create() {
        bool ok = false;
        err = StderrOf([&] { out = StdoutOf([&] { ok = createScene(); }); });
        return ok;
    }
    std::string models = MakeTempDir("scene") + "/models/", out, err;
};

TEST_F(Scene, TypesAreSortedLargestFirstAndTheContainerIsSetUp) {
    AddModel("small", 1.0f, true);
    AddModel("large", 3.0f, true);
    AddModel("medium", 2.0f, true);
    g_configData.containerColor[0] = 0.8f;
    ASSERT_TRUE(Create()) << err;
    EXPECT_EQ(out,
              models + "small.obj\n" + models + "large.obj\n" + models + "medium.obj\nNr. of object types loaded: 3\n");
    EXPECT_EQ(err, "");
    const auto& types = g_configData.objects;
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0].name + types[1].name + types[2].name, "largemediumsmall");
    EXPECT_NEAR(types[0].volume, 27.0f, 1e-4f);
    EXPECT_NEAR(types[2].volume, 1.0f, 1e-5f);
    for (const PackingObjectInfo& t : types) {
        ASSERT_NE(t.geometry, nullptr);
        ASSERT_NE(t.geometry->sphereTree(), nullptr) << t.name;
        EXPECT_TRUE(t.geometry->sphereTree()->isValid());
        EXPECT_EQ(t.vertexBuffer, 0u) << "no GL context: no buffers";
        EXPECT_EQ(t.geometry->m_pointsPtr, nullptr) << "set per object later";
    }
    float mn[3], mx[3];
    types[1].geometry->getBBox(mn, mx);
    EXPECT_FLOAT_EQ(mx[0] - mn[0], 2.0f);

    const PackingGeometry* box = g_container.m_geometry;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->m_pointsPtr, g_container.m_geometry->editPointsPtr());
    EXPECT_EQ(box->m_primitivesPtr, g_container.m_geometry->editPrimitivesPtr());
    EXPECT_EQ(box->getPoints().size(), 8u);
    EXPECT_NEAR(calculateVolume(box), 216.0f, 1e-3f);
    EXPECT_EQ(g_container.m_colorPtr, g_configData.containerColor);
    EXPECT_NE(box->sphereTree(), nullptr);
    ASSERT_EQ(g_objectsByType.size(), 3u);
    for (auto* list : g_objectsByType) EXPECT_TRUE(list->empty());
    EXPECT_EQ(length(MovingObject::m_rotDir[2] - Vectormath::Aos::Vector3(0, 0, 1)), 0.0f);
    EXPECT_EQ(MovingObject::m_angle[2], 0.0f);
}

TEST_F(Scene, CoarseMeshPreferredTreeFromThePlainNameAndZeroTypesStillLoadTheContainer) {
    ASSERT_TRUE(Create());
    EXPECT_EQ(out, "Nr. of object types loaded: 0\n");
    EXPECT_EQ(g_container.m_geometry->getPoints().size(), 8u);
    EXPECT_TRUE(g_objectsByType.empty());

    TearDown();
    AddModel("cube", 1.0f, true);
    WriteFile(models + "cube_l.obj", testscene::BoxObj(1.0f));
    ASSERT_TRUE(Create()) << err;
    EXPECT_EQ(out, models + "cube_l.obj\nNr. of object types loaded: 1\n");
    EXPECT_NEAR(g_configData.objects[0].volume, 8.0f, 1e-5f);
    ASSERT_NE(g_configData.objects[0].geometry->sphereTree(), nullptr);
    EXPECT_TRUE(g_configData.objects[0].geometry->sphereTree()->isValid()) << "read from cube.spheres";
    EXPECT_EQ(err, "");
}

TEST_F(Scene, FailingSecondTypeStopsAfterItsMessageAndAFailingContainerAfterTheSort) {
    AddModel("a", 1.0f, true);
    AddType("b");
    AddModel("c", 2.0f, true);
    EXPECT_FALSE(Create());
    EXPECT_EQ(out, models + "a.obj\n" + models + "b.obj\n");
    EXPECT_EQ(err, "Object model could not be loaded. Model: b\n");
    EXPECT_NE(g_configData.objects[0].geometry, nullptr);
    EXPECT_EQ(g_configData.objects[1].geometry, nullptr);
    EXPECT_EQ(g_configData.objects[2].geometry, nullptr);
    EXPECT_EQ(g_configData.objects[0].volume, 0.0f) << "not sorted, no volumes";
    EXPECT_EQ(g_container.m_geometry, nullptr);
    EXPECT_TRUE(g_objectsByType.empty());

    TearDown();
    g_configData.objects.erase(g_configData.objects.begin() + 1);
    g_configData.containerName = "nobox";
    EXPECT_FALSE(Create());
    EXPECT_EQ(err, "Container model could not be loaded. -2\n");
    EXPECT_EQ(g_configData.objects[0].name, "c");
    EXPECT_NE(g_container.m_geometry, nullptr);
    EXPECT_TRUE(g_objectsByType.empty());

    // A malformed container: each reader names the line, then the sum of the two -2 results.
    TearDown();
    WriteFile(models + "bad.obj", "v 0 0 0\nf 1 2 3\n");
    g_configData.containerName = "bad";
    EXPECT_FALSE(Create());
    EXPECT_EQ(err.substr(err.rfind("Container")), "Container model could not be loaded. -4\n");
    EXPECT_NE(err.find(models + "bad.obj:2: "), std::string::npos) << err;
}

}  // namespace
