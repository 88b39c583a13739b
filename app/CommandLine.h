#pragma once
// Command-line parsing of densepack. The usage text and messages are part of the
// program's interface: scripts compare them byte for byte.

#include <cstdint>
#include <iosfwd>
#include <string>

struct CommandLine {
    std::string configPath = "config.cfg";
    std::string viewPath;    ///< empty: run mode
    std::string reportPath;  ///< --report FILE.json, empty: none
    bool headless = false;   ///< --headless: no window, no GL
    bool hasSeed = false;    ///< --seed given
    uint32_t seed = 0;
    bool limitsBySteps = false;         ///< --limits steps: iteration budgets instead of wall-clock limits
    int stepsPerSecond = 0;             ///< --steps-per-second K; 0: the default
    bool quiet = false;                 ///< --quiet: no per-iteration lines on standard output
    bool frame = false;                 ///< --frame: the window opens with the packing framed
    bool acceptedConfigOrView = false;  ///< a -c or -v option was taken
    bool exitNow = false;               ///< parsing decided the exit status
    int exitStatus = 0;
};

/// Writes the usage text for program NAME to standard error.
void show_usage(std::string name);

/// Parses argv the way densepack does: options are examined from the first on,
/// anything that is not an option is ignored, an unknown option ("-" and more) is ignored after
/// one line naming it and the known ones, a repeated option's later value wins.
/// Messages (usage, missing arguments) go to `err`.
CommandLine ParseCommandLine(int argc, char** argv, std::ostream& err);
