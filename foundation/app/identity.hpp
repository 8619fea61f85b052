// Who this program is: the application id that prefixes the names of its kernel objects, and
// the product code from which product names, registry keys and folder names are formed.
#pragma once

#include <cstdint>
#include <string>

namespace vd {

// Empty until the application initialisation fixes it ("Stelvane8" in this program).
const std::wstring& application_id();

namespace details {
// Only the application initialisation calls this, once, before anything is named from the id.
void set_application_id(std::wstring id);
} // namespace details

// The product and its major version, high byte and low byte; 0 until the installer settings are
// built. Nothing may be named from it before.
inline std::uint32_t product_code = 0;

// The product's name with its major version (0x308: "Stelvane 8"). A code the maker never
// used, 0 among them, is an assertion failure.
std::wstring product_display_name(std::uint32_t code);

// The installed program's executable as the maker's programs record it under
// HKEY_LOCAL_MACHINE "Software\Vandrel"; empty when nothing is recorded, the path no longer
// exists, is no full path (drive or share and folder) or holds a NUL, or anything fails.
std::wstring installed_app_path(std::uint32_t code);

} // namespace vd
