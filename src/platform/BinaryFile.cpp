#include "platform/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>

namespace fs = std::filesystem;

namespace vozaro::platform {

namespace {

[[noreturn]] void fail(int error, const char* what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Makes a rename inside `folder` durable; a failure only weakens durability.
void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

constexpr size_t kFlushSize = 1 << 20;

std::mutex spaceHookMutex;
FileSpaceHook spaceHook;

// The bytes of a write that fit on the disk: all of them but under a test's
// hook.
size_t bytesThatFit(const fs::path& path, size_t size) {
    std::lock_guard lock(spaceHookMutex);
    return spaceHook ? std::min(size, spaceHook(FileSpaceChange::Write, path, size)) : size;
}

void removed(const fs::path& path, uint64_t bytes) {
    std::lock_guard lock(spaceHookMutex);
    if (spaceHook)
        spaceHook(FileSpaceChange::Remove, path, static_cast<size_t>(bytes));
}

}  // namespace

FileSpaceHook installFileSpaceHook(FileSpaceHook hook) {
    std::lock_guard lock(spaceHookMutex);
    return std::exchange(spaceHook, std::move(hook));
}

BinaryFile::BinaryFile(const fs::path& path, Mode mode, std::error_code& error) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::ReadOnly: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateReadWrite: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    case Mode::CreateWrite: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    error = fd_ < 0 ? std::error_code(errno, std::generic_category()) : std::error_code();
    if (fd_ >= 0)
        path_ = path;
}

BinaryFile::~BinaryFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

uint64_t BinaryFile::size() const {
    struct stat st {};
    if (fd_ < 0)
        fail(EBADF, "file not open");
    if (::fstat(fd_, &st) != 0)
        fail(errno, "cannot read the file's size");
    return static_cast<uint64_t>(st.st_size);
}

size_t BinaryFile::readAt(char* data, size_t size, uint64_t offset) const {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, "cannot read the file");
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void BinaryFile::writeAt(const char* data, size_t size, uint64_t offset) {
    const size_t fits = bytesThatFit(path_, size);
    size_t done = 0;
    while (done < fits) {
        ssize_t n = ::pwrite(fd_, data + done, fits - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, "cannot write the file");
        done += static_cast<size_t>(n);
    }
    if (fits < size)
        fail(ENOSPC, "cannot write the file");
}

void BinaryFile::sync() {
    if (::fsync(fd_) != 0)
        fail(errno, "cannot flush the file");
}

void BinaryFile::truncate(uint64_t size) {
    int result;
    do {
        result = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        fail(errno, "cannot cut the file short");
}

void BinaryFile::close() {
    int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0)
        fail(errno, "cannot close the file");
}

FileRewrite::FileRewrite(fs::path rewritePath) : path_(std::move(rewritePath)) {
    // A stale file of a crashed rewrite, or a link planted by that name, goes;
    // the new file is created only where nothing is left.
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM)
        fail(errno, "cannot remove the old rewrite file");
    std::error_code error;
    file_ = BinaryFile(path_, BinaryFile::Mode::CreateReadWrite, error);
    if (error)
        throw std::system_error(error, "cannot create the rewrite file");
}

FileRewrite::~FileRewrite() { discard(); }

void FileRewrite::discard() noexcept {
    if (committed_)
        return;
    committed_ = true;
    file_ = BinaryFile();
    struct stat st {};
    const bool existed = ::lstat(path_.c_str(), &st) == 0;
    if (::unlink(path_.c_str()) == 0 && existed)
        removed(path_, static_cast<uint64_t>(st.st_size));
}

void FileRewrite::append(const char* data, size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    if (pending_.size() >= kFlushSize)
        flush();
}

void FileRewrite::flush() {
    file_.writeAt(pending_.data(), pending_.size(), written_);
    written_ += pending_.size();
    pending_.clear();
}

void FileRewrite::commit(const fs::path& target) {
    flush();
    file_.sync();
    file_.close();
    if (::rename(path_.c_str(), target.c_str()) != 0)
        fail(errno, "cannot replace the file");
    committed_ = true;
    syncFolder(target.parent_path());
}

}  // namespace vozaro::platform
