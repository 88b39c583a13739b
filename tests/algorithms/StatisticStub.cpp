// The report is not part of these tests; the runner only needs it to exist. Counts its calls.
#include "algorithms/PackingAlgorithm.h"

int g_statisticCalls = 0;

void IPackingAlgorithm::Statistic() { ++g_statisticCalls; }
