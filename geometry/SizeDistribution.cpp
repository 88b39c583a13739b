#include "geometry/SizeDistribution.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <sstream>

#include "collision/FibRand.h"

namespace {

// A number as text, parsed fully: "1.5" yes, "1.5x", "", "nan" and "inf" no.
bool ParseFactor(const std::string& text, double& out) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    out = v;
    return true;
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (true) {
        const size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
        if (colon == std::string::npos) return parts;
        from = colon + 1;
    }
}

// The mean of f(z) over a standard normal cut to [lo, hi], by Simpson's rule: the truncation
// leaves no closed form worth keeping for every case.
template <class F>
double TruncatedNormalMean(double lo, double hi, F&& f) {
    constexpr int kSteps = 2000;
    const double h = (hi - lo) / kSteps;
    double sum = 0.0, mass = 0.0;
    for (int i = 0; i <= kSteps; ++i) {
        const double z = lo + h * i;
        const double w = (i == 0 || i == kSteps ? 1.0 : (i % 2 ? 4.0 : 2.0)) * std::exp(-0.5 * z * z);
        sum += w * f(z);
        mass += w;
    }
    return mass > 0.0 ? sum / mass : f(lo);
}

bool ReadFactorFile(const std::string& name, std::vector<double>& out, std::string& outError) {
    std::ifstream in(name);
    if (!in.is_open()) {
        outError = "size file " + name + " cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line);
        words.imbue(std::locale::classic());
        std::string word;
        if (!(words >> word) || word[0] == '#') continue;
        double v = 0.0;
        if (!ParseFactor(word, v) || !(v > 0.0)) {
            outError = "size file " + name + ":" + std::to_string(number) + ": '" + word + "' is not a factor above 0";
            return false;
        }
        out.push_back(v);
    }
    if (out.empty()) {
        outError = "size file " + name + " holds no factor";
        return false;
    }
    return true;
}

}  // namespace

float SizeDistribution::Draw(col::FibRand& random) const {
    if (IsFixed()) return Stored(a);
    return Stored(Draw([&random] { return static_cast<double>(random.rand()) / 1073741824.0; }));
}

float SizeDistribution::Stored(double factor) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<float>(factor));
    return std::strtof(text, nullptr);
}

double SizeDistribution::Largest() const {
    switch (kind) {
        case Kind::Fixed:
            return a;
        case Kind::Uniform:
            return b;
        case Kind::Normal:
            return a + 3.0 * b;
        case Kind::Lognormal:
            return a * std::exp(3.0 * b);
        case Kind::File:
            return *std::max_element(values.begin(), values.end());
    }
    return a;
}

double SizeDistribution::MeanCube() const {
    switch (kind) {
        case Kind::Fixed:
            return a * a * a;
        case Kind::Uniform:
            return b > a ? (b * b * b * b - a * a * a * a) / (4.0 * (b - a)) : a * a * a;
        case Kind::Normal: {
            if (!(b > 0.0)) return a * a * a;
            const double lo = std::max(-3.0, -a / b);
            return TruncatedNormalMean(lo, 3.0, [&](double z) { return std::pow(a + b * z, 3.0); });
        }
        case Kind::Lognormal:
            return TruncatedNormalMean(-3.0, 3.0, [&](double z) { return std::pow(a * std::exp(b * z), 3.0); });
        case Kind::File: {
            double sum = 0.0;
            for (double v : values) sum += v * v * v;
            return sum / static_cast<double>(values.size());
        }
    }
    return 1.0;
}

bool ParseSizeDistribution(const std::string& text, SizeDistribution& out, std::string& outError) {
    SizeDistribution d;
    const std::vector<std::string> parts = SplitColons(text);
    const std::string& form = parts[0];
    auto numbers = [&](const char* usage) {
        if (parts.size() != 3 || !ParseFactor(parts[1], d.a) || !ParseFactor(parts[2], d.b)) {
            outError = "size '" + text + "' needs the form " + usage + " with two numbers";
            return false;
        }
        return true;
    };
    if (parts.size() == 1) {
        if (!ParseFactor(form, d.a) || !(d.a > 0.0)) {
            outError = "size '" + text + "' is neither a factor above 0 nor uniform:, normal:, lognormal: or file:";
            return false;
        }
    } else if (form == "uniform") {
        d.kind = SizeDistribution::Kind::Uniform;
        if (!numbers("uniform:A:B")) return false;
        if (!(d.a > 0.0) || d.b < d.a) {
            outError = "size '" + text + "' needs 0 < A <= B";
            return false;
        }
    } else if (form == "normal") {
        d.kind = SizeDistribution::Kind::Normal;
        if (!numbers("normal:MEAN:SD")) return false;
        if (!(d.a > 0.0) || d.b < 0.0) {
            outError = "size '" + text + "' needs MEAN above 0 and SD at least 0";
            return false;
        }
    } else if (form == "lognormal") {
        d.kind = SizeDistribution::Kind::Lognormal;
        if (!numbers("lognormal:MEDIAN:SIGMA")) return false;
        if (!(d.a > 0.0) || d.b < 0.0) {
            outError = "size '" + text + "' needs MEDIAN above 0 and SIGMA at least 0";
            return false;
        }
    } else if (form == "file") {
        d.kind = SizeDistribution::Kind::File;
        const std::string name = text.substr(5);
        if (name.empty()) {
            outError = "size '" + text + "' names no file";
            return false;
        }
        if (!ReadFactorFile(name, d.values, outError)) return false;
    } else {
        outError = "size '" + text + "' has the unknown form '" + form + "' (uniform, normal, lognormal or file)";
        return false;
    }
    out = d;
    return true;
}
