#include "support/Subprocess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
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
    const std::string dir = MakeTempDir("proc");
    const std::string outPath = dir + "/out", errPath = dir + "/err";
    std::string full = "(";
    if (!cwd.empty()) full += "cd " + ShellQuote(cwd) + " && ";
    full += command + ") >" + ShellQuote(outPath) + " 2>" + ShellQuote(errPath) + " </dev/null";
    const int raw = std::system(full.c_str());
    ProcessResult r;
    r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    fs::remove_all(dir);
    return r;
}
