#pragma once
// Upload of a mesh's render lists into GL array buffers. Needs a current GL context.

class PackingGeometry;

/// Creates a buffer holding m_vertices as x, y, z floats (12 bytes per vertex) and stores its
/// name in *buffer. An empty mesh gives a buffer of size 0.
void generateVBO(PackingGeometry* geometry, unsigned* buffer);

/// The same for m_normals.
void generateNormalVBO(PackingGeometry* geometry, unsigned* buffer);
