#include "algorithms/ImprovementHeuristic.h"

#include <iostream>

#include "geometry/Timer.h"

void IImprovementHeuristic::Run() {
    Init();
    Packing::Timer timer;
    timer.Start();
    ImprovementHeuristic();
    const double improvement = Packing::Timer::ToMinutes(timer.Elapsed());
    m_report.improvementMinutes = improvement;
    std::cout << "Improvement Heuristic time: " << improvement << std::endl;
    if (!m_improvementFile.empty()) WritePlacedObjects(m_improvementFile, *m_placedObjects);
    timer.Start();
    Statistic();
    const double statistic = Packing::Timer::ToMinutes(timer.Elapsed());
    m_report.statisticMinutes = statistic;
    std::cout << "Statistic Calculation time: " << statistic << std::endl;
    std::cout.flush();
}
