#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vozaro::platform {

FileLock::FileLock(const std::filesystem::path& lockFile) {
    // flock() needs no write access: a lock file that cannot be written
    // (another user's, a read-only copy) locks as well.  A link planted by
    // the lock file's name is not followed.
    int fd;
    do {
        fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = std::error_code(errno, std::generic_category());
        return;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error_ = std::error_code(errno, std::generic_category());
        ::close(fd);
        return;
    }
    fd_ = fd;
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_);  // lets the lock go
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
    }
    return *this;
}

}  // namespace vozaro::platform
