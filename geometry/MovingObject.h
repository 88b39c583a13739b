#pragma once
// One rigid object instance: pose, saved pose, impulse accumulators, rigid-body terms and the
// data the viewer draws it with. A plain copyable record; the heuristics make thousands.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "collision/Data.h"
#include "vectormath/vectormath_aos.h"

class PackingGeometry;

class MovingObject {
 public:
    MovingObject() = default;
    ~MovingObject() = default;  ///< leaves m_geometry alive: meshes are shared and live for the run

    /// Kept for the draw path; the GL buffers belong to the object type.
    void initBuffer() {}
    /// Draws the object with its type's buffers and colour (defined by the viewer).
    void draw(const Vectormath::Aos::Matrix4& viewProjection) const;

    /// Pushes this object and `other` apart from the overlapping sphere pairs in `spheres`
    /// (first sphere of each pair on this object, second on `other`, both in model coordinates).
    /// Adds a unit contact direction to both m_velocity and m_force (scaled by m_impulseScale),
    /// and a spin step of length 0.25 to each angular velocity whose body-frame torque direction
    /// has no zero component. A null or empty list, a list without usable pair (radius <= 1e-7 or
    /// coincident centres) or normals that cancel out leave both objects unchanged.
    void ApplyImpulse2(MovingObject* other, const std::vector<col::SphereIntersectionData>* spheres);

    /// The hybrid settling variant: adds the unit torque direction of the contact forces to each
    /// m_torque (skipped for an object whose torque sum is zero), the contact direction times
    /// m_impulseScale to each m_force, and turns each m_velocity onto the contact normal damped by
    /// 0.8, or marks the object m_stopped when its squared speed is below 0.01.
    void ApplyImpulse4(MovingObject* other, const std::vector<col::SphereIntersectionData>* spheres);

    /// Allocates the three per-type tables for `typeCount` types: rotation axes and translations
    /// (0, 0, 1), angles 0, replacing (and freeing) earlier tables. Scene creation calls it once;
    /// nothing may hold a pointer into the tables across a second call.
    static void AllocateTypeTables(size_t typeCount);

    int32_t m_id = -1;                      ///< id in the collision pipeline the object was made collidable in
    int32_t m_auxId = -1;                   ///< id in the statistics' auxiliary pipeline
    PackingGeometry* m_geometry = nullptr;  ///< not owned
    Vectormath::Aos::Matrix4 m_translationMatrix = Vectormath::Aos::Matrix4::identity();
    Vectormath::Aos::Matrix4 m_rotationMatrix = Vectormath::Aos::Matrix4::identity();
    Vectormath::Aos::Matrix4 m_scaleMatrix = Vectormath::Aos::Matrix4::identity();
    /// translation * rotation * scale; handed to the pipeline, drawn, used by the impulses
    Vectormath::Aos::Matrix4 m_modelMatrix = Vectormath::Aos::Matrix4::identity();
    Vectormath::Aos::Matrix4 m_savedTranslationMatrix = Vectormath::Aos::Matrix4::identity();
    Vectormath::Aos::Matrix4 m_savedRotationMatrix = Vectormath::Aos::Matrix4::identity();
    Vectormath::Aos::Matrix4 m_savedModelMatrix = Vectormath::Aos::Matrix4::identity();
    Vectormath::Aos::Vector3 m_savedPosition;
    alignas(16) float m_color[4] = {0.929f, 0.07f, 0.858f, 1.0f};  ///< object-owned RGBA
    float* m_colorPtr = nullptr;                                   ///< RGBA drawn: the type's colour or m_color
    bool m_stopped = false;      ///< done flag: at rest (hybrid), placed, or fully grown
    float m_overlap = 0.0f;      ///< overlap value reported for this object
    int32_t m_typeIndex = -1;    ///< index into the volume-sorted type list
    float m_volume = 0.0f;       ///< the type's volume at the object's size factor
    float m_sizeFactor = 1.0f;   ///< linear size drawn from its type; ScaleObject scales relative to it
    std::string m_name;          ///< the type's name
    float m_extentRatio = 0.0f;  ///< the type's (smallest extent)^3 / box volume
    uint32_t m_vertexBuffer = 0;
    uint32_t m_normalBuffer = 0;
    int32_t m_modelLocation = 0;
    int32_t m_colorLocation = 0;
    int32_t m_lightLocation = 0;
    int32_t m_normalMatrixLocation = 0;
    int32_t m_mvpLocation = 0;
    Vectormath::Aos::Vector3 m_force;  ///< linear accumulator of impulse directions
    float m_impulseScale = 0.0f;       ///< factor on the contact normal added to m_force
    float m_inverseMass = 1.0f;        ///< 0 makes the object immovable (the container)
    Vectormath::Aos::Vector3 m_velocity;
    Vectormath::Aos::Vector3 m_position;        ///< equals the translation column of m_translationMatrix
    Vectormath::Aos::Matrix3 m_inverseInertia;  ///< body frame, diagonal
    Vectormath::Aos::Vector3 m_angularMomentum;
    Vectormath::Aos::Vector3 m_torque;
    Vectormath::Aos::Matrix3 m_inverseInertiaWorld;  ///< R * m_inverseInertia * R^T
    Vectormath::Aos::Vector3 m_angularVelocity;

    static Vectormath::Aos::Vector3* m_rotDir;       ///< per type: rotation axis of the moves
    static float* m_angle;                           ///< per type: rotation angle
    static Vectormath::Aos::Vector3* m_translation;  ///< per type: translation vector
    static int fill_mode;                            ///< viewer polygon mode, GL_LINE at start
};
