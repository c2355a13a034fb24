// Sets an environment variable for as long as the object lives and then puts back what was there before,
// or its absence. Tests change variables only through it, so a test never takes away the private folders
// (registry store, COM folder) its process was started with, nor leaves its own behind for the next test.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace tavtest {

class ScopedEnv {
public:
    explicit ScopedEnv(std::string name) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str()))
            saved_ = old;
    }
    ScopedEnv(std::string name, const std::string& value) : ScopedEnv(std::move(name)) { Set(value); }
    ~ScopedEnv() {
        if (saved_)
            ::setenv(name_.c_str(), saved_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const std::string& value) { ::setenv(name_.c_str(), value.c_str(), 1); }
    void Unset() { ::unsetenv(name_.c_str()); }

private:
    std::string name_;
    std::optional<std::string> saved_;
};

} // namespace tavtest
