// The system never frees objects, meshes, pipelines or generators before exit (they are shared by
// plain pointer between the phases and the viewer), so the framework tests leak by design.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
