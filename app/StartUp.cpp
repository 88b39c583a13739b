#include "app/StartUp.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "algorithms/Limits.h"
#include "algorithms/compression/CompressionAlgorithm.h"
#include "app/CommandLine.h"
#include "app/Config.h"
#include "app/Globals.h"
#include "app/Heuristics.h"
#include "app/RunStructure.h"
#include "app/Scene.h"
#include "collision/DopTree.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"
#include "geometry/Progress.h"
#include "geometry/Random.h"
#include "preprocessing/PointFile.h"
#include "preprocessing/Sampling.h"
#include "statistics/Report.h"
#include "viewer/Viewer.h"
#include "viewer/Window.h"

namespace {

bool SamplingVolumeIsNumber(const std::string& text) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    std::strtof(text.c_str(), &end);
    return end != text.c_str() && errno != ERANGE;
}

// The viewer gets the packing and the placement operations of this run.
[[noreturn]] void ShowWindow(const CommandLine& cl) {
    ViewerContext context;
    context.placedObjects = g_placedObjects;
    context.container = &g_container;
    context.types = &g_configData.objects;
    context.placementFiles = g_constructionHeuristic;
    context.frameAtStart = cl.frame;
    RunWindowLoop(context);
}

int ViewMode(const CommandLine& cl) {
    std::cout << "Loading packing file... : " << cl.viewPath << std::endl;
    g_constructionHeuristic = CreatePlacementLoader(g_configData.objects, &g_container, pointsInside, g_placedObjects,
                                                    g_configData.gridCells);
    // A file that does not load (missing, damaged, or empty) has been reported by the loader.
    if (!g_constructionHeuristic->LoadPlacedObjects(cl.viewPath, *g_placedObjects)) return 1;
    std::cout << "Objects loaded to display." << std::endl;
    if (cl.headless) {
        std::cout << "Placed objects: " << g_placedObjects->size() << std::endl;
        return 0;
    }
    ShowWindow(cl);
}

// The grid the sampling would scan for this reference volume, checked before anything is
// allocated for it: a probe of no size or a step so fine that the scan would not end in any
// reasonable time is refused with one line.
bool CheckSamplingGrid(float volume) {
    const float stepFactor = g_configData.stepSize;
    const float radius = SamplingProbeRadius(volume);
    if (!std::isfinite(radius) || !(radius > 0.0f)) {
        std::cerr << "densepack: [Preprocessing] sampling volume " << volume
                  << " gives no probe sphere; it must be a number above 0." << std::endl;
        return false;
    }
    const float step = stepFactor * 2.0f * radius;
    float min[3] = {-1, -1, -1}, max[3] = {1, 1, 1};
    g_container.m_geometry->updateBBox();
    g_container.m_geometry->getBBox(min, max);
    const double points = SamplingGridPoints(min, max, step);
    if (points <= kMaxSamplingGridPoints) return true;
    // The count grows with the cube of 1 / step.
    const double smallestFactor = stepFactor * std::cbrt(points / kMaxSamplingGridPoints) * 1.01;
    std::cerr << "densepack: [Preprocessing] step factor " << stepFactor << " gives a sampling step of " << step
              << " and about " << points << " candidate points, more than the limit of " << kMaxSamplingGridPoints
              << "; use a larger step factor (at least " << smallestFactor << ")." << std::endl;
    return false;
}

// Interior points for the run: the point file, or sampling when it cannot be loaded. No point at
// all is no error, but nothing can then be placed, and the run would end with a density of 0.
bool PrepareInteriorPoints() {
    if (LoadPointFile(g_configData.pointFile, pointsInside) >= 0) {
        if (pointsInside.empty())
            std::cerr << "densepack: point file " << g_configData.pointFile
                      << " holds no points; nothing can be placed." << std::endl;
        return true;
    }
    if (!CheckSamplingSettings()) return false;
    float volume = 0.0f;
    if (!SamplingReferenceVolume(g_configData.samplingVolume, g_configData.objects, g_configData.stepSize, volume))
        return false;
    if (!CheckSamplingGrid(volume)) return false;
    // The probe rides on a copy of the smallest type's mesh; sampling replaces the copy's tree.
    auto* probe = new PackingGeometry(*g_configData.objects.back().geometry);
    Sampling(g_configData.samplingThreads, g_container.m_geometry, probe, volume, g_configData.stepSize, pointsInside);
    std::cout << "Sampling Points: " << pointsInside.size() << std::endl;
    if (pointsInside.empty())
        std::cerr << "densepack: sampling found no point inside the container where the probe sphere fits; "
                     "nothing can be placed."
                  << std::endl;
    delete probe->m_extraData;
    delete probe;
    return true;
}

// The configured heuristic names, checked before sampling spends any time: an unknown construction
// ends the run; an unknown improvement is only warned about, the run goes on without that phase.
bool CheckHeuristicNames() {
    const std::string& construction = g_configData.constructionHeuristic;
    if (!IsConstructionHeuristicName(construction)) {
        std::cout << "Error. Missing algorithm in config." << std::endl;
        std::cerr << "densepack: unknown construction heuristic '" << construction
                  << "' in [Construction Heuristic]; known: " << ConstructionHeuristicNames() << "." << std::endl;
        return false;
    }
    const std::string& improvement = g_configData.improvementHeuristic;
    if (!IsImprovementHeuristicName(improvement) && !MeansNoImprovement(improvement))
        std::cerr << "densepack: unknown improvement heuristic '" << improvement
                  << "' in [Improvement Heuristic]; the run has no improvement phase and no report. Known: "
                  << ImprovementHeuristicNames() << "." << std::endl;
    return true;
}

int RunMode(const CommandLine& cl, const Packing::compression::CompressionSettings& compression) {
    if (!CheckHeuristicNames()) return 1;
    if (!PrepareInteriorPoints()) return 1;

    g_constructionHeuristic =
        CreateConstructionHeuristic(g_configData.constructionHeuristic, g_configData.objects, &g_container,
                                    pointsInside, g_placedObjects, g_configData.gridCells);
    // "None" (or any name the check above warned about) gives no improvement phase.
    g_improvementHeuristic =
        CreateImprovementHeuristic(g_configData.improvementHeuristic, g_configData.objects, &g_container, pointsInside,
                                   g_placedObjects, g_configData.gridCells);
    g_constructionHeuristic->SetImprovementHeuristic(g_improvementHeuristic, g_configData.constructionFile,
                                                     g_configData.improvementFile);
    IPackingAlgorithm* phases[2] = {g_constructionHeuristic, g_improvementHeuristic};
    for (IPackingAlgorithm* phase : phases) {
        if (phase == nullptr) continue;
        phase->SetEpsilon(g_configData.surfaceDensityEpsilon);
        phase->SetHopkinsSubSet(g_configData.hopkinsSubSet);
        phase->SetHopkinsRepeat(g_configData.hopkinsRepeat);
        Packing::compression::Configure(phase, compression);
    }
    g_constructionHeuristic->InitEmptySpace();

    // Construction, improvement and the report run in one call stack on this thread; it lives
    // until the process ends (the window outlives it).
    static bool reportWritten = true;
    g_algorithmRunning = true;
    g_algorithmThread = new std::thread([cl] {
        g_constructionHeuristic->Run();
        g_algorithmRunning = false;
        // The report is complete once the run returns; a window may stay open after it.
        if (cl.reportPath.empty()) return;
        PackingReport report = g_constructionHeuristic->report();
        report.configPath = cl.configPath;
        if (cl.hasSeed) report.seed = cl.seed;
        if (report.statistics) report.structure = RunStructureJson();
        reportWritten = WriteReportJson(report, cl.reportPath);
    });
    if (cl.headless) {
        g_algorithmThread->join();
        return reportWritten ? 0 : 1;
    }
    ShowWindow(cl);
}

}  // namespace

bool CheckSamplingSettings() {
    const std::string& volume = g_configData.samplingVolume;
    if (volume != "smallest" && volume != "average" && !SamplingVolumeIsNumber(volume)) {
        std::cerr << "densepack: [Preprocessing] sampling volume '" << volume
                  << "' is neither \"smallest\", \"average\" nor a number." << std::endl;
        return false;
    }
    const float stepFactor = g_configData.stepSize;
    if (!std::isfinite(stepFactor) || !(stepFactor > 0.0f)) {
        std::cerr << "densepack: [Preprocessing] step factor " << stepFactor
                  << " is not a number above 0; the sampling step is this factor times the probe diameter."
                  << std::endl;
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
    Packing::LimitSettings limits;
    if (cl.limitsBySteps) limits.mode = Packing::LimitMode::Steps;
    if (cl.stepsPerSecond > 0) limits.stepsPerSecond = cl.stepsPerSecond;
    Packing::SetLimits(limits);
    Packing::SetQuiet(cl.quiet);

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
        std::cerr << "densepack: " << cl.configPath
                  << " names no object types (the [Objects] section is missing or empty)." << std::endl;
        return 1;
    }

    if (!cl.viewPath.empty()) return ViewMode(cl);
    Packing::compression::CompressionSettings compression;
    std::string compressionError;
    if (!Packing::compression::ParseSettings(g_configData.compressionSettings, compression, compressionError)) {
        std::cerr << cl.configPath << ':' << g_configData.compressionLine << ": " << compressionError << std::endl;
        return 1;
    }
    return RunMode(cl, compression);
}
