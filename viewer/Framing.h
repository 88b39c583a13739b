#pragma once
// The camera framed on the packing: key "f" and the --frame start.

#include <glm/glm.hpp>

class Camera;

/// The sphere around the container and the placed objects, world frame. Objects parked far
/// outside (farther from the container's box than its diagonal, as candidates waiting outside
/// the container are) do not count. False when there is nothing to frame.
bool PackingSphere(glm::vec3& outCentre, float& outRadius);

/// Frames the packing: from the side the camera looks from now (`keepDirection`, the key) or
/// from a three-quarter view above the front right (the window's start with --frame).
void FramePacking(Camera& camera, bool keepDirection);
