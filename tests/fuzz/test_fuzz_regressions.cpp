// Every input the fuzzers ever failed on (regressions/<target>/) and every seed they start from
// (seeds/<target>/) goes once more through its target, with the target's own checks, in the
// normal test builds: a reader that crashes, hangs or breaks a promise on one of them again
// fails here.

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FuzzTargets.h"
#include "support/Subprocess.h"

namespace {

struct Target {
    const char* name;
    int (*run)(const uint8_t*, size_t);
    const char* bundled = nullptr;  ///< project folder whose files of `suffix` are seeds too, or null
    const char* suffix = "";
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

const Target kTargets[] = {{"config", fuzz::Config, "configs", ".cfg"},
                           {"obj", fuzz::Obj, "models", ".obj"},
                           {"spheres", fuzz::Spheres, "models", ".spheres"},
                           {"pointfile", fuzz::PointFile},
                           {"placement", fuzz::Placement},
                           {"mesh", fuzz::Mesh, "models", ".obj"}};

std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix = "") {
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name[0] == '.' || name.size() < suffix.size()) continue;
            if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndFormerFindingsPassTheTargetsChecks) {
    const std::string root = DENSEPACK_FUZZ_DIR;
    const std::vector<std::string> seeds = FilesIn(root + "/seeds/" + GetParam().name);
    ASSERT_FALSE(seeds.empty()) << "no seeds for " << GetParam().name;
    std::vector<std::string> inputs = seeds;
    if (GetParam().bundled != nullptr)
        for (const std::string& f : FilesIn(root + "/../../" + GetParam().bundled, GetParam().suffix))
            inputs.push_back(f);
    for (const std::string& f : FilesIn(root + "/regressions/" + GetParam().name)) inputs.push_back(f);
    for (const std::string& file : inputs) {
        SCOPED_TRACE(file);
        const std::string bytes = ReadFile(file);
        // A broken check aborts inside the target and ends this test as a crash.
        GetParam().run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
