#include "collision/SpheresFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace col {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kAngleSlack = 1e-6f;  // "%.9g" of pi rounds up by a few ulp
constexpr float kUnitSlack = 1e-3f;   // directions are written rounded
constexpr int kFields = 10;

struct Line {
    int number = 0;
    std::vector<std::string> tokens;
};

// Splits a line into tokens, dropping a trailing "# comment".
std::vector<std::string> tokenize(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char ch : s) {
        if (ch == '#') break;
        if (ch == ' ' || ch == '\t' || ch == '\r') {
            if (!cur.empty()) out.push_back(std::move(cur)), cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

bool toFloat(const std::string& t, float& v) {
    errno = 0;
    char* end = nullptr;
    v = std::strtof(t.c_str(), &end);
    return end == t.c_str() + t.size() && !t.empty();
}

bool toInt(const std::string& t, long& v) {
    errno = 0;
    char* end = nullptr;
    v = std::strtol(t.c_str(), &end, 10);
    return end == t.c_str() + t.size() && !t.empty() && errno == 0;
}

class Parser {
 public:
    explicit Parser(std::string name) : m_name(std::move(name)) {}

    SpheresParseResult run(std::istream& in) {
        SpheresParseResult res;
        readLines(in);
        size_t i = 0;
        if (!header(i) || !kind(i) || !counts(i) || !nodeLines(i) || !tail(i) || !structure()) {
            res.error = m_error;
            return res;
        }
        res.tree = SphereTree(std::move(m_nodes), m_kind);
        res.ok = true;
        return res;
    }

 private:
    void readLines(std::istream& in) {
        std::string s;
        int n = 0;
        while (std::getline(in, s)) {
            ++n;
            auto tok = tokenize(s);
            if (!tok.empty()) m_lines.push_back(Line{n, std::move(tok)});
        }
        m_lastLine = n;
    }

    bool fail(int line, const std::string& what) {
        m_error = m_name + ": line " + std::to_string(line) + ": " + what;
        return false;
    }
    bool atEnd(size_t i, const char* expected) {
        if (i < m_lines.size()) return false;
        fail(m_lastLine, std::string("file ends early: missing ") + expected + " (truncated)");
        return true;
    }

    bool header(size_t& i) {
        if (atEnd(i, "header")) return false;
        const Line& l = m_lines[i++];
        if (l.tokens.size() != 2 || l.tokens[0] != "densepack-spheres")
            return fail(l.number, "bad header: expected 'densepack-spheres 1'");
        if (l.tokens[1] != "1") return fail(l.number, "unsupported version '" + l.tokens[1] + "' (only 1 is read)");
        return true;
    }

    bool kind(size_t& i) {
        if (atEnd(i, "kind line")) return false;
        const Line& l = m_lines[i++];
        if (l.tokens.size() != 2 || l.tokens[0] != "kind")
            return fail(l.number, "bad kind line: expected 'kind object' or 'kind container'");
        if (l.tokens[1] == "object")
            m_kind = SphereTreeKind::Object;
        else if (l.tokens[1] == "container")
            m_kind = SphereTreeKind::Container;
        else
            return fail(l.number, "bad kind '" + l.tokens[1] + "': expected object or container");
        return true;
    }

    bool counts(size_t& i) {
        if (atEnd(i, "counts line")) return false;
        const Line& l = m_lines[i++];
        long n = 0, leaves = 0;
        if (l.tokens.size() != 4 || l.tokens[0] != "nodes" || l.tokens[2] != "leaves" || !toInt(l.tokens[1], n) ||
            !toInt(l.tokens[3], leaves) || n < 1 || leaves < 1 || leaves > n || n > (1L << 30))
            return fail(l.number, "bad counts line: expected 'nodes N leaves L' with 1 <= L <= N");
        m_countsLine = l.number;
        m_n = static_cast<int>(n);
        m_leaves = static_cast<int>(leaves);
        return true;
    }

    bool nodeLines(size_t& i) {
        m_nodes.reserve(static_cast<size_t>(std::min(m_n, 1 << 20)));
        m_nodeLine.reserve(m_nodes.capacity());
        while (static_cast<int>(m_nodes.size()) < m_n) {
            if (atEnd(i, "node lines and 'end'")) return false;
            const Line& l = m_lines[i];
            if (l.tokens.size() == 1 && l.tokens[0] == "end")
                return fail(l.number, "only " + std::to_string(m_nodes.size()) + " node lines, " + std::to_string(m_n) +
                                          " declared");
            if (!node(l)) return false;
            ++i;
        }
        return true;
    }

    bool node(const Line& l) {
        if (static_cast<int>(l.tokens.size()) != kFields)
            return fail(l.number, "node line has " + std::to_string(l.tokens.size()) + " fields, expected " +
                                      std::to_string(kFields) + " (cx cy cz r dx dy dz angle first count)");
        float v[8];
        for (int k = 0; k < 8; ++k) {
            if (!toFloat(l.tokens[k], v[k]))
                return fail(l.number, "field " + std::to_string(k + 1) + " '" + l.tokens[k] + "' is not a number");
            if (!std::isfinite(v[k])) return fail(l.number, "field " + std::to_string(k + 1) + " is not finite");
        }
        long first = 0, count = 0;
        if (!toInt(l.tokens[8], first) || !toInt(l.tokens[9], count))
            return fail(l.number, "first/count must be integers");
        if (!(v[3] > 0)) return fail(l.number, "radius must be > 0");
        if (v[7] < 0 || v[7] > kPi + kAngleSlack) return fail(l.number, "angle outside [0, pi]");
        const float len = std::sqrt(v[4] * v[4] + v[5] * v[5] + v[6] * v[6]);
        const bool zero = v[4] == 0 && v[5] == 0 && v[6] == 0;
        if (!zero && std::fabs(len - 1.0f) > kUnitSlack)
            return fail(l.number, "direction is neither unit length nor 0 0 0");
        const long self = static_cast<long>(m_nodes.size());
        if (count < 0) return fail(l.number, "negative child count");
        if (count == 0 && first != -1) return fail(l.number, "a leaf (count 0) must have first -1");
        // Neither the check nor the message may form first + count in a long: it can pass LONG_MAX.
        if (count > 0 && (first <= self || first > m_n || count > m_n - first)) {
            const std::string end =
                first >= 0 ? std::to_string(static_cast<unsigned long>(first) + static_cast<unsigned long>(count))
                           : std::to_string(first + count);
            return fail(l.number, "child range [" + std::to_string(first) + ", " + end +
                                      ") must lie after the node and within the " + std::to_string(m_n) + " nodes");
        }
        SphereNode nd;
        nd.center = Point3(v[0], v[1], v[2]);
        nd.radius = v[3];
        nd.direction = Vector3(v[4], v[5], v[6]);
        nd.angle = v[7];
        nd.firstChild = static_cast<int32_t>(first);
        nd.childCount = static_cast<int32_t>(count);
        m_nodes.push_back(nd);
        m_nodeLine.push_back(l.number);
        return true;
    }

    bool tail(size_t& i) {
        if (atEnd(i, "'end'")) return false;
        const Line& l = m_lines[i++];
        if (!(l.tokens.size() == 1 && l.tokens[0] == "end")) {
            if (static_cast<int>(l.tokens.size()) == kFields)
                return fail(l.number, "more node lines than the " + std::to_string(m_n) + " declared");
            return fail(l.number, "expected 'end'");
        }
        if (i < m_lines.size()) return fail(m_lines[i].number, "data after 'end'");
        return true;
    }

    bool structure() {
        std::vector<int> parent(m_nodes.size(), -1);
        int leaves = 0;
        for (size_t p = 0; p < m_nodes.size(); ++p) {
            const SphereNode& nd = m_nodes[p];
            if (nd.isLeaf()) ++leaves;
            for (int c = nd.firstChild; c < nd.firstChild + nd.childCount; ++c) {
                if (parent[c] >= 0)
                    return fail(m_nodeLine[p], "node " + std::to_string(c) + " has two parents (" +
                                                   std::to_string(parent[c]) + " and " + std::to_string(p) + ")");
                parent[c] = static_cast<int>(p);
                const SphereNode& ch = m_nodes[c];
                const float d = std::sqrt(distSqr(nd.center, ch.center));
                if (d + ch.radius > nd.radius * (1.0f + 1e-4f) + 1e-6f)
                    return fail(m_nodeLine[p],
                                "node " + std::to_string(p) + " does not enclose its child " + std::to_string(c));
            }
        }
        // Children come after parents, so a node without a parent can't be reached from the root.
        for (size_t c = 1; c < m_nodes.size(); ++c)
            if (parent[c] < 0) return fail(m_nodeLine[c], "node " + std::to_string(c) + " is unreachable (no parent)");
        if (leaves != m_leaves)
            return fail(m_countsLine,
                        "leaf count " + std::to_string(m_leaves) + " declared, " + std::to_string(leaves) + " found");
        return true;
    }

    std::string m_name, m_error;
    std::vector<Line> m_lines;
    std::vector<SphereNode> m_nodes;
    std::vector<int> m_nodeLine;
    SphereTreeKind m_kind = SphereTreeKind::Object;
    int m_lastLine = 0, m_countsLine = 0, m_n = 0, m_leaves = 0;
};

void appendNumber(std::string& s, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    s += buf;
}

}  // namespace

SpheresParseResult parseSpheres(std::istream& in, const std::string& name) { return Parser(name).run(in); }

SpheresParseResult loadSpheresFile(const char* path) {
    std::ifstream in(path);
    if (!in) {
        SpheresParseResult r;
        r.error = std::string(path) + ": cannot open";
        return r;
    }
    return parseSpheres(in, path);
}

std::string formatSpheres(SphereTreeKind kind, const std::vector<SpheresRow>& rows) {
    long leaves = 0;
    for (const SpheresRow& r : rows) leaves += r.count == 0 ? 1 : 0;
    std::string s = "densepack-spheres 1\nkind ";
    s += kind == SphereTreeKind::Container ? "container\n" : "object\n";
    s += "nodes " + std::to_string(rows.size()) + " leaves " + std::to_string(leaves) + "\n";
    s += "# cx cy cz r dx dy dz angle first count\n";
    for (const SpheresRow& r : rows) {
        for (double x : r.values) appendNumber(s, x), s += ' ';
        s += std::to_string(r.first) + ' ' + std::to_string(r.count) + '\n';
    }
    s += "end\n";
    return s;
}

std::string formatSpheres(const SphereTree& tree) {
    std::vector<SpheresRow> rows;
    rows.reserve(tree.nodes().size());
    for (const SphereNode& n : tree.nodes())
        rows.push_back({{n.center.getX(), n.center.getY(), n.center.getZ(), n.radius, n.direction.getX(),
                         n.direction.getY(), n.direction.getZ(), n.angle},
                        n.firstChild,
                        n.childCount});
    return formatSpheres(tree.kind(), rows);
}

bool writeSpheresFile(const char* path, const SphereTree& tree) {
    std::ofstream out(path, std::ios::binary);
    if (!out) return false;
    out << formatSpheres(tree);
    return static_cast<bool>(out);
}

}  // namespace col
