#include "platform/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

BinaryFile::BinaryFile(const fs::path& path, Mode mode, std::error_code& error) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::ReadOnly: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateReadWrite: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case Mode::CreateWrite: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    error = fd_ < 0 ? std::error_code(errno, std::generic_category()) : std::error_code();
}

BinaryFile::~BinaryFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
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
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, "cannot write the file");
        done += static_cast<size_t>(n);
    }
}

void BinaryFile::sync() {
    if (::fsync(fd_) != 0)
        fail(errno, "cannot flush the file");
}

void BinaryFile::close() {
    int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0)
        fail(errno, "cannot close the file");
}

FileRewrite::FileRewrite(fs::path rewritePath) : path_(std::move(rewritePath)) {
    std::error_code error;
    file_ = BinaryFile(path_, BinaryFile::Mode::CreateWrite, error);
    if (error)
        throw std::system_error(error, "cannot create the rewrite file");
}

FileRewrite::~FileRewrite() {
    if (!committed_) {
        file_ = BinaryFile();
        ::unlink(path_.c_str());
    }
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
