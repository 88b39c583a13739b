#include "tools/check/LoadScene.h"

#include <algorithm>
#include <fstream>

#include "app/Config.h"

namespace check {
namespace {

bool Readable(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace

bool LoadScene(const std::string& configPath, CheckScene& out, std::string& err) {
    ConfigData cfg;
    std::string path = configPath;
    const int rc = LoadConfig(path, cfg);
    if (rc != kConfigOk) {
        err = "cannot read configuration " + configPath;
        return false;
    }
    if (cfg.objects.empty()) {
        err = configPath + " names no object types";
        return false;
    }
    struct Loaded {
        std::string name;
        CheckMesh mesh;
    };
    std::vector<Loaded> loaded(cfg.objects.size());
    for (size_t i = 0; i < cfg.objects.size(); ++i) {
        const std::string base = cfg.modelPath + cfg.objects[i].name;
        const std::string mesh = Readable(base + "_l.obj") ? base + "_l.obj" : base + ".obj";
        loaded[i].name = cfg.objects[i].name;
        if (!loaded[i].mesh.Load(mesh, err)) return false;
    }
    // The run's type order: largest volume first. Equal volumes keep their configuration order
    // here; the run's sort may order such ties either way.
    std::stable_sort(loaded.begin(), loaded.end(),
                     [](const Loaded& a, const Loaded& b) { return a.mesh.Volume() > b.mesh.Volume(); });
    for (Loaded& l : loaded) {
        out.typeNames.push_back(l.name);
        out.types.push_back(std::move(l.mesh));
    }
    return out.container.Load(cfg.modelPath + cfg.containerName + ".obj", err);
}

}  // namespace check
