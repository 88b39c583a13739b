#pragma once
/// @file ObjTokenizer.h
/// The lexical side of Wavefront OBJ text, shared by every OBJ reader of the project: records,
/// numbers and face corners. What a record means is up to the reader.

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace col {

/// Reads OBJ text one record at a time. A trailing carriage return is dropped, a '#' starts a
/// comment that runs to the end of the line, and tokens are separated by blanks and tabs. Lines
/// without tokens are skipped.
class ObjReader {
 public:
    explicit ObjReader(std::istream& in) : m_in(in) {}

    /// Advances to the next line that has a token; false at the end of the input.
    bool next();
    /// 1-based number of the current line in the file.
    int line() const { return m_line; }
    /// The current line without its line end (comment included).
    const std::string& text() const { return m_text; }
    /// The tokens of the current line; they point into text().
    const std::vector<std::string_view>& tokens() const { return m_tokens; }

 private:
    std::istream& m_in;
    std::string m_text;
    std::vector<std::string_view> m_tokens;
    int m_line = 0;
};

/// A finite float written in full (a leading '+' is allowed); false for anything else.
bool parseObjFloat(std::string_view token, float& out);

/// A whole number written in full (a leading '+' is allowed); false for anything else.
bool parseObjIndex(std::string_view token, long& out);

/// The first three numbers of a "v" or "vn" record; further numbers (w, colours) must be numbers
/// too and are dropped. On failure `error` reads "<kind> needs 3 coordinates" or
/// "<kind> coordinate '<token>' is not a number".
bool parseObjTriple(const std::vector<std::string_view>& tokens, const std::string& kind, float out[3],
                    std::string& error);

/// One face corner as written: indices 1-based or negative (relative), not yet resolved.
struct ObjCorner {
    long position = 0;
    long texture = 0;  ///< 0 when the corner has no texture part
    long normal = 0;   ///< 0 when the corner has no normal part
    bool hasTexture = false;
    bool hasNormal = false;
};

/// "p", "p/t", "p//n" or "p/t/n" with whole numbers; false for any other form ("1/", "1/x",
/// "1/2/3/4"). Index values, 0 included, are left for the reader to judge.
bool parseObjCorner(std::string_view token, ObjCorner& out);

}  // namespace col
