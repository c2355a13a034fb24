#include "Spawn.h"

#include <fcntl.h>
#include <spawn.h>

extern char** environ;

namespace tavtest {

pid_t SpawnQuiet(const std::vector<std::string>& args, const std::string& dir, const std::vector<std::string>* env) {
    if (args.empty())
        return -1;
    std::vector<std::string> argCopy = args, envCopy = env ? *env : std::vector<std::string>{};
    std::vector<char*> argv, envp;
    for (auto& a : argCopy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envCopy)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), env ? envp.data() : environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

} // namespace tavtest
