#include "viewer/Window.h"

// glew must come before any other GL header.
// clang-format off
#include <GL/glew.h>
#include <GL/freeglut.h>
// clang-format on

#include <cstdlib>
#include <iostream>

#include "viewer/Callbacks.h"
#include "viewer/Framing.h"
#include "viewer/Viewer.h"

void init() {
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_DEPTH_TEST);
}

bool OpenWindow(int* argc, char** argv) {
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(500, 500);
    glutInitWindowPosition(500, 200);
    glutCreateWindow(argv[0]);

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    init();

    glewInit();
    if (!glewIsSupported("GL_VERSION_3_0 ")) {
        std::cerr << "ERROR: Support for necessary OpenGL extensions missing." << std::flush;
        return false;
    }
    return true;
}

void RunWindowLoop(const ViewerContext& context) {
    g_viewerContext = context;
    if (context.frameAtStart) FramePacking(g_camera, false);
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutMouseFunc(mouseClick);
    glutMotionFunc(mouseMoving);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    std::exit(0);
}
