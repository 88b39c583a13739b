#include "app/Config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <locale>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "geometry/Random.h"
#include "geometry/SizeDistribution.h"

namespace {

enum class Section {
    ConstructionHeuristic,
    ImprovementHeuristic,
    Grid,
    SurfaceDensityEpsilon,
    HopkinsStatistic,
    Preprocessing,
    ModelPath,
    Container,
    Objects,
    Compression,
};

struct Header {
    std::string_view text;
    Section section;
};

// Tested in this order; a line matches when it starts with the header text.
constexpr Header kHeaders[] = {
    {"[Construction Heuristic]", Section::ConstructionHeuristic},
    {"[Improvement Heuristic]", Section::ImprovementHeuristic},
    {"[Grid]", Section::Grid},
    {"[SurfaceDensity Epsilon]", Section::SurfaceDensityEpsilon},
    {"[Hopkins Statistic]", Section::HopkinsStatistic},
    {"[Preprocessing]", Section::Preprocessing},
    {"[ModelPath]", Section::ModelPath},
    {"[Container]", Section::Container},
    {"[Objects]", Section::Objects},
    {"[Compression]", Section::Compression},
};

// 2^30 / 0.7 as a float: maps a 30-bit draw onto [0, 0.7).
constexpr float kRandomColourScale = 1533916928.0f;
constexpr float kRandomColourBase = 0.1f;

/// Reads one line and counts it. Only '\n' ends a line, but one trailing '\r' is dropped:
/// a file saved with CRLF endings would otherwise carry the '\r' into the model path and
/// every last word of a line, and the model files would silently not be found.
bool ReadLine(std::istream& in, std::string& line, int& lineNumber) {
    if (!std::getline(in, line)) return false;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

const Header* MatchHeader(const std::string& line) {
    for (const Header& h : kHeaders) {
        if (line.size() >= h.text.size() && line.compare(0, h.text.size(), h.text) == 0) return &h;
    }
    return nullptr;
}

/// A stream over one data line with the classic locale, so that a global locale with a
/// decimal comma cannot change how numbers read.
std::istringstream LineStream(const std::string& line) {
    std::istringstream s(line);
    s.imbue(std::locale::classic());
    return s;
}

/// Extraction into locals seeded with the current values keeps the stream rules: a failed
/// number stores 0 and stops the chain, values after it stay as they were.
void ParseSection(Section section, const std::string& line, ConfigData& data) {
    std::istringstream s = LineStream(line);
    switch (section) {
        case Section::ConstructionHeuristic:
            s >> data.constructionHeuristic >> data.constructionFile;
            break;
        case Section::ImprovementHeuristic:
            s >> data.improvementHeuristic >> data.improvementFile;
            break;
        case Section::Grid: {
            float x = data.gridCells.getX();
            float y = data.gridCells.getY();
            float z = data.gridCells.getZ();
            s >> x >> y >> z;
            data.gridCells = Vectormath::Aos::Vector3(x, y, z);
            break;
        }
        case Section::SurfaceDensityEpsilon:
            s >> data.surfaceDensityEpsilon;
            break;
        case Section::HopkinsStatistic:
            s >> data.hopkinsSubSet >> data.hopkinsRepeat;
            break;
        case Section::Preprocessing:
            s >> data.pointFile >> data.samplingVolume >> data.stepSize >> data.samplingThreads;
            break;
        case Section::ModelPath:
            data.modelPath = line;
            break;
        case Section::Container:
            s >> data.containerName >> data.containerColor[0] >> data.containerColor[1] >> data.containerColor[2] >>
                data.containerColor[3];
            break;
        case Section::Objects:
            break;
        case Section::Compression:
            data.compressionSettings = line;
            break;
    }
}

/// Blank lines and '#' comments in the object list are skipped: a trailing empty line or a
/// commented-out type would otherwise end the run with a colour error.
bool IsSkippedObjectLine(const std::string& line) {
    for (char c : line) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        return c == '#';
    }
    return true;
}

float RandomColourComponent() { return kRandomColourBase + static_cast<float>(g_PRNG->rand()) / kRandomColourScale; }

/// The words after the colour: "size=DIST" sets the type's size distribution; another word
/// with '=' is refused, one without is ignored as before.
bool ParseObjectSettings(std::istringstream& s, PackingObjectInfo& info, std::string& outError) {
    s.clear();  // a missing colour value fails the stream; the words after it still count
    std::string word;
    while (s >> word) {
        if (word.compare(0, 5, "size=") == 0) {
            if (!ParseSizeDistribution(word.substr(5), info.size, outError)) return false;
        } else if (word.find('=') != std::string::npos) {
            outError = "unknown object setting '" + word + "' (known: size=)";
            return false;
        }
    }
    return true;
}

/// Parses "name percentage (rand A | R G B A) [size=DIST]" into a fresh record. Returns false
/// with the reason when the colour does not convert or a setting is bad.
bool ParseObjectLine(const std::string& line, PackingObjectInfo& info, std::string& outError) {
    std::istringstream s = LineStream(line);
    std::string third;
    s >> info.name >> info.percentage >> third;
    if (third == "rand") {
        info.color[0] = RandomColourComponent();
        info.color[1] = RandomColourComponent();
        info.color[2] = RandomColourComponent();
        s >> info.color[3];
        return ParseObjectSettings(s, info, outError);
    }
    if (!ParseColourToken(third, info.color[0])) {
        outError = "invalid colour value '" + third + "' in object line";
        return false;
    }
    s >> info.color[1] >> info.color[2] >> info.color[3];
    return ParseObjectSettings(s, info, outError);
}

}  // namespace

bool ParseColourToken(const std::string& token, float& out) {
    const char* begin = token.c_str();
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(begin, &end);
    if (end == begin || errno == ERANGE) return false;
    out = value;
    return true;
}

int LoadConfig(std::string& path, ConfigData& data) {
    std::error_code ec;
    std::ifstream in;
    // A directory opens as a stream on Linux but reads nothing: report it like a missing file.
    if (!std::filesystem::is_directory(path, ec)) in.open(path);
    if (!in.is_open()) {
        std::cout << "Error reading filename:" << path << std::endl;
        return kConfigCannotOpen;
    }

    std::string line;
    int lineNumber = 0;
    bool objectsFollow = false;
    while (!objectsFollow && ReadLine(in, line, lineNumber)) {
        const Header* header = MatchHeader(line);
        if (header == nullptr) continue;
        if (header->section == Section::Objects) {
            objectsFollow = true;
        } else if (ReadLine(in, line, lineNumber)) {
            if (header->section == Section::Compression) data.compressionLine = lineNumber;
            ParseSection(header->section, line, data);
        }
    }
    if (!objectsFollow) return kConfigOk;

    while (ReadLine(in, line, lineNumber)) {
        if (IsSkippedObjectLine(line)) continue;
        PackingObjectInfo info;
        std::string error;
        if (!ParseObjectLine(line, info, error)) {
            std::cerr << path << ':' << lineNumber << ": " << error << std::endl;
            return kConfigBadObjectLine;
        }
        data.objects.push_back(std::move(info));
    }
    return kConfigOk;
}
