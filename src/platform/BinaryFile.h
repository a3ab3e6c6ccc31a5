// Files read and written at explicit offsets, and rewrites that replace a
// file in one step.  Failures throw std::system_error carrying the system's
// error and a short English description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace vozaro::platform {

// The test double of a disk that fills up: a hook that sees every write
// before it is made and every rewrite file given up.  For a write it returns
// how many of the bytes fit; the write then stores those and fails with
// ENOSPC, as a full file system does.  Removals tell it the bytes given back.
enum class FileSpaceChange { Write, Remove };
using FileSpaceHook = std::function<size_t(FileSpaceChange change, const std::filesystem::path& path, size_t bytes)>;
// Installs a hook for the whole process (an empty one: the real disk only);
// returns the previous one.  Tests only.
FileSpaceHook installFileSpaceHook(FileSpaceHook hook);

class BinaryFile {
public:
    enum class Mode {
        ReadOnly,
        ReadWrite,        // the file must exist
        CreateReadWrite,  // the file must not exist (nor a link by its name); created empty
        CreateWrite,      // created, or emptied when it exists
    };

    BinaryFile() = default;
    // Opens `path`; on failure the file stays closed and `error` says why.
    BinaryFile(const std::filesystem::path& path, Mode mode, std::error_code& error);
    ~BinaryFile();
    BinaryFile(BinaryFile&& other) noexcept;
    BinaryFile& operator=(BinaryFile&& other) noexcept;
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const std::filesystem::path& path() const { return path_; }
    uint64_t size() const;
    // Reads up to `size` bytes; fewer only at the end of the file.
    size_t readAt(char* data, size_t size, uint64_t offset) const;
    void writeAt(const char* data, size_t size, uint64_t offset);
    // Cuts the file to `size` bytes.
    void truncate(uint64_t size);
    // Makes what was written so far survive a crash or a power loss.
    void sync();
    // Closes the file, reporting a failure of the last writes.
    void close();

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

// A file written completely beside its target, flushed to disk and then
// renamed over the target in one step: a crash at any moment leaves either
// the old or the new target, whole.  Until commit() succeeds the target is
// untouched; an uncommitted rewrite file is removed.
//
// The rewrite file is always made afresh: whatever lies under its name (a
// stale rewrite, a symbolic link to another file) is unlinked first and the
// new file is created exclusively, so no link is ever followed.  Something
// that cannot be unlinked there (a folder) makes the rewrite fail.
class FileRewrite {
public:
    explicit FileRewrite(std::filesystem::path rewritePath);
    ~FileRewrite();
    FileRewrite(const FileRewrite&) = delete;
    FileRewrite& operator=(const FileRewrite&) = delete;

    void append(const char* data, size_t size);
    void commit(const std::filesystem::path& target);
    // Gives an uncommitted rewrite up at once, removing its file so that the
    // space it took is free again (on a full disk, for putting back what the
    // failed rewrite was part of).
    void discard() noexcept;

private:
    void flush();

    std::filesystem::path path_;
    BinaryFile file_;
    uint64_t written_ = 0;
    std::vector<char> pending_;
    bool committed_ = false;
};

}  // namespace vozaro::platform
