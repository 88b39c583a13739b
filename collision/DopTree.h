#pragma once
/// @file DopTree.h
/// One-time library initialisation.

namespace col {

struct DopTree {
    /// Idempotent and thread-safe; nothing needs precomputing today, so this only records the call.
    static void init();
    static bool initialized();
};

}  // namespace col
