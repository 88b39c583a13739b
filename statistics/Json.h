#pragma once
/// @file Json.h
/// Numbers for the JSON files, which nlohmann::json writes: every value keeps the digits it
/// prints with and reads back exactly.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

using JsonValue = nlohmann::ordered_json;  ///< keys stay in the order they are set

/// A whole number as an integer (216, not 216.0), anything else as the double; not finite: null.
inline JsonValue JsonNumber(double v) {
    if (!std::isfinite(v)) return nullptr;  // JSON has no NaN or infinity
    if (v == std::trunc(v) && std::fabs(v) < 9007199254740992.0 && !(v == 0.0 && std::signbit(v)))
        return static_cast<int64_t>(v);
    return v;
}

/// A float by its shortest decimal form: 0.1f is written 0.1, not as the double 0.100000001.
inline JsonValue JsonNumber(float v) {
    if (!std::isfinite(v)) return nullptr;
    char buf[32];
    const auto printed = std::to_chars(buf, buf + sizeof buf, v);
    double d = 0.0;
    std::from_chars(buf, printed.ptr, d);
    return JsonNumber(d);
}

/// The document as text with two-space indents; bytes that are not UTF-8 become U+FFFD instead
/// of failing the write.
inline std::string JsonDump(const JsonValue& doc) {
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
