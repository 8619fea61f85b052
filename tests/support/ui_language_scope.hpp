// A UI language made current for one test, with the module that holds its texts.
#pragma once

#include <cstdint>

#include <windows.h>

#include "foundation/language/language_state.hpp"

namespace testing_support {

// Makes a UI language current with its texts in module, and puts the previous state back.
class ui_language_scope {
public:
    explicit ui_language_scope(int language, HMODULE module = ::GetModuleHandleW(nullptr))
        : saved_language_(vd::language_state::instance().language),
          saved_module_(vd::language_state::instance().module) {
        vd::set_ui_language(static_cast<std::uint32_t>(language));
        // Choosing a language forgets the module, so it is set afterwards.
        vd::language_state::instance().module = module;
    }
    ~ui_language_scope() {
        vd::set_ui_language(saved_language_);
        vd::language_state::instance().module = saved_module_;
    }
    ui_language_scope(const ui_language_scope&) = delete;
    ui_language_scope& operator=(const ui_language_scope&) = delete;

private:
    std::uint32_t saved_language_;
    HMODULE saved_module_;
};

} // namespace testing_support
