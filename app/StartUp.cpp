#include "app/StartUp.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/CommandLine.h"
#include "app/Config.h"
#include "app/Globals.h"
#include "app/Scene.h"
#include "collision/DopTree.h"
#include "geometry/PackingGeometry.h"
#include "geometry/Random.h"
#include "preprocessing/PointFile.h"
#include "viewer/Viewer.h"
#include "viewer/Window.h"

namespace {

// Construction heuristics by configured name; none of them is part of the build yet.
bool IsConstructionHeuristicName(const std::string& name) {
    return name == "DistanceAlgorithm" || name == "PlacementAlgorithm" || name == "HybridAlgorithm" ||
           name == "GrowingSeedAlgorithm";
}

bool SamplingVolumeIsNumber(const std::string& text) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    std::strtof(text.c_str(), &end);
    return end != text.c_str() && errno != ERANGE;
}

int ViewMode(const CommandLine& cl) {
    std::cout << "Loading packing file... : " << cl.viewPath << std::endl;
    std::cout << "Objects loaded to display." << std::endl;
    if (cl.headless) return 0;
    RunWindowLoop();
}

int RunMode(const CommandLine& cl) {
    if (LoadPointFile(g_configData.pointFile, pointsInside) < 0) {
        if (!CheckSamplingSettings()) return 1;
        std::cerr << "densepack: interior point sampling is not part of this build yet; going on without points."
                  << std::endl;
    }

    if (!IsConstructionHeuristicName(g_configData.constructionHeuristic)) {
        std::cout << "Error. Missing algorithm in config." << std::endl;
        return 0;
    }
    std::cerr << "densepack: " << g_configData.constructionHeuristic
              << " is not part of this build yet; start-up ends here." << std::endl;
    if (cl.headless) return 0;
    RunWindowLoop();
}

}  // namespace

bool CheckSamplingSettings() {
    const std::string& volume = g_configData.samplingVolume;
    if (volume != "smallest" && volume != "average" && !SamplingVolumeIsNumber(volume)) {
        std::cerr << "densepack: [Preprocessing] sampling volume '" << volume
                  << "' is neither \"smallest\", \"average\" nor a number." << std::endl;
        return false;
    }
    if (g_configData.samplingThreads < 1) {
        std::cerr << "densepack: [Preprocessing] sampling thread count is " << g_configData.samplingThreads
                  << "; it must be at least 1." << std::endl;
        return false;
    }
    return true;
}

int RunDensepack(int argc, char** argv) {
    CommandLine cl = ParseCommandLine(argc, argv, std::cerr);
    if (cl.exitNow) return cl.exitStatus;
    if (cl.hasSeed) seedGlobalRandom(cl.seed);

    if (!cl.headless) {
        if (std::getenv("DISPLAY") == nullptr) {
            std::cerr << "densepack: no display to open a window on (DISPLAY is not set); "
                         "use --headless to run without a window."
                      << std::endl;
            return 1;
        }
        if (!OpenWindow(&argc, argv)) return 1;
        g_haveGL = true;
        if (!SetUpViewer()) return 1;
    }

    // -1 (unreadable file) goes on with the defaults; -2 is an object line that cannot be read.
    if (LoadConfig(cl.configPath, g_configData) == -2) return 1;

    col::DopTree::init();
    if (!createScene()) return 1;
    g_container.m_volume = calculateVolume(g_container.m_geometry);
    g_placedObjects = new std::list<MovingObject*>();
    if (g_configData.objects.empty()) {
        std::cerr << "densepack: " << cl.configPath << " names no object types (the [Objects] section is missing or empty)."
                  << std::endl;
        return 1;
    }

    if (!cl.viewPath.empty()) return ViewMode(cl);
    return RunMode(cl);
}
