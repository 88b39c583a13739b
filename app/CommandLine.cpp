#include "app/CommandLine.h"

#include <charconv>
#include <iostream>

namespace {

void WriteUsage(const std::string& name, std::ostream& err) {
    err << "Usage: " << name << " <option(s)> SOURCES\n"
        << "Options:\n"
        << "\t-h,--help\t\tShow this help message\n"
        << "\t-c,--config CONFIG\tSpecify the config path \t Default: 'config.cfg'" << std::endl;
}

constexpr const char* kKnownOptions =
    "-h, --help, -c, --config, -v, --view, --headless, --quiet, --frame, --seed, --limits, --steps-per-second, "
    "--report";

bool ParseUnsigned(const std::string& text, uint32_t& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last && !text.empty();
}

}  // namespace

void show_usage(std::string name) { WriteUsage(name, std::cerr); }

CommandLine ParseCommandLine(int argc, char** argv, std::ostream& err) {
    CommandLine cl;
    const std::string name = argc > 0 && argv[0] ? argv[0] : "densepack";
    auto fail = [&](const std::string& message) {
        err << message << std::endl;
        WriteUsage(name, err);
        cl.exitNow = true;
        cl.exitStatus = 1;
        return cl;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            WriteUsage(name, err);
            cl.exitNow = true;
            cl.exitStatus = 0;
            return cl;
        }
        if (arg == "-c" || arg == "--config") {
            if (i + 1 >= argc) return fail("--config option requires one argument.");
            cl.configPath = argv[++i];
            cl.acceptedConfigOrView = true;
        } else if (arg == "-v" || arg == "--view") {
            if (i + 1 >= argc) return fail("--view option requires one argument.");
            cl.viewPath = argv[++i];
            cl.acceptedConfigOrView = true;
        } else if (arg == "--headless") {
            cl.headless = true;
        } else if (arg == "--quiet") {
            cl.quiet = true;
        } else if (arg == "--frame") {
            cl.frame = true;
        } else if (arg == "--seed") {
            if (i + 1 >= argc) return fail("--seed option requires one argument.");
            const std::string value = argv[++i];
            if (!ParseUnsigned(value, cl.seed)) {
                err << "--seed expects a whole number from 0 to 4294967295, got '" << value << "'." << std::endl;
                cl.exitNow = true;
                cl.exitStatus = 1;
                return cl;
            }
            cl.hasSeed = true;
        } else if (arg == "--limits") {
            if (i + 1 >= argc) return fail("--limits option requires one argument.");
            const std::string value = argv[++i];
            if (value != "time" && value != "steps") {
                err << "--limits expects 'time' or 'steps', got '" << value << "'." << std::endl;
                cl.exitNow = true;
                cl.exitStatus = 1;
                return cl;
            }
            cl.limitsBySteps = value == "steps";
        } else if (arg == "--steps-per-second") {
            if (i + 1 >= argc) return fail("--steps-per-second option requires one argument.");
            const std::string value = argv[++i];
            uint32_t k = 0;
            if (!ParseUnsigned(value, k) || k < 1 || k > 1000000) {
                err << "--steps-per-second expects a whole number from 1 to 1000000, got '" << value << "'."
                    << std::endl;
                cl.exitNow = true;
                cl.exitStatus = 1;
                return cl;
            }
            cl.stepsPerSecond = static_cast<int>(k);
        } else if (arg == "--report") {
            if (i + 1 >= argc) return fail("--report option requires one argument.");
            cl.reportPath = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            // A mistyped option (--limit for --limits) would otherwise change the run unnoticed.
            err << "Unknown option '" << arg << "' is ignored; the options are " << kKnownOptions << "." << std::endl;
        }
        // Anything else is not an option and is ignored.
    }

    if (!cl.acceptedConfigOrView) WriteUsage(name, err);
    return cl;
}
