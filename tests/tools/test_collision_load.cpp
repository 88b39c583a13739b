// Every committed tree loads in the collision library, with the node and leaf counts it declares.
#include <gtest/gtest.h>

#include "TreeFile.h"
#include "collision/ExtraData.h"

using namespace toolstest;

TEST(CommittedTrees, LoadInTheCollisionLibrary) {
    for (const char* name : {"sphere", "cube", "mm", "prolate", "tetrahedron", "cylinder", "torus", "box",
                             "cylinder_container", "sphere_container"}) {
        const std::string path = ModelsDir() + "/" + name + ".spheres";
        col::ExtraData_SphereTree tree(path.c_str());
        EXPECT_TRUE(tree.isValid()) << name << ": " << tree.error();
    }
}
