// What the collision benchmarks share: FCL versions of our meshes and poses, and the
// ours/peer pairs whose ratios main() prints (defined in bench_overlap.cpp).
#pragma once

#include <fcl/fcl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "benchscenes.h"

namespace colbench {
void compare(const std::string& ours, const std::string& peer);
std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> fclMesh(const std::vector<Vectormath::Aos::Point3>& pts,
                                                     const std::vector<std::vector<unsigned>>& tris);
fcl::Transform3d fclPose(const Vectormath::Aos::Matrix4& m);

/// One fixture per model name, built on first use and kept for the whole run.
template <class Fixture>
Fixture& cachedFixture(const std::string& name) {
    static std::map<std::string, std::unique_ptr<Fixture>> cache;
    auto& f = cache[name];
    if (!f) f = std::make_unique<Fixture>(name);
    return *f;
}
}  // namespace colbench
