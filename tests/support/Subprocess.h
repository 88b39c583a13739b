#pragma once
// Runs command lines through /bin/sh as a user would and captures their output; captures what code
// in the test process prints; makes temporary folders and files.

#include <gtest/gtest.h>

#include <string>

struct ProcessResult {
    int status = -1;  ///< exit status, or -1 if the process did not exit normally
    std::string out;  ///< standard output
    std::string err;  ///< standard error
};

/// Runs `command` in directory `cwd` (empty: current) with standard input from /dev/null.
ProcessResult RunCommand(const std::string& command, const std::string& cwd = "");

/// Shell-quotes one argument.
std::string ShellQuote(const std::string& s);

/// A fresh, empty directory under the system temp folder, unique per call.
std::string MakeTempDir(const std::string& tag);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

/// `text` without the progress lines long phases write on standard error ("Phase: 3/10 unit, ...,
/// 1.2 s" and their closing "..., done in 1.2 s"), so a test can compare what is left exactly.
std::string WithoutProgress(const std::string& text);

/// What `f` prints on standard output (or standard error) while it runs.
template <class F>
std::string StdoutOf(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}
template <class F>
std::string StderrOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}
