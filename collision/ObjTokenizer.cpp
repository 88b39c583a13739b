#include "collision/ObjTokenizer.h"

#include <charconv>
#include <cmath>

namespace col {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

/// from_chars does not take a leading '+'.
const char* skipPlus(const char* b, const char* e) { return b != e && *b == '+' ? b + 1 : b; }

}  // namespace

bool ObjReader::next() {
    while (std::getline(m_in, m_text)) {
        ++m_line;
        if (!m_text.empty() && m_text.back() == '\r') m_text.pop_back();
        std::string_view sv(m_text);
        const size_t hash = sv.find('#');
        if (hash != std::string_view::npos) sv = sv.substr(0, hash);
        m_tokens.clear();
        size_t i = 0;
        while (i < sv.size()) {
            while (i < sv.size() && isBlank(sv[i])) ++i;
            size_t j = i;
            while (j < sv.size() && !isBlank(sv[j])) ++j;
            if (j > i) m_tokens.push_back(sv.substr(i, j - i));
            i = j;
        }
        if (!m_tokens.empty()) return true;
    }
    return false;
}

bool parseObjFloat(std::string_view token, float& out) {
    const char* e = token.data() + token.size();
    const char* b = skipPlus(token.data(), e);
    const auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e && std::isfinite(out);
}

bool parseObjIndex(std::string_view token, long& out) {
    const char* e = token.data() + token.size();
    const char* b = skipPlus(token.data(), e);
    if (b == e) return false;
    const auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e;
}

bool parseObjTriple(const std::vector<std::string_view>& tokens, const std::string& kind, float out[3],
                    std::string& error) {
    if (tokens.size() < 4) {
        error = kind + " needs 3 coordinates";
        return false;
    }
    for (size_t i = 1; i < tokens.size(); ++i) {
        float v = 0.0f;
        if (!parseObjFloat(tokens[i], v)) {
            error = kind + " coordinate '" + std::string(tokens[i]) + "' is not a number";
            return false;
        }
        if (i <= 3) out[i - 1] = v;
    }
    return true;
}

bool parseObjCorner(std::string_view token, ObjCorner& out) {
    std::string_view parts[3];
    size_t count = 0;
    for (size_t start = 0;;) {
        if (count == 3) return false;
        const size_t slash = token.find('/', start);
        parts[count++] = token.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    out = ObjCorner();
    if (!parseObjIndex(parts[0], out.position)) return false;
    // "p/t" needs its texture index; in "p/t/n" it may be left out ("p//n").
    out.hasTexture = count == 2 || (count == 3 && !parts[1].empty());
    if (out.hasTexture && !parseObjIndex(parts[1], out.texture)) return false;
    out.hasNormal = count == 3;
    return !out.hasNormal || parseObjIndex(parts[2], out.normal);
}

}  // namespace col
