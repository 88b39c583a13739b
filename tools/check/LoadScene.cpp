#include "tools/check/LoadScene.h"

#include "app/Config.h"

namespace check {

bool LoadTypeTable(const std::string& configPath, std::vector<TypeTableEntry>& outTable, std::string& outContainerPath,
                   std::string& err) {
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
    std::vector<std::string> names;
    for (const PackingObjectInfo& type : cfg.objects) names.push_back(type.name);
    outContainerPath = cfg.modelPath + cfg.containerName + ".obj";
    return BuildTypeTable(cfg.modelPath, names, outTable, err);
}

bool LoadScene(const std::string& configPath, CheckScene& out, std::string& err) {
    std::vector<TypeTableEntry> table;
    std::string container;
    if (!LoadTypeTable(configPath, table, container, err)) return false;
    for (const TypeTableEntry& type : table) {
        out.typeNames.push_back(type.name);
        out.types.emplace_back();
        if (!out.types.back().Load(type.meshPath, err)) return false;
    }
    return out.container.Load(container, err);
}

}  // namespace check
