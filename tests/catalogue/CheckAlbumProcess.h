// vozaro-checkalbum run as its own process, for the tests that kill it or
// run two at once.  Only where the build names the tool (VOZARO_CHECKALBUM).
#pragma once

#ifdef VOZARO_CHECKALBUM

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

extern char** environ;

namespace vozaro::test {

// Starts vozaro-checkalbum on the catalogue in folder, its output dropped
// (with `quiet`, its error output too); -1 when it could not be started.
inline pid_t startCheck(const std::filesystem::path& folder, bool quiet = false) {
    std::string program = VOZARO_CHECKALBUM, argument = folder.string();
    char* argv[] = {program.data(), argument.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for a started check; its wait status.
inline int finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

}  // namespace vozaro::test

#endif
