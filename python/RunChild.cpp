#include "python/RunChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "app/StartUp.h"

namespace pydp {
namespace {

[[noreturn]] void RunChildSide(const std::vector<std::string>& args, int out, int err) {
    // A parent that dies takes its run along.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    // Nothing else of the parent stays open here: another run's pipes would not see their end.
    close_range(3, ~0u, 0);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = RunDensepack(static_cast<int>(copy.size()), argv.data());
    std::cout.flush();
    std::cerr.flush();
    // No destructors, no atexit handlers of the parent's interpreter.
    _exit(status);
}

// Splits what arrives on one pipe into lines.
struct LineReader {
    int fd = -1;
    bool standardError = false;
    std::string pending;

    // Reads what is there; false once the pipe is closed.
    bool Read(std::vector<std::string>& outLines) {
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
        if (n <= 0) {
            if (!pending.empty()) outLines.push_back(std::move(pending));
            pending.clear();
            return false;
        }
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find_first_of("\n\r", start)) != std::string::npos; start = nl + 1)
            if (nl > start) outLines.push_back(pending.substr(start, nl - start));
        pending.erase(0, start);
        return true;
    }
};

int DecodeStatus(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return 1;
}

}  // namespace

ChildResult RunInChild(const std::vector<std::string>& args, const std::function<bool(const ChildOutput&)>& listen,
                       double heartbeatSeconds) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        throw std::runtime_error(std::string("cannot start the run: ") + std::strerror(errno));
    }
    if (pid == 0) {
        close(out[0]);
        close(err[0]);
        RunChildSide(args, out[1], err[1]);
    }
    close(out[1]);
    close(err[1]);

    LineReader readers[2] = {{out[0], false, {}}, {err[0], true, {}}};
    bool open[2] = {true, true};
    ChildResult result;
    auto kill = [&] {
        ::kill(pid, SIGKILL);
        result.stopped = true;
    };
    using Clock = std::chrono::steady_clock;
    auto lastCall = Clock::now();
    const int timeoutMs = static_cast<int>(heartbeatSeconds * 1000.0);
    try {
        while (open[0] || open[1]) {
            pollfd fds[2];
            nfds_t count = 0;
            int which[2];
            for (int k = 0; k < 2; ++k)
                if (open[k]) {
                    fds[count] = {readers[k].fd, POLLIN, 0};
                    which[count++] = k;
                }
            const int ready = poll(fds, count, timeoutMs);
            std::vector<std::string> lines[2];
            for (nfds_t i = 0; ready > 0 && i < count; ++i)
                if (fds[i].revents != 0) open[which[i]] = readers[which[i]].Read(lines[which[i]]);
            bool stop = false, called = false;
            for (int k = 0; k < 2 && !stop; ++k)
                for (const std::string& line : lines[k]) {
                    called = true;
                    if ((stop = listen({&line, readers[k].standardError}))) break;
                }
            if (!called && !stop && Clock::now() - lastCall >= std::chrono::duration<double>(heartbeatSeconds)) {
                called = true;
                stop = listen({});
            }
            if (called) lastCall = Clock::now();
            if (stop) {
                kill();
                break;
            }
        }
    } catch (...) {
        kill();
        int raw = 0;
        waitpid(pid, &raw, 0);
        close(out[0]);
        close(err[0]);
        throw;
    }
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    close(out[0]);
    close(err[0]);
    result.status = DecodeStatus(raw);
    return result;
}

}  // namespace pydp
