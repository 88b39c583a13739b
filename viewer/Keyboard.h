#pragma once
// The keys of the viewer window (the reports they print are the statistics').

/// The idle callback the space key installs and removes.
void animate();
