// The installer's settings object as the start-up tests use it.
#pragma once

#include "foundation/app/identity.hpp"
#include "installer/startup/installer_settings.hpp"

namespace testing_support {

// The installer's kernel objects carry the application id, which the program's initialisation
// fixes; tests name theirs apart from a real installer's, and each test program apart from the
// others that run at the same time, before the settings make their mutex.
inline installer_settings& settings_with_test_id(const wchar_t* id) {
    if (vd::application_id().empty())
        vd::details::set_application_id(id);
    return installer_settings::instance();
}

} // namespace testing_support
