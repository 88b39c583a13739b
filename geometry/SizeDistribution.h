#pragma once
/// @file SizeDistribution.h
/// The linear size factor of an object type's objects: fixed, or drawn per object from a
/// uniform, truncated normal, truncated lognormal or an empirical list. The factor scales the
/// type's mesh uniformly.

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace col {
class FibRand;
}

struct SizeDistribution {
    enum class Kind {
        Fixed,      ///< every object at `a`
        Uniform,    ///< uniform in [a, b]
        Normal,     ///< mean a, SD b, redrawn outside [max(0, a - 3b), a + 3b] and at 0
        Lognormal,  ///< median a, SD b of the natural logarithm, redrawn outside a * exp(+-3b)
        File,       ///< one of `values`, with replacement
    };
    Kind kind = Kind::Fixed;
    double a = 1.0;
    double b = 0.0;
    std::vector<double> values;  ///< File: the factors as read

    /// Whether every object has the same factor (no draw is made then).
    bool IsFixed() const { return kind == Kind::Fixed; }
    /// One factor from `uniform`, a source of numbers in [0, 1) called as often as needed.
    template <class Uniform>
    double Draw(Uniform&& uniform) const;
    /// One factor from the generator's 30-bit draws, as Stored(); a fixed factor draws nothing.
    float Draw(col::FibRand& random) const;
    /// The factor rounded to the six significant digits a placement file keeps, so that a packing
    /// read back holds the very sizes it was made and checked at.
    static float Stored(double factor);
    /// The largest factor a draw can give.
    double Largest() const;
    /// The mean of the cube of the factor, which scales a type's mean volume.
    double MeanCube() const;
};

/// Reads the DIST of a `size=DIST` word: a number, "uniform:A:B", "normal:MEAN:SD",
/// "lognormal:MEDIAN:SIGMA" or "file:NAME" (NAME as given, so relative to the working
/// directory). False with a one-line reason in `outError` when the text is not one of these,
/// a number is missing or not finite, a factor could be 0 or below, or the file cannot be read,
/// holds no factor or a word that is not a factor above 0.
bool ParseSizeDistribution(const std::string& text, SizeDistribution& out, std::string& outError);

template <class Uniform>
double SizeDistribution::Draw(Uniform&& uniform) const {
    constexpr double kTwoPi = 6.283185307179586;
    // A standard normal by Box-Muller, redrawn beyond 3 SD (own conversion: the standard
    // library's distributions differ between implementations).
    auto truncatedNormal = [&]() {
        while (true) {
            const double u1 = 1.0 - uniform(), u2 = uniform();
            const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
            if (z >= -3.0 && z <= 3.0) return z;
        }
    };
    switch (kind) {
        case Kind::Fixed:
            return a;
        case Kind::Uniform:
            return a + (b - a) * uniform();
        case Kind::Normal:
            while (true) {
                const double s = a + b * truncatedNormal();
                if (s > 0.0) return s;
            }
        case Kind::Lognormal:
            return a * std::exp(b * truncatedNormal());
        case Kind::File: {
            const size_t n = values.size();
            size_t i = static_cast<size_t>(uniform() * static_cast<double>(n));
            return values[i < n ? i : n - 1];
        }
    }
    return a;
}
