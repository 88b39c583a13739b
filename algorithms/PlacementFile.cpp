// Placement files (one line per object: type index and three matrices) and the OBJ export of a
// whole packing. Both replace their file atomically (geometry/AtomicReplace.h), so a crash or a
// full disk leaves the previous file intact.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <mutex>

#include "algorithms/PackingAlgorithm.h"
#include "geometry/AtomicReplace.h"
#include "geometry/MovingObject.h"
#include "geometry/PackingGeometry.h"
#include "geometry/PackingLock.h"

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

constexpr int kNumbersPerLine = 48;

struct ParsedLine {
    int typeIndex = -1;
    float numbers[kNumbersPerLine] = {};
};

bool IsBlank(const std::string& line) {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\r') return false;
    return true;
}

// One placement line: an integer type index and exactly 48 finite numbers, blank-separated.
// On failure `what` says why.
bool ParseLine(const std::string& line, size_t typeCount, ParsedLine& out, std::string& what) {
    const char* p = line.c_str();
    char* end = nullptr;
    errno = 0;
    const long index = std::strtol(p, &end, 10);
    if (end == p || (*end != ' ' && *end != '\t' && *end != '\0' && *end != '\r') || errno == ERANGE) {
        what = "expected an integer type index at the start of the line";
        return false;
    }
    if (index < 0 || static_cast<unsigned long>(index) >= typeCount) {
        what = "type index " + std::to_string(index) + " names no configured object type (there are " +
               std::to_string(typeCount) + ")";
        return false;
    }
    out.typeIndex = static_cast<int>(index);
    p = end;
    for (int i = 0; i < kNumbersPerLine; ++i) {
        const float v = std::strtof(p, &end);
        if (end == p) {
            what = "expected 48 numbers after the type index, found " + std::to_string(i);
            return false;
        }
        if (*end != ' ' && *end != '\t' && *end != '\0' && *end != '\r') {
            what = "number " + std::to_string(i + 1) + " is malformed";
            return false;
        }
        if (!std::isfinite(v)) {
            what = "number " + std::to_string(i + 1) + " is not finite";
            return false;
        }
        out.numbers[i] = v;
        p = end;
    }
    while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
    if (*p != '\0') {
        what = "more than 48 numbers after the type index";
        return false;
    }
    return true;
}

Matrix4 MatrixFrom(const float* n) {
    return {Vector4(n[0], n[1], n[2], n[3]), Vector4(n[4], n[5], n[6], n[7]), Vector4(n[8], n[9], n[10], n[11]),
            Vector4(n[12], n[13], n[14], n[15])};
}

}  // namespace

void IPackingAlgorithm::WriteMatrix(std::ofstream& out, Matrix4 matrix) {
    char buffer[32];
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            std::snprintf(buffer, sizeof buffer, "%g ", static_cast<double>(matrix.getElem(c, r)));
            out << buffer;
        }
    }
}

void IPackingAlgorithm::LoadMatrix(std::istringstream& in, Matrix4& matrix) {
    for (int c = 0; c < 4; ++c) {
        Vector4 column(0.0f);
        for (int r = 0; r < 4; ++r) {
            float v = 0.0f;
            if (!(in >> v)) {
                matrix.setCol(c, column);
                for (int rest = c + 1; rest < 4; ++rest) matrix.setCol(rest, Vector4(0.0f));
                return;
            }
            column.setElem(r, v);
        }
        matrix.setCol(c, column);
    }
}

void IPackingAlgorithm::WritePlacedObjects(std::string file, std::list<MovingObject*>& objects) {
    if (objects.empty()) {
        std::cout << "Placed objects array is empty!" << std::endl;
        return;
    }
    const ReplaceTarget target = BeginReplace(file);
    std::string reason;
    {
        std::ofstream out(target.writeTo, std::ios::trunc);
        if (!out.is_open()) {
            std::cerr << "Cannot write placement file " << file << ": " << std::strerror(errno) << std::endl;
            return;
        }
        for (MovingObject* o : objects) {
            out << o->m_typeIndex << ' ';
            WriteMatrix(out, o->m_translationMatrix);
            WriteMatrix(out, o->m_rotationMatrix);
            WriteMatrix(out, o->m_scaleMatrix);
            out << '\n';
        }
        out.flush();
        const bool good = out.good();
        out.close();
        if (!good || out.fail()) {
            AbandonReplace(target);
            std::cerr << "Cannot write placement file " << file << ": write failed (disk full?)" << std::endl;
            return;
        }
    }
    if (!FinishReplace(target, reason))
        std::cerr << "Cannot write placement file " << file << ": " << reason << std::endl;
}

bool IPackingAlgorithm::LoadPlacedObjects(std::string file, std::list<MovingObject*>& objects) {
    std::ifstream in(file);
    if (!in.is_open()) {
        std::cout << "Error. File not found: " << file << std::endl;
        return false;
    }
    // Parse everything first: a damaged file must not leave half a packing in the list.
    std::vector<ParsedLine> parsed;
    std::string line, what;
    for (int number = 1; std::getline(in, line); ++number) {
        if (IsBlank(line)) continue;
        ParsedLine entry;
        if (!ParseLine(line, m_objectTypes->size(), entry, what)) {
            std::cerr << "Cannot load placement file " << file << ": line " << number << ": " << what
                      << "; nothing was loaded" << std::endl;
            return false;
        }
        parsed.push_back(entry);
    }
    if (in.bad()) {
        std::cerr << "Cannot load placement file " << file << ": read error; nothing was loaded" << std::endl;
        return false;
    }
    // Said here because every caller goes on differently: view mode stops, the construction runs.
    if (parsed.empty()) std::cerr << "Placement file " << file << " holds no objects." << std::endl;
    std::list<MovingObject*> made;
    for (const ParsedLine& entry : parsed) {
        // The stored scale is the object's size: an improvement that scales it to full size
        // keeps it there.
        const Matrix4 scale = MatrixFrom(entry.numbers + 32);
        const float size = std::fabs(scale.getElem(0, 0));
        MovingObject* o = GenerateObject(entry.typeIndex, size > 0.0f ? size : 1.0f);
        o->m_translationMatrix = MatrixFrom(entry.numbers);
        o->m_rotationMatrix = MatrixFrom(entry.numbers + 16);
        o->m_scaleMatrix = scale;
        o->m_modelMatrix = o->m_translationMatrix * o->m_rotationMatrix * o->m_scaleMatrix;
        o->m_position = o->m_translationMatrix.getTranslation();
        made.push_back(o);
    }
    // The list may be the one the viewer draws: it changes in one step, under the lock.
    std::lock_guard<std::mutex> lock(g_packingMutex);
    objects.splice(objects.end(), made);
    return !objects.empty();
}

void IPackingAlgorithm::ExportObj(std::string file, std::list<MovingObject*>& objects, MovingObject* container) {
    const ReplaceTarget target = BeginReplace(file);
    FILE* out = std::fopen(target.writeTo.c_str(), "w");
    if (out == nullptr) {
        std::cout << "Error. Can't open file to export/write." << std::endl;
        return;
    }
    unsigned offset = 0;
    auto writeMesh = [&](MovingObject* o) {
        PackingGeometry* g = o->m_geometry;
        // A mesh without its point and primitive lists has nothing to export.
        if (g != nullptr && g->m_pointsPtr != nullptr && g->m_primitivesPtr != nullptr)
            g->ExportObj(out, o->m_modelMatrix, offset);
    };
    std::fprintf(out, "o container.%03d\n", 0);
    writeMesh(container);
    int k = 1;
    for (MovingObject* o : objects) {
        std::fprintf(out, "o %s.%03d\n", o->m_name.c_str(), k++);
        writeMesh(o);
    }
    const bool good = std::fflush(out) == 0 && !std::ferror(out);
    const int savedErrno = errno;
    if (std::fclose(out) != 0 || !good) {
        AbandonReplace(target);
        std::cerr << "Cannot write OBJ file " << file << ": " << std::strerror(good ? errno : savedErrno) << std::endl;
        return;
    }
    std::string reason;
    if (!FinishReplace(target, reason)) std::cerr << "Cannot write OBJ file " << file << ": " << reason << std::endl;
}
