// Uses up the process's file descriptors for the life of the object, as a
// flood of connections would: the soft limit goes down to what is open now
// plus a few, and those few are taken.  Everything is given back after.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace vozaro::test {

class DescriptorsUsedUp {
public:
    DescriptorsUsedUp() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(highest) + 4;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken_.push_back(fd);
    }
    ~DescriptorsUsedUp() {
        for (int fd : taken_)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

private:
    rlimit saved_{};
    std::vector<int> taken_;
};

}  // namespace vozaro::test
