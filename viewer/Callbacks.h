#pragma once
// GLUT callbacks of the viewer window.

void display();
void reshape(int width, int height);
void mouseClick(int button, int state, int x, int y);
void mouseMoving(int x, int y);
void keyboard(unsigned char key, int x, int y);
