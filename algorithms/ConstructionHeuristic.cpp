#include "algorithms/ConstructionHeuristic.h"

#include <iostream>

#include "geometry/Timer.h"

void IConstructionHeuristic::Run() {
    std::cout << "Construction Run" << std::endl;
    // The construction file is a cache: a file that loads replaces the whole construction phase;
    // a missing or damaged one (already reported by the loader) selects the construction.
    const bool loaded = !m_constructionFile.empty() && LoadPlacedObjects(m_constructionFile, *m_placedObjects);
    if (!loaded) {
        Packing::Timer timer;
        timer.Start();
        Init();
        ConstructionHeuristic();
        const double minutes = Packing::Timer::ToMinutes(timer.Elapsed());
        m_report.constructionMinutes = minutes;
        std::cout << "Construction Heuristic time: " << minutes << std::endl;
        std::cout.flush();
        if (!m_constructionFile.empty()) WritePlacedObjects(m_constructionFile, *m_placedObjects);
    }
    if (m_improvementHeuristic != nullptr) {
        m_improvementHeuristic->Run();
        // The run's report is kept where the run started: the next phase's, with this phase's time.
        const std::optional<double> construction = m_report.constructionMinutes;
        m_report = m_improvementHeuristic->report();
        m_report.constructionMinutes = construction;
    }
}
