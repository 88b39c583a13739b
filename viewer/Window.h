#pragma once
// The GLUT window and the fixed GL state of the viewer.

/// Sets the fixed GL state: white clear colour, filled polygons, depth test.
void init();

/// Opens the 500 x 500 window at (500, 200), sets blending, depth test, face culling
/// and init(), then initialises GLEW. Returns false (after writing the message) when
/// OpenGL 3.0 is not supported.
bool OpenWindow(int* argc, char** argv);

struct ViewerContext;

/// Hands the viewer `context`, registers its callbacks and enters the GLUT loop; does not return.
[[noreturn]] void RunWindowLoop(const ViewerContext& context);
