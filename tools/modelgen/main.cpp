// densepack-modelgen: writes the bundled object and container meshes as OBJ files.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Shapes.h"

using namespace modelgen;

namespace {

struct Entry {
    std::string name;
    std::string title;
    std::function<Model()> make;
};

std::vector<Entry> Catalogue() {
    return {
        {"sphere", "sphere, diameter 1", [] { return Ellipsoid(0.5, 0.5, 0.5, 3); }},
        {"sphere_l", "sphere, diameter 1, coarse", [] { return Ellipsoid(0.5, 0.5, 0.5, 2); }},
        {"cube", "cube, edge 0.8", [] { return Box(0.8, 0.8, 0.8); }},
        {"mm", "oblate ellipsoid, semi-axes 0.5 0.5 0.25", [] { return Ellipsoid(0.5, 0.5, 0.25, 3); }},
        {"mm_l", "oblate ellipsoid, semi-axes 0.5 0.5 0.25, coarse", [] { return Ellipsoid(0.5, 0.5, 0.25, 2); }},
        {"prolate", "prolate ellipsoid, semi-axes 0.25 0.25 0.5", [] { return Ellipsoid(0.25, 0.25, 0.5, 3); }},
        {"tetrahedron", "regular tetrahedron, edge 0.99", [] { return Tetrahedron(0.35); }},
        {"cylinder", "cylinder, diameter 0.8, height 0.8", [] { return Cylinder(0.4, 0.8, 48); }},
        {"cylinder_l", "cylinder, diameter 0.8, height 0.8, coarse", [] { return Cylinder(0.4, 0.8, 16); }},
        {"torus", "torus, R 0.35, r 0.15", [] { return Torus(0.35, 0.15, 48, 24); }},
        {"box", "container: box 6 x 6 x 6", [] { return Box(6, 6, 6); }},
        {"cylinder_container", "container: cylinder, diameter 6, height 6", [] { return Cylinder(3, 6, 64); }},
        {"sphere_container", "container: sphere, diameter 7", [] { return Ellipsoid(3.5, 3.5, 3.5, 4); }},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf(
            "usage: densepack-modelgen OUTDIR [NAME...]\n"
            "Writes OUTDIR/NAME.obj for every bundled model (or only the named ones).\n"
            "       densepack-modelgen --list   prints the model names\n"
            "       densepack-modelgen --box OUTDIR NAME X Y Z   writes a box container of that size\n");
        return 0;
    }
    if (argc >= 2 && std::string(argv[1]) == "--box") {
        // A box container of any size, for runs at scale (say 10,000 spheres in 22 x 22 x 22).
        double size[3] = {0, 0, 0};
        bool ok = argc == 7;
        for (int k = 0; ok && k < 3; ++k) {
            char* end = nullptr;
            size[k] = std::strtod(argv[4 + k], &end);
            ok = end != argv[4 + k] && *end == '\0' && size[k] > 0.0 && size[k] < 1e6;
        }
        if (!ok) {
            std::fprintf(stderr, "densepack-modelgen: --box needs OUTDIR NAME and three sizes above 0\n");
            return 1;
        }
        const std::string path = std::string(argv[2]) + "/" + argv[3] + ".obj";
        char title[128];
        std::snprintf(title, sizeof title, "container: box %g x %g x %g", size[0], size[1], size[2]);
        const std::string text = ToObj(Box(size[0], size[1], size[2]), title);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "densepack-modelgen: cannot write %s\n", path.c_str());
            return 1;
        }
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const Entry& e : Catalogue()) std::printf("%s\n", e.name.c_str());
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "densepack-modelgen: need an output folder (see --help)\n");
        return 1;
    }
    const std::string dir = argv[1];
    std::vector<std::string> wanted(argv + 2, argv + argc);
    int written = 0;
    for (const Entry& e : Catalogue()) {
        bool take = wanted.empty();
        for (const std::string& w : wanted) take = take || w == e.name;
        if (!take) continue;
        const std::string path = dir + "/" + e.name + ".obj";
        const std::string text = ToObj(e.make(), e.title);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "densepack-modelgen: cannot write %s\n", path.c_str());
            return 1;
        }
        ++written;
    }
    if (written != static_cast<int>(wanted.empty() ? Catalogue().size() : wanted.size())) {
        std::fprintf(stderr, "densepack-modelgen: unknown model name (see --list)\n");
        return 1;
    }
    return 0;
}
