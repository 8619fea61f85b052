// Environment variables of this process for a test: read, and set for a while (the temporary
// folder of a test's own, none at all), put back as they were when the holder goes.
#pragma once

#include "foundation/system/environment.hpp"

#include <optional>
#include <string>

#include <windows.h>

namespace testing_support {

using vd::environment_value;

class environment_scope {
public:
    // A null value removes the variable for the while.
    environment_scope(const wchar_t* name, const wchar_t* value) : name_(name), saved_(environment_value(name)) {
        ::SetEnvironmentVariableW(name, value);
    }
    ~environment_scope() { vd::set_environment_value(name_, saved_); }
    environment_scope(const environment_scope&) = delete;
    environment_scope& operator=(const environment_scope&) = delete;

private:
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

} // namespace testing_support
