#include "support/Subprocess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string MakeTempDir(const std::string& tag) {
    static std::atomic<int> counter{0};
    fs::path dir = fs::temp_directory_path() /
                   ("densepack-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

ProcessResult RunCommand(const std::string& command, const std::string& cwd) {
    const std::string dir = MakeTempDir("proc"), outPath = dir + "/out", errPath = dir + "/err";
    const std::string cd = cwd.empty() ? "" : "cd " + ShellQuote(cwd) + " && ";
    const std::string full =
        "(" + cd + command + ") >" + ShellQuote(outPath) + " 2>" + ShellQuote(errPath) + " </dev/null";
    const int raw = std::system(full.c_str());
    ProcessResult r{(raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1, ReadFile(outPath), ReadFile(errPath)};
    fs::remove_all(dir);
    return r;
}

std::string WithoutProgress(const std::string& text) {
    // A progress line: a phase name, ": " and a count, ending in a duration or an estimate.
    auto endsWith = [](const std::string& l, const std::string& tail) {
        return l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
    };
    std::istringstream in(text);
    std::string out, l;
    while (std::getline(in, l)) {
        const size_t colon = l.find(": ");
        const bool progress = colon != std::string::npos && colon > 0 &&
                              std::isalpha(static_cast<unsigned char>(l[0])) && colon + 2 < l.size() &&
                              std::isdigit(static_cast<unsigned char>(l[colon + 2])) &&
                              (endsWith(l, " s") || endsWith(l, " min") || endsWith(l, " left"));
        if (!progress) out += l + "\n";
    }
    return out;
}
