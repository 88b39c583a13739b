#include "statistics/Report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "geometry/AtomicReplace.h"

namespace {

JsonValue Optional(const std::optional<double>& v) { return v ? JsonNumber(*v) : JsonValue(nullptr); }

}  // namespace

std::string ReportJson(const PackingReport& r) {
    // A run without a report writes zero figures.
    const PackingFigures& f = r.statistics ? *r.statistics : PackingFigures();
    JsonValue types = JsonValue::array();
    for (const TypeReport& t : f.types) {
        JsonValue hopkins = JsonValue::array();
        for (const float v : t.hopkins) hopkins.push_back(JsonNumber(v));
        types.push_back({{"name", t.name},
                         {"volume", JsonNumber(t.volume)},
                         {"count", t.count},
                         {"sharePercent", JsonNumber(t.sharePercent)},
                         {"hopkins", hopkins}});
    }
    JsonValue doc = {
        {"configuration", r.configPath},
        {"seed", r.seed ? JsonValue(*r.seed) : JsonValue(nullptr)},
        {"times",
         {{"constructionMinutes", Optional(r.constructionMinutes)},
          {"improvementMinutes", Optional(r.improvementMinutes)},
          {"statisticMinutes", Optional(r.statisticMinutes)}}},
        {"parameters",
         {{"epsilon", JsonNumber(f.epsilon)},
          {"hopkinsSubSet", JsonNumber(f.hopkinsSubSet)},
          {"hopkinsRepeat", f.hopkinsRepeat}}},
        {"statisticsComputed", r.statistics.has_value()},
        {"packingDensityPercent", JsonNumber(f.packingDensityPercent)},
        {"surfaceDensityPercent", JsonNumber(f.surfaceDensityPercent)},
        {"containerVolume", JsonNumber(f.containerVolume)},
        {"objectsVolume", JsonNumber(f.objectsVolume)},
        {"numObjects", f.numObjects},
        {"types", types},
    };
    if (r.structure) doc["structure"] = *r.structure;
    return JsonDump(doc) + "\n";
}

bool WriteReportJson(const PackingReport& report, const std::string& path) {
    const std::string text = ReportJson(report);
    // Replaced like the placement files: synced, renamed into place, keeping the old file's mode.
    std::string reason;
    if (ReplaceWithText(path, text, reason)) return true;
    std::cerr << "Cannot write report " << path << ": " << reason << std::endl;
    return false;
}
