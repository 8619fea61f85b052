#include "foundation/streams/resource_file_stream.hpp"

#include "foundation/streams/resource_stream.hpp"
#include "foundation/system/known_folders.hpp"

namespace vd {

std::optional<file_range> program_resource_range(const wchar_t* name, const wchar_t* type) {
    const HMODULE program = ::GetModuleHandleW(nullptr);
    const auto bytes = find_resource_bytes(program, name, type);
    if (bytes.empty())
        return std::nullopt;
    // The loader mapped the program section by section: the resource's distance from the image
    // base is its relative address, which the section table turns into a place in the file.
    const auto* image = reinterpret_cast<const std::byte*>(program);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const auto address = static_cast<std::uint64_t>(bytes.data() - image);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        const std::uint64_t start = section->VirtualAddress;
        if (address >= start && address + bytes.size() <= start + section->SizeOfRawData)
            return file_range{section->PointerToRawData + (address - start), bytes.size()};
    }
    return std::nullopt;
}

file_range_stream::file_range_stream(const std::filesystem::path& file, file_range range)
    : std::istream(nullptr), file_(file, std::ios::binary) {
    if (!file_) {
        setstate(std::ios::failbit);
        return;
    }
    buffer_.open(boost::iostreams::restrict(static_cast<std::istream&>(file_), static_cast<std::streamoff>(range.offset),
                                            static_cast<std::streamoff>(range.size)),
                 buffer_size);
    rdbuf(&buffer_);
}

std::unique_ptr<std::istream> open_program_resource(const wchar_t* type, const wchar_t* name) {
    const auto range = program_resource_range(name, type);
    if (!range)
        return nullptr;
    auto stream = std::make_unique<file_range_stream>(module_path(), *range);
    if (!*stream)
        return nullptr;
    return stream;
}

} // namespace vd
