#pragma once
// The start-up sequence and the dispatch into run mode or view mode.

/// Runs densepack with the given arguments and returns the process exit status.
/// Window modes do not return: the GLUT loop ends the process.
int RunDensepack(int argc, char** argv);

/// Checks what sampling needs before any worker starts: a reference volume that is
/// "smallest", "average" or a number, a step factor that is a finite number above 0, and at
/// least one thread. Prints one line and
/// returns false when the configuration cannot be sampled.
bool CheckSamplingSettings();
