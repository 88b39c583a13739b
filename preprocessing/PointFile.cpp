#include "preprocessing/PointFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "geometry/AtomicReplace.h"

using Vectormath::Aos::Vector3;

namespace {
constexpr int kBufferSize = 2048;

bool IsBlank(const char* s) {
    for (; *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
    return true;
}
}  // namespace

int LoadPointFile(std::string& path, std::vector<Vector3>& points) {
    std::ifstream in(path);
    if (!in.is_open()) {
        std::printf("Preprocessing file not found: %s\n", path.c_str());
        std::fflush(stdout);
        return -1;
    }
    std::vector<Vector3> read;
    char buffer[kBufferSize];
    int lineNumber = 0;
    while (in.good()) {
        in.getline(buffer, kBufferSize);
        if (in.fail()) {
            // Either the end of the file with nothing read, or a line too long for the buffer.
            if (in.eof() && in.gcount() == 0) break;
            if (!in.eof()) {
                std::cerr << path << ":" << lineNumber + 1 << ": line longer than " << kBufferSize - 1
                          << " characters; the point file is not used" << std::endl;
                return -1;
            }
        }
        ++lineNumber;
        if (IsBlank(buffer)) continue;
        float x, y, z;
        if (std::sscanf(buffer, "%f %f %f", &x, &y, &z) != 3) {
            std::cerr << path << ":" << lineNumber << ": expected three numbers \"x y z\"; the point file is not used"
                      << std::endl;
            return -1;
        }
        read.emplace_back(x, y, z);
    }
    points.insert(points.end(), read.begin(), read.end());
    return 0;
}

void WritePointFile(std::string path, std::vector<Vector3>& points) {
    if (points.empty()) {
        std::cout << "Point array is empty!" << std::endl;
        return;
    }
    const ReplaceTarget target = BeginReplace(path);
    {
        std::ofstream out(target.writeTo, std::ios::trunc);
        if (!out.is_open()) {
            std::cerr << "Cannot write point file " << path << ": " << std::strerror(errno) << std::endl;
            return;
        }
        for (const Vector3& p : points) out << p.getX() << " " << p.getY() << " " << p.getZ() << "\n";
        out.flush();
        const bool good = out.good();
        out.close();
        if (!good || out.fail()) {
            AbandonReplace(target);
            std::cerr << "Cannot write point file " << path << ": write failed (disk full?)" << std::endl;
            return;
        }
    }
    std::string reason;
    if (!FinishReplace(target, reason)) std::cerr << "Cannot write point file " << path << ": " << reason << std::endl;
}
