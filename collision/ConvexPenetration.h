#pragma once
/// @file ConvexPenetration.h
/// Penetration depth of two overlapping posed convex shapes (expanding polytope on their
/// Minkowski difference).

#include "collision/ConvexShape.h"

namespace col {

struct PenetrationResult {
    /// Shortest translation of B that leaves the two shapes touching, world units: 0 when they are
    /// apart or touch. When `converged`, within 1e-6 of the two shapes' size below the true
    /// depth; otherwise a lower bound.
    float depth = 0.0f;
    /// Unit direction (world frame) to move B along by `depth`; zero when depth is 0.
    Vector3 normal_W = Vector3(0.0f);
    bool converged = false;  ///< the bound met the support within the tolerance
    int iterations = 0;      ///< support points added to the polytope
};

/// Penetration depth of A and B, exact for the convex hulls of their vertices. Empty shapes,
/// and shapes that do not overlap by more than about 1e-6 of their size, give depth 0 with
/// `converged` true.
PenetrationResult convexPenetration(const ConvexShape& a, const ScaledPose& X_WA, const ConvexShape& b,
                                    const ScaledPose& X_WB);

}  // namespace col
