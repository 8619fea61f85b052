// Data the program carries as Windows resources, read where the loader mapped it: first in the
// UI language's resource module, then in the program's own module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include <windows.h>

#include "foundation/streams/memstream.hpp"

namespace vd {

// The bytes of a resource where the loader mapped them, valid while the module is loaded;
// empty when any step fails or the resource is empty. With a language, that language's
// resource exactly (FindResourceExW); without, the loader's choice (FindResourceW).
std::span<const std::byte> find_resource_bytes(HMODULE module, const wchar_t* name, const wchar_t* type);
std::span<const std::byte> find_resource_bytes(HMODULE module, const wchar_t* name, const wchar_t* type,
                                               LANGID language);

// A read-only stream over the resource's bytes, which stay valid while the module is loaded.
// A missing or empty resource gives an empty stream.
imemstream load_resource_stream(const wchar_t* type, const wchar_t* name);

// (first character, length in UTF-16 units) of a string-table entry, not NUL-terminated;
// (null, 0) when it cannot be found. A present but empty entry has a non-null pointer.
std::pair<const wchar_t*, std::uint32_t> find_resource_string(std::uint32_t id);

// Entry index (0 to 15) of one string-table block of size bytes. An entry that does not lie
// wholly inside the block counts as missing: (null, 0).
std::pair<const wchar_t*, std::uint32_t> find_block_string(const void* block, std::size_t size,
                                                           std::uint32_t index);

} // namespace vd
