#include "support/Ppm.h"

#include <fstream>

Image ReadPpm(const std::string& path) {
    Image img;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic;
    auto skipComments = [&] {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string line;
            std::getline(in, line);
            in >> std::ws;
        }
    };
    skipComments();
    in >> img.width;
    skipComments();
    in >> img.height;
    skipComments();
    in >> maxval;
    in.get();
    if (!in || magic != "P6" || maxval != 255 || img.width <= 0 || img.height <= 0) return Image{};
    img.rgb.resize(static_cast<size_t>(img.width) * img.height * 3);
    in.read(reinterpret_cast<char*>(img.rgb.data()), static_cast<std::streamsize>(img.rgb.size()));
    if (!in) return Image{};
    return img;
}
