#include "viewer/Camera.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>

namespace {

// Keeps an accumulated angle within one turn either way.
float Wrap360(float angle) {
    if (angle > 360.0f) return angle - 360.0f;
    if (angle < -360.0f) return angle + 360.0f;
    return angle;
}

}  // namespace

void Camera::SetMode(CameraType mode) {
    m_mode = mode;
    m_up = glm::vec3(0.0f, 1.0f, 0.0f);
}

void Camera::Reset() { m_up = glm::vec3(0.0f, 1.0f, 0.0f); }

void Camera::SetViewport(int x, int y, int width, int height) {
    m_viewport[0] = x;
    m_viewport[1] = y;
    m_viewport[2] = width;
    m_viewport[3] = height;
    m_aspect = static_cast<double>(width) / static_cast<double>(height);
}

void Camera::SetClipping(double nearClip, double farClip) {
    m_nearClip = nearClip;
    m_farClip = farClip;
}

void Camera::Update(bool applyViewport) {
    if (applyViewport) glViewport(m_viewport[0], m_viewport[1], m_viewport[2], m_viewport[3]);

    if (m_mode == Ortho) {
        const float a = static_cast<float>(m_aspect);
        m_projection = glm::ortho(-1.5f * a, 1.5f * a, -1.5f, 1.5f, -10.0f, 10.0f);
    } else if (m_mode == Free || m_mode == Orbit) {
        m_direction = glm::normalize(m_lookAt - m_eye);
        m_projection = glm::mat4(glm::perspective(m_fieldOfView, m_aspect, m_nearClip, m_farClip));
        const glm::vec3 side = glm::cross(m_direction, m_up);
        // glm::normalize turns a zero-length quaternion into the identity.
        const glm::quat q = glm::normalize(glm::angleAxis(m_pitch, side) * glm::angleAxis(m_heading, m_up));
        if (m_mode == Free) {
            m_direction = q * m_direction;
            m_eye += m_eyeDelta;
            m_lookAt = m_eye + m_direction;
            m_heading *= 0.5f;
            m_pitch *= 0.5f;
            m_eyeDelta *= 0.8f;
        } else {
            m_eye = q * m_eye;
            m_eyeDelta *= 0.008f;
            // The turn fades out over a few frames once the mouse stops.
            m_heading = static_cast<float>(static_cast<double>(m_heading) * 0.005);
            m_pitch = static_cast<float>(static_cast<double>(m_pitch) * 0.005);
        }
    }

    m_view = glm::lookAtRH(m_eye * m_zoom, m_lookAt, m_up);
    m_model = glm::mat4(1.0f);
    m_mvp = m_projection * m_view * m_model;
}

void Camera::Frame(glm::vec3 centre, float radius, glm::vec3 fromDirection) {
    // The projection takes tan(fov / 2) of the value as it is, so the effective half angle is
    // the one with that tangent, whatever the stored number.
    const double tanHalfV = std::abs(std::tan(m_fieldOfView / 2.0));
    const double aspect = m_aspect > 0.0 && std::isfinite(m_aspect) ? m_aspect : 1.0;
    const double half = std::atan(std::min(tanHalfV, tanHalfV * aspect));
    // The sphere's silhouette touches the window's edges at radius / sin(half); a little farther
    // leaves a margin.
    constexpr double kMargin = 1.08;
    const double distance = kMargin * static_cast<double>(radius) / std::sin(half);

    glm::vec3 dir = glm::length(fromDirection) > 0.0f ? glm::normalize(fromDirection) : glm::vec3(0, 0, 1);
    const glm::vec3 up = glm::normalize(m_up);
    if (std::abs(glm::dot(dir, up)) > 0.999f) dir = glm::normalize(dir + 0.05f * glm::vec3(up.y, up.z, up.x));

    m_lookAt = centre;
    m_eye = centre + static_cast<float>(distance) * dir;
    m_zoom = 1.0f;
    m_heading = m_pitch = 0.0f;
    m_eyeDelta = glm::vec3(0.0f);
    const double reach = glm::length(m_eye) + static_cast<double>(radius);
    if (m_farClip < reach) m_farClip = 2.0 * reach;
}

void Camera::SetPos(int button, int state, int x, int y) {
    if (button == 2 && state == 0)
        m_rightButtonDown = true;
    else if (button == 2 && state == 1)
        m_rightButtonDown = false;
    if (button == 3 && state == 0)
        m_eyeDelta += m_up * 0.005f;
    else if (button == 4 && state == 0)
        m_eyeDelta -= m_up * 0.005f;
    if (button == 0 && state == 0)
        m_leftButtonDown = true;
    else if (button == 0 && state == 1)
        m_leftButtonDown = false;
    m_mousePosition = glm::vec3(static_cast<float>(x), static_cast<float>(y), 0.0f);
}

void Camera::Move2D(int x, int y) {
    const float dx = m_mousePosition.x - static_cast<float>(x);
    if (m_leftButtonDown) {
        const float headingStep = std::clamp(dx * 0.005f, -m_maxHeadingRate, m_maxHeadingRate);
        m_heading = Wrap360(m_heading + headingStep);
        const float dy = m_mousePosition.y - static_cast<float>(y);
        const float pitchStep = std::clamp(dy * 0.005f, -m_maxPitchRate, m_maxPitchRate);
        m_pitch = Wrap360(m_pitch + pitchStep);
    } else if (m_rightButtonDown) {
        m_zoom = static_cast<float>(static_cast<double>(m_zoom) + static_cast<double>(dx) * 0.005);
    }
    m_mousePosition = glm::vec3(static_cast<float>(x), static_cast<float>(y), 0.0f);
}

void Camera::ChangePitch(float degrees) {
    m_pitch = Wrap360(m_pitch + std::clamp(degrees, -m_maxPitchRate, m_maxPitchRate));
}

void Camera::ChangeHeading(float degrees) {
    m_heading = Wrap360(m_heading + std::clamp(degrees, -m_maxHeadingRate, m_maxHeadingRate));
}

void Camera::Move(CameraDirection direction) {
    if (m_mode != Free) return;
    const float s = m_moveScale;
    switch (direction) {
        case Up:
            m_eyeDelta += m_up * s;
            break;
        case Down:
            m_eyeDelta -= m_up * s;
            break;
        case Forward:
            m_eyeDelta += m_direction * s;
            break;
        case Back:
            m_eyeDelta -= m_direction * s;
            break;
        case Right:
            m_eyeDelta += glm::cross(m_direction, m_up) * s;
            break;
        case Left:
            m_eyeDelta -= glm::cross(m_direction, m_up) * s;
            break;
    }
}

void Camera::GetViewport(int& outX, int& outY, int& outWidth, int& outHeight) const {
    outX = m_viewport[0];
    outY = m_viewport[1];
    outWidth = m_viewport[2];
    outHeight = m_viewport[3];
}

void Camera::GetMatricies(glm::mat4& outProjection, glm::mat4& outView, glm::mat4& outModel) const {
    outProjection = m_projection;
    outView = m_view;
    outModel = m_model;
}
