#pragma once
// One entry per reader of outside input. Each takes the raw bytes of one file, runs the reader
// on them and checks what the reader promises about a file it accepts; a broken promise aborts,
// which libFuzzer records as a finding and the regression test reports as a crash. Returns 0.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

int Config(const uint8_t* data, size_t size);     ///< LoadConfig
int Obj(const uint8_t* data, size_t size);        ///< LoadOBJ and col::loadGeometryFromFile
int Spheres(const uint8_t* data, size_t size);    ///< col::parseSpheres, then a write/read round trip
int PointFile(const uint8_t* data, size_t size);  ///< LoadPointFile
int Placement(const uint8_t* data, size_t size);  ///< LoadPlacedObjects with the bundled cube and tetrahedron
int Mesh(const uint8_t* data, size_t size);       ///< densepack-spheres' spheres::LoadClosedMesh

/// The bytes as a file the path-based readers can open: an anonymous in-memory file, replaced
/// on every call and reached through /proc/self/fd, so fuzzing writes nothing to disk.
std::string InputFile(const uint8_t* data, size_t size);

/// Prints `what` and aborts when `ok` is false.
void Require(bool ok, const char* what);

}  // namespace fuzz
