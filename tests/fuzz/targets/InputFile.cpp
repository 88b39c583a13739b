#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "FuzzTargets.h"

namespace fuzz {

namespace {
// Taken before libFuzzer's -close_fd_mask silences the readers' own messages, so a broken
// check still says which one it was.
const int g_reportFd = dup(2);
}  // namespace

std::string InputFile(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("densepack-fuzz-input", 0);
    Require(fd >= 0, "memfd_create failed");
    Require(ftruncate(fd, 0) == 0, "ftruncate failed");
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        Require(n > 0, "pwrite failed");
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

void Require(bool ok, const char* what) {
    if (ok) return;
    const std::string line = std::string("fuzz check failed: ") + what + "\n";
    (void)!write(g_reportFd >= 0 ? g_reportFd : 2, line.data(), line.size());
    std::abort();
}

}  // namespace fuzz
