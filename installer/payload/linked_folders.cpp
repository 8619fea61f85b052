#include "installer/payload/linked_folders.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/security.hpp"
#include "foundation/system/unique_any.hpp"

#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <windows.h>

namespace fs = std::filesystem;

namespace {

const std::error_code linked_error(reparse_point_encountered, std::system_category());

// The file that would have gone through the link comes first: the install page names it.
[[noreturn]] void throw_linked(const fs::path& file, const fs::path& link) {
    throw fs::filesystem_error("shared folder is a reparse point", file, link, linked_error);
}

[[noreturn]] void throw_linked(const fs::path& link) {
    throw fs::filesystem_error("shared folder is a reparse point", link, linked_error);
}

// The attributes of the folder itself: GetFileAttributesW does not follow a reparse point at
// the end of the path. Empty when the folder is not there.
std::optional<DWORD> own_attributes(const fs::path& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return attributes;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return std::nullopt;
    vd::throw_system_error(error);
}

} // namespace

void refuse_linked_folders(const fs::path& shared, const fs::path& folder, const fs::path& file) {
    // From the shared folder down to the file's, as far as they exist.
    std::vector<fs::path> chain{folder};
    while (chain.back().native().size() > shared.native().size() && chain.back().has_relative_path())
        chain.push_back(chain.back().parent_path());
    for (auto current = chain.rbegin(); current != chain.rend(); ++current) {
        const auto attributes = own_attributes(*current);
        if (!attributes)
            return;
        if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            throw_linked(file, *current);
    }
}

void grant_users_on_folder(const fs::path& folder, std::uint32_t mask, std::uint32_t inheritance) {
    // Wine opens what a link leads to even with FILE_FLAG_OPEN_REPARSE_POINT, and then the
    // handle cannot tell; the name can.
    if (const auto attributes = own_attributes(folder); attributes && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw_linked(folder);
    const vd::unique_file handle(::CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                               nullptr));
    if (!handle)
        return;
    // Asked of the handle that the grant goes through: a link swapped in after the name was
    // looked at is caught here.
    FILE_ATTRIBUTE_TAG_INFO held{};
    if (!::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &held, sizeof held))
        return;
    if (held.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw_linked(folder);
    vd::grant_users_access(handle.get(), mask, inheritance);
}
