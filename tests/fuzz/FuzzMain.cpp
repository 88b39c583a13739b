// The libFuzzer entry of one fuzz target; DENSEPACK_FUZZ_ENTRY names its reader's function.

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return DENSEPACK_FUZZ_ENTRY(data, size); }
