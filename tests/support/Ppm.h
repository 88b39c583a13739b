#pragma once
// Minimal reader for binary PPM (P6) screenshots.

#include <cstdint>
#include <string>
#include <vector>

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  ///< row-major, 3 bytes per pixel
    bool valid() const { return width > 0 && height > 0; }
    const uint8_t* at(int x, int y) const { return &rgb[3 * (static_cast<size_t>(y) * width + x)]; }
};

/// Reads a P6 file with maxval 255; returns an invalid image on any fault.
Image ReadPpm(const std::string& path);
