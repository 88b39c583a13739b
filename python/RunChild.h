#pragma once
/// @file RunChild.h
/// One densepack run in a child process of the caller. The run flow keeps process-wide state that
/// lives until exit and has no cooperative stop; a child starts fresh every time, repeats byte for
/// byte, and can be stopped at any moment.

#include <functional>
#include <string>
#include <vector>

namespace pydp {

/// What the child wrote: one line at a time (without its newline), or none on a heartbeat.
struct ChildOutput {
    const std::string* line = nullptr;  ///< null: nothing new since the last call
    bool standardError = false;         ///< the line came from standard error
};

struct ChildResult {
    int status = 0;        ///< the run's exit status (128 + signal when a signal ended it)
    bool stopped = false;  ///< the listener asked to stop and the child was killed
};

/// Forks, runs RunDensepack(args) in the child with both output streams piped back, and calls
/// `listen` for every line and at least every `heartbeatSeconds` until the child ends. `listen`
/// returns true to stop the run (the child is killed); an exception from it kills the child too and
/// is passed on. Throws std::runtime_error when no child can be started.
ChildResult RunInChild(const std::vector<std::string>& args, const std::function<bool(const ChildOutput&)>& listen,
                       double heartbeatSeconds);

}  // namespace pydp
