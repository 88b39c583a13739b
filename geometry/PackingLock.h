#pragma once
// Shared between the algorithm thread and the viewer. It lives with the objects it guards, below
// both the algorithms and the viewer.
//
// g_packingMutex guards (a) the placed-object list itself (insert, erase, pop, clear, splice)
// and (b) the pose fields of every object in it and of the container (m_modelMatrix,
// m_translationMatrix, m_rotationMatrix, m_scaleMatrix, m_position, m_colorPtr). The algorithm
// thread takes it only around such writes; its own reads need no lock, since no other thread
// writes these fields while it runs. The viewer takes it only to copy what it needs.

#include <atomic>
#include <mutex>

inline std::mutex g_packingMutex;

/// Set by start-up while the algorithm thread runs. Keys that replace the list's contents
/// are refused meanwhile: the heuristics iterate the list without the lock.
inline std::atomic<bool> g_algorithmRunning{false};
