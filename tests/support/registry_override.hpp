// Points a predefined root key of this process (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) at a key
// of the test's own, so that code which names its keys under that root reads and writes there
// and never meets the values of another test running at the same time. The stand-in lives
// under the real HKEY_CURRENT_USER and goes, with everything in it, when the holder does.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/system/registry.hpp"

namespace testing_support {

class registry_override {
public:
    // kept: keys of the real root copied into the test's own first, for what the system itself
    // reads there (the cryptographic providers behind random numbers live under HKLM).
    explicit registry_override(HKEY root, std::initializer_list<const wchar_t*> kept = {}) : root_(root) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = L"Software\\Vandrel Tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(reinterpret_cast<ULONG_PTR>(root) & 0xFF);
        if (info)
            path_ += L"-" + std::wstring(info->name(), info->name() + std::strlen(info->name()));
        key_ = vd::reg_create_key(HKEY_CURRENT_USER, path_);
        for (const wchar_t* name : kept) {
            if (const auto source = vd::reg_open_key(root_, name))
                ::RegCopyTreeW(source.get(), nullptr, vd::reg_create_key(key_.get(), name).get());
        }
        overridden_ = ::RegOverridePredefKey(root_, key_.get()) == ERROR_SUCCESS;
    }
    ~registry_override() {
        if (overridden_)
            ::RegOverridePredefKey(root_, nullptr);
        key_ = vd::reg_key();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vandrel Tests");
    }
    registry_override(const registry_override&) = delete;
    registry_override& operator=(const registry_override&) = delete;

    bool overridden() const noexcept { return overridden_; }

private:
    HKEY root_;
    std::wstring path_;
    vd::reg_key key_;
    bool overridden_ = false;
};

} // namespace testing_support
