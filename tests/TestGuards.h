#pragma once
// Guards that give back what a test changes in the process (environment
// variables, the working folder, a program-wide value) when they go out of
// scope, also when a failed assertion ends the test early.

#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>

// Sets (or, given nothing, removes) an environment variable for the scope.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::optional<std::string>& value) : Name(name) {
        if (const char* old = std::getenv(name)) {
            Previous = old;
        }
        Apply(value);
    }
    ~TScopedEnv() { Apply(Previous); }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    void Apply(const std::optional<std::string>& value) const {
        if (value) {
            setenv(Name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(Name.c_str());
        }
    }
    std::string Name;
    std::optional<std::string> Previous;
};

// Makes folder the working folder for the scope.
class TScopedCurrentFolder {
public:
    explicit TScopedCurrentFolder(const std::string& folder) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer)) {
            Previous = buffer;
        }
        Changed = chdir(folder.c_str()) == 0;
    }
    ~TScopedCurrentFolder() {
        if (!Previous.empty()) {
            [[maybe_unused]] const int ignored = chdir(Previous.c_str());
        }
    }
    TScopedCurrentFolder(const TScopedCurrentFolder&) = delete;
    TScopedCurrentFolder& operator=(const TScopedCurrentFolder&) = delete;
    bool Changed = false;

private:
    std::string Previous;
};

// Gives a variable a value for the scope.
template <class T> class TScopedValue {
public:
    TScopedValue(T& variable, T value) : Variable(variable), Previous(std::move(variable)) {
        Variable = std::move(value);
    }
    ~TScopedValue() { Variable = std::move(Previous); }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& Variable;
    T Previous;
};
