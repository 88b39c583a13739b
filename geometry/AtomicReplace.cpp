#include "geometry/AtomicReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// fsync works on any descriptor of the file, so streams that hide theirs can still be synced.
bool SyncPath(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// Temporaries of writers that were killed before their rename ("NAME.tmp.PID.N" with a PID that
// no longer runs) would pile up beside the file; a live writer's temporary is left alone.
void RemoveStaleTemporaries(const std::string& path) {
    const std::string folder = FolderOf(path);
    const size_t slash = path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || *end != '.' || pid == static_cast<long>(getpid())) continue;
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) std::remove((folder + "/" + name).c_str());
    }
    closedir(d);
}

}  // namespace

ReplaceTarget BeginReplace(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    ReplaceTarget t;
    t.path = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            t.path = real;
            std::free(real);
        }
    }
    if (stat(t.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        t.inPlace = true;
        t.writeTo = t.path;
        return t;
    }
    RemoveStaleTemporaries(t.path);
    t.writeTo = t.path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
    return t;
}

bool FinishReplace(const ReplaceTarget& target, std::string& outReason) {
    if (target.inPlace) return true;
    if (!SyncPath(target.writeTo, O_RDONLY)) {
        outReason = std::strerror(errno);
        AbandonReplace(target);
        return false;
    }
    // A new file would get the default mode from the umask: keep what the old one had.
    struct stat old {};
    if (stat(target.path.c_str(), &old) == 0) {
        // Owner and group can only be kept by root or a member of the group; otherwise the writer
        // owns the new file. Before the mode, since a change of owner clears set-id bits.
        (void)!chown(target.writeTo.c_str(), old.st_uid, old.st_gid);
        (void)!chmod(target.writeTo.c_str(), old.st_mode & 07777);
    }
    if (std::rename(target.writeTo.c_str(), target.path.c_str()) != 0) {
        outReason = std::strerror(errno);
        AbandonReplace(target);
        return false;
    }
    // The rename is an entry of the folder; without this a power cut may still bring back the old file.
    SyncPath(FolderOf(target.path), O_RDONLY | O_DIRECTORY);
    return true;
}

void AbandonReplace(const ReplaceTarget& target) {
    if (!target.inPlace) std::remove(target.writeTo.c_str());
}

bool ReplaceWithText(const std::string& path, const std::string& text, std::string& outReason) {
    const ReplaceTarget target = BeginReplace(path);
    std::FILE* f = std::fopen(target.writeTo.c_str(), "wb");
    if (f == nullptr) {
        outReason = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    const int savedErrno = errno;
    ok = std::fclose(f) == 0 && ok;
    outReason = std::strerror(savedErrno);
    if (!ok) AbandonReplace(target);
    return ok && FinishReplace(target, outReason);
}
