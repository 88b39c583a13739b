#include "statistics/Report.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <type_traits>

#include "geometry/AtomicReplace.h"

namespace {

void AppendString(std::string& out, const std::string& s) {
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;  // bytes >= 0x80 pass through: paths are taken as UTF-8
                }
        }
    }
    out += '"';
}

template <typename T>
void AppendNumber(std::string& out, T v) {
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(v)) {
            out += "null";  // JSON has no NaN or infinity
            return;
        }
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendOptional(std::string& out, const std::optional<double>& v) {
    if (v) {
        AppendNumber(out, *v);
    } else {
        out += "null";
    }
}

}  // namespace

std::string ReportJson(const PackingReport& r) {
    std::string o;
    o += "{\n  \"configuration\": ";
    AppendString(o, r.configPath);
    o += ",\n  \"seed\": ";
    if (r.seed) {
        AppendNumber(o, *r.seed);
    } else {
        o += "null";
    }
    o += ",\n  \"times\": {\"constructionMinutes\": ";
    AppendOptional(o, r.constructionMinutes);
    o += ", \"improvementMinutes\": ";
    AppendOptional(o, r.improvementMinutes);
    o += ", \"statisticMinutes\": ";
    AppendOptional(o, r.statisticMinutes);
    // A run without a report writes zero figures.
    const PackingFigures& f = r.statistics ? *r.statistics : PackingFigures();
    o += "},\n  \"parameters\": {\"epsilon\": ";
    AppendNumber(o, f.epsilon);
    o += ", \"hopkinsSubSet\": ";
    AppendNumber(o, f.hopkinsSubSet);
    o += ", \"hopkinsRepeat\": ";
    AppendNumber(o, f.hopkinsRepeat);
    o += "},\n  \"statisticsComputed\": ";
    o += r.statistics ? "true" : "false";
    o += ",\n  \"packingDensityPercent\": ";
    AppendNumber(o, f.packingDensityPercent);
    o += ",\n  \"surfaceDensityPercent\": ";
    AppendNumber(o, f.surfaceDensityPercent);
    o += ",\n  \"containerVolume\": ";
    AppendNumber(o, f.containerVolume);
    o += ",\n  \"objectsVolume\": ";
    AppendNumber(o, f.objectsVolume);
    o += ",\n  \"numObjects\": ";
    AppendNumber(o, f.numObjects);
    o += ",\n  \"types\": [";
    for (size_t i = 0; i < f.types.size(); ++i) {
        const TypeReport& t = f.types[i];
        o += i == 0 ? "\n    " : ",\n    ";
        o += "{\"name\": ";
        AppendString(o, t.name);
        o += ", \"volume\": ";
        AppendNumber(o, t.volume);
        o += ", \"count\": ";
        AppendNumber(o, t.count);
        o += ", \"sharePercent\": ";
        AppendNumber(o, t.sharePercent);
        o += ", \"hopkins\": [";
        for (size_t k = 0; k < t.hopkins.size(); ++k) {
            if (k > 0) o += ", ";
            AppendNumber(o, t.hopkins[k]);
        }
        o += "]}";
    }
    o += f.types.empty() ? "]" : "\n  ]";
    if (r.structureJson) o += ",\n  \"structure\": " + *r.structureJson;
    o += "\n}\n";
    return o;
}

bool WriteReportJson(const PackingReport& report, const std::string& path) {
    const std::string text = ReportJson(report);
    // Replaced like the placement files: synced, renamed into place, keeping the old file's mode.
    const ReplaceTarget target = BeginReplace(path);
    std::FILE* f = std::fopen(target.writeTo.c_str(), "wb");
    if (f == nullptr) {
        std::cerr << "Cannot write report " << path << ": " << std::strerror(errno) << std::endl;
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    const int savedErrno = errno;
    ok = std::fclose(f) == 0 && ok;
    std::string reason = std::strerror(savedErrno);
    if (!ok) AbandonReplace(target);
    if (ok && FinishReplace(target, reason)) return true;
    std::cerr << "Cannot write report " << path << ": " << reason << std::endl;
    return false;
}
