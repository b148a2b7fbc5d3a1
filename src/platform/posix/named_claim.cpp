#include "platform/named_claim.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/posix/file_util.h"

namespace orvex::platform {
namespace {

// Claims are per user, like the session namespace of named kernel objects.
const std::string& ClaimDir() {
    static const std::string dir = [] {
        std::string candidates[3];
        if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && run[0] == '/') {
            candidates[0] = std::string(run) + "/orvex";
        }
        candidates[1] = "/dev/shm/orvex";
        candidates[2] = "/tmp/orvex-" + std::to_string(::getuid());
        for (const std::string& c : candidates) {
            if (!c.empty() && posix::MakeDirs(c, 0700) && ::access(c.c_str(), W_OK | X_OK) == 0) {
                return c;
            }
        }
        return std::string();
    }();
    return dir;
}

// Letters, digits, '-' and '_' stand as they are; every other byte becomes %XX. Very long
// names keep a readable head and a hash of the whole, to stay within file-name limits.
std::string FileNameFor(std::string_view name) {
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            u == '-' || u == '_') {
            out += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", u);
            out += buf;
        }
    }
    if (out.size() > 200) {
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (char c : name) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        char buf[24];
        std::snprintf(buf, sizeof buf, "~%016llx", static_cast<unsigned long long>(hash));
        out.resize(150);
        out += buf;
    }
    return out + ".claim";
}

// Creating, opening and the last close take this folder-wide lock, so that "does anybody
// hold it" and "hold it" happen as one step, and no file is removed while being opened.
posix::ScopedFd LockFolder(const std::string& dir) {
    posix::ScopedFd fd(::open((dir + "/.guard").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.valid() && posix::Flock(fd.get(), LOCK_EX) != 0) fd.Reset();
    return fd;
}

// Holders keep a shared lock; an exclusive try succeeds only when nobody else holds one.
bool HeldByOthers(int fd) {
    if (posix::Flock(fd, LOCK_EX | LOCK_NB) == 0) {
        posix::Flock(fd, LOCK_UN);
        return false;
    }
    return true;
}

}  // namespace

bool NamedClaim::Create(std::string_view name, bool* already_existed) {
    if (already_existed != nullptr) *already_existed = false;
    if (fd_ >= 0 || name.empty()) return false;
    const std::string& dir = ClaimDir();
    if (dir.empty()) return false;
    const posix::ScopedFd guard = LockFolder(dir);
    if (!guard.valid()) return false;
    std::string path = dir + "/" + FileNameFor(name);
    posix::ScopedFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid()) return false;
    const bool existed = HeldByOthers(fd.get());
    if (posix::Flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return false;
    if (already_existed != nullptr) *already_existed = existed;
    fd_ = fd.Release();
    path_ = std::move(path);
    return true;
}

bool NamedClaim::Open(std::string_view name) {
    if (fd_ >= 0 || name.empty()) return false;
    const std::string& dir = ClaimDir();
    if (dir.empty()) return false;
    const posix::ScopedFd guard = LockFolder(dir);
    if (!guard.valid()) return false;
    std::string path = dir + "/" + FileNameFor(name);
    posix::ScopedFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid() || !HeldByOthers(fd.get())) return false;
    if (posix::Flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return false;
    fd_ = fd.Release();
    path_ = std::move(path);
    return true;
}

void NamedClaim::Close() {
    if (fd_ < 0) return;
    const std::string& dir = ClaimDir();
    const posix::ScopedFd guard = LockFolder(dir);
    posix::Flock(fd_, LOCK_UN);
    // The last holder removes the file; holders that died leave theirs, unlocked, to be reused.
    if (guard.valid() && !HeldByOthers(fd_) && !path_.empty()) ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

bool NamedClaim::Exists(std::string_view name) {
    NamedClaim probe;
    return probe.Open(name);
}

}  // namespace orvex::platform
