#include "foundation/streams/resource_stream.hpp"

#include "foundation/language/language_state.hpp"

namespace vd {
namespace {

std::span<const std::byte> bytes_of(HMODULE module, HRSRC info) {
    if (!info)
        return {};
    const HGLOBAL loaded = ::LoadResource(module, info);
    if (!loaded)
        return {};
    const DWORD size = ::SizeofResource(module, info);
    const void* data = ::LockResource(loaded);
    if (!data || size == 0)
        return {};
    return {static_cast<const std::byte*>(data), size};
}

std::pair<const wchar_t*, std::uint32_t> find_module_string(HMODULE module, std::uint32_t block, std::uint32_t index) {
    const auto bytes = find_resource_bytes(module, MAKEINTRESOURCEW(block), RT_STRING);
    if (bytes.empty())
        return {nullptr, 0};
    return find_block_string(bytes.data(), bytes.size(), index);
}

} // namespace

std::span<const std::byte> find_resource_bytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
    return bytes_of(module, ::FindResourceW(module, name, type));
}

std::span<const std::byte> find_resource_bytes(HMODULE module, const wchar_t* name, const wchar_t* type,
                                               LANGID language) {
    return bytes_of(module, ::FindResourceExW(module, type, name, language));
}

imemstream load_resource_stream(const wchar_t* type, const wchar_t* name) {
    const HMODULE program = ::GetModuleHandleW(nullptr);
    const HMODULE module = resource_module();
    auto bytes = find_resource_bytes(module, name, type);
    if (bytes.empty() && module != program)
        bytes = find_resource_bytes(program, name, type);
    if (bytes.empty())
        return imemstream();
    return imemstream(reinterpret_cast<const char*>(bytes.data()), bytes.size(), std::ios_base::in);
}

std::pair<const wchar_t*, std::uint32_t> find_block_string(const void* block, std::size_t size, std::uint32_t index) {
    // Each entry is its length in UTF-16 units followed by that many units, no terminator.
    const auto* units = static_cast<const wchar_t*>(block);
    const std::size_t end = size / sizeof(wchar_t);
    std::size_t entry = 0;
    for (std::uint32_t skipped = 0; skipped < index; ++skipped) {
        if (entry >= end)
            return {nullptr, 0};
        entry += 1 + static_cast<std::uint16_t>(units[entry]);
    }
    if (entry >= end)
        return {nullptr, 0};
    const std::uint16_t length = static_cast<std::uint16_t>(units[entry]);
    // A truncated block must not hand out characters beyond its end.
    if (end - entry - 1 < length)
        return {nullptr, 0};
    return {units + entry + 1, length};
}

std::pair<const wchar_t*, std::uint32_t> find_resource_string(std::uint32_t id) {
    // String ids are 16 bits wide; a larger one would name another block once truncated.
    if (id > 0xFFFF)
        return {nullptr, 0};
    const std::uint32_t block = (id >> 4) + 1;
    const std::uint32_t index = id & 15;

    const HMODULE program = ::GetModuleHandleW(nullptr);
    const HMODULE module = resource_module();
    auto found = find_module_string(module, block, index);
    if (!found.first && module != program)
        found = find_module_string(program, block, index);
    return found;
}

} // namespace vd
