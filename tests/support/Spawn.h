// Starts another program for a test or a benchmark, quietly: its standard output and error go to
// /dev/null.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tavtest {

// args[0] is the program's path. In `dir` when it is not empty; with `env` instead of this process's
// environment when it is given. The child's pid, or -1 when it could not start.
pid_t SpawnQuiet(const std::vector<std::string>& args, const std::string& dir = {},
                 const std::vector<std::string>* env = nullptr);

} // namespace tavtest
