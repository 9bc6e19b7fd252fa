#pragma once
// What the session tests share: an application that keeps state bytes, an
// environment that puts every session file into a directory of the test's
// own, and small file helpers.

#include <zem/shell/app.hpp>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zem::test {

struct StateApp {
    using Msg = int;
    std::string id = "net.tavix.Test";
    std::optional<std::vector<uint8_t>> state;
    std::vector<std::vector<uint8_t>>* restored = nullptr;
    std::string app_id() { return id; }
    std::vector<int> poll() { return {}; }
    void update(int) {}
    zem::Element view() { return {}; }
    std::optional<std::vector<uint8_t>> session_state() { return state; }
    void restore_session_state(std::vector<uint8_t> bytes) {
        if (restored) restored->push_back(std::move(bytes));
    }
};

// Sets (or, with nullopt, removes) a variable for the life of the guard.
class EnvGuard {
public:
    EnvGuard(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~EnvGuard() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace zem::test
