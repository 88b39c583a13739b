#include "algorithms/ImprovementHeuristic.h"

#include <iostream>

#include "algorithms/Timer.h"

void IImprovementHeuristic::Run() {
    Init();
    Packing::Timer timer;
    timer.Start();
    ImprovementHeuristic();
    std::cout << "Improvement Heuristic time: " << Packing::Timer::ToMinutes(timer.Elapsed()) << std::endl;
    if (!m_improvementFile.empty()) WritePlacedObjects(m_improvementFile, *m_placedObjects);
    timer.Start();
    Statistic();
    std::cout << "Statistic Calculation time: " << Packing::Timer::ToMinutes(timer.Elapsed()) << std::endl;
    std::cout.flush();
}
