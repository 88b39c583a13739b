#include "viewer/Callbacks.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdlib>

// Frame: only the clear colour until the scene is drawn here.
void display() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutPostRedisplay();
    glutSwapBuffers();
}

void reshape(int width, int height) { glViewport(0, 0, width, height); }

void mouseClick(int, int, int, int) {}

void mouseMoving(int, int) { glutPostRedisplay(); }

void keyboard(unsigned char key, int, int) {
    if (key == 27) std::exit(0);
}
