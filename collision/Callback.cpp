#include "collision/Callback.h"

#include <atomic>

#include "collision/DopTree.h"

namespace col {

Callback::Callback(int id1, int id2, bool, bool, LevelOfDetectionE level) : obj1(id1), obj2(id2), m_level(level) {}
Callback::~Callback() = default;

Data::Data() = default;
Data::Data(ColGeometry* geomA, ColGeometry* geomB) : geom1(geomA), geom2(geomB) {}

namespace {
std::atomic<bool> g_initialized{false};
}

void DopTree::init() { g_initialized.store(true, std::memory_order_release); }
bool DopTree::initialized() { return g_initialized.load(std::memory_order_acquire); }

}  // namespace col
