// An advisory lock on a file, held for the life of the object: flock() on a
// lock file that is created when missing and never removed.  The system lets
// it go when the holder ends in any way, a crash or a kill included, so a
// lock is never left behind.  Two FileLocks on one file exclude each other
// also inside one process.  The file is opened for reading only, so a lock
// file that cannot be written locks all the same.
#pragma once

#include <filesystem>
#include <system_error>

namespace vozaro::platform {

class FileLock {
public:
    // Takes the lock without waiting; held() tells whether it was got, and
    // error() why not (EWOULDBLOCK: someone else holds it; anything else:
    // the lock could not be taken at all, e.g. EMFILE when no descriptor is
    // left, or a lock file that cannot be made or read).
    explicit FileLock(const std::filesystem::path& lockFile);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    std::error_code error() const { return error_; }

private:
    int fd_ = -1;
    std::error_code error_;
};

}  // namespace vozaro::platform
