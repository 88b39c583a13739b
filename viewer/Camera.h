#pragma once
// The view camera: mouse input turns into pending heading, pitch and zoom, which Update
// consumes once per frame into the projection, view and model-view-projection matrices.

#include <glm/glm.hpp>

enum CameraType {
    Ortho = 0,  ///< orthographic projection, no motion
    Free = 1,   ///< first-person style motion
    Orbit = 2,  ///< the eye rotates about the origin
};

enum CameraDirection { Up = 0, Down, Left, Right, Forward, Back };

class Camera {
 public:
    Camera() = default;

    /// Sets the mode and resets the up vector to +y.
    void SetMode(CameraType mode);
    /// Resets the up vector to +y.
    void Reset();
    void SetPosition(glm::vec3 position) { m_eye = position; }
    void SetLookAt(glm::vec3 lookAt) { m_lookAt = lookAt; }
    /// The field of view is used as an angle in radians.
    void SetFOV(double fov) { m_fieldOfView = fov; }
    /// Stores the viewport and aspect = width / height (a zero height gives an infinite aspect).
    void SetViewport(int x, int y, int width, int height);
    void SetClipping(double nearClip, double farClip);

    /// Computes the frame's matrices and consumes the pending motion; also sets glViewport
    /// when `applyViewport` is true (the window does so; unit tests run without GL).
    void Update(bool applyViewport = true);

    /// Looks at `centre` from the side `fromDirection` points to, at the distance where a sphere of
    /// `radius` just fits the narrower view angle of the current viewport (a viewport not yet set
    /// counts as square). Pending turns, translation and the zoom are reset; the far clipping
    /// distance grows when the sphere would reach beyond it. A direction along the up axis is
    /// tilted a little, since the view cannot look straight along it.
    void Frame(glm::vec3 centre, float radius, glm::vec3 fromDirection);
    /// The side the eye currently looks from: eye (with the zoom) minus the look-at point.
    glm::vec3 viewedFrom() const { return m_eye * m_zoom - m_lookAt; }

    /// GLUT mouse button event: 0 left, 2 right, 3/4 wheel; state 0 down, 1 up.
    void SetPos(int button, int state, int x, int y);
    /// Motion with a button held: left turns (each step clamped), right zooms.
    void Move2D(int x, int y);

    /// Keyboard-style motion of the Free mode; nothing else calls them.
    void Move(CameraDirection direction);
    void ChangePitch(float degrees);
    void ChangeHeading(float degrees);

    CameraType GetMode() const { return m_mode; }
    void GetViewport(int& outX, int& outY, int& outWidth, int& outHeight) const;
    void GetMatricies(glm::mat4& outProjection, glm::mat4& outView, glm::mat4& outModel) const;
    const glm::mat4& GetMVP() const { return m_mvp; }

    // Read access for tests and the frame code.
    glm::vec3 eye() const { return m_eye; }
    glm::vec3 eyeDelta() const { return m_eyeDelta; }
    glm::vec3 lookAt() const { return m_lookAt; }
    float heading() const { return m_heading; }
    float pitch() const { return m_pitch; }
    float zoom() const { return m_zoom; }

 private:
    CameraType m_mode = Free;
    int m_viewport[4] = {0, 0, 0, 0};  ///< x, y, width, height
    double m_aspect = 0.0;
    double m_fieldOfView = 45.0;
    double m_nearClip = 0.0;
    double m_farClip = 0.0;
    float m_moveScale = 0.005f;
    float m_heading = 0.0f;  ///< pending rotation about the up axis
    float m_pitch = 0.0f;    ///< pending rotation about the side axis
    float m_maxPitchRate = 5.0f;
    float m_maxHeadingRate = 5.0f;
    bool m_leftButtonDown = false;
    bool m_rightButtonDown = false;
    glm::vec3 m_eye{0.0f};
    glm::vec3 m_eyeDelta{0.0f};  ///< pending eye translation (ignored in Orbit)
    glm::vec3 m_lookAt{0.0f};
    glm::vec3 m_direction{0.0f};
    glm::vec3 m_up{0.0f, 1.0f, 0.0f};
    glm::vec3 m_mousePosition{0.0f};
    glm::mat4 m_projection{1.0f};
    glm::mat4 m_view{1.0f};
    glm::mat4 m_model{1.0f};
    glm::mat4 m_mvp{1.0f};
    float m_zoom = 1.0f;  ///< factor on the eye position in the view matrix
};
