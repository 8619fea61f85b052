#include "foundation/system/shell_link.hpp"

#include <string>
#include <vector>

#include <windows.h>
#include <comdef.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "foundation/errors/error.hpp"
#include "foundation/system/com.hpp"

_COM_SMARTPTR_TYPEDEF(IShellLinkW, __uuidof(IShellLinkW));
_COM_SMARTPTR_TYPEDEF(IPersistFile, __uuidof(IPersistFile));
_COM_SMARTPTR_TYPEDEF(IPersistStream, __uuidof(IPersistStream));
_COM_SMARTPTR_TYPEDEF(IStream, __uuidof(IStream));

namespace vd {

namespace {

// The target's text without its last element and the separators before it; empty when the
// target has no separator.
std::wstring parent_text(const std::wstring& target) {
    const std::size_t last = target.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return {};
    const std::size_t kept = target.find_last_not_of(L"\\/", last);
    return kept == std::wstring::npos ? std::wstring() : target.substr(0, kept + 1);
}

// The unsaved link to target; the caller holds COM for as long as it holds the link.
IShellLinkWPtr make_link(const std::filesystem::path& target) {
    IShellLinkWPtr link;
    throw_if_failed(link.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER));
    const std::wstring target_text = target.wstring();
    // The shell may not find a target that is written after its link; the link is saved all
    // the same.
    static_cast<void>(link->SetPath(target_text.c_str()));
    static_cast<void>(link->SetWorkingDirectory(parent_text(target_text).c_str()));
    return link;
}

// The bytes of the link to target as IPersistFile::Save would write them: that Save is this
// stream save into the named file. The caller holds COM.
std::vector<char> link_bytes(const std::filesystem::path& target) {
    IShellLinkWPtr link = make_link(target);
    IPersistStreamPtr persist;
    throw_if_failed(link.QueryInterface(__uuidof(IPersistStream), &persist));
    IStreamPtr stream(::SHCreateMemStream(nullptr, 0), false);
    if (!stream)
        throw_system_error(static_cast<DWORD>(E_OUTOFMEMORY));
    throw_if_failed(persist->Save(stream, TRUE));

    ULARGE_INTEGER size{};
    throw_if_failed(::IStream_Size(stream, &size));
    std::vector<char> bytes(static_cast<std::size_t>(size.QuadPart));
    throw_if_failed(::IStream_Reset(stream));
    throw_if_failed(::IStream_Read(stream, bytes.data(), static_cast<ULONG>(bytes.size())));
    return bytes;
}

} // namespace

std::filesystem::path shortcut_path(const std::filesystem::path& folder, std::wstring_view name,
                                    const std::filesystem::path& target) {
    std::filesystem::path link_path = folder;
    link_path /= name.empty() ? target.stem() : std::filesystem::path(name);
    link_path += L".lnk";
    return link_path;
}

std::filesystem::path create_shortcut(const std::filesystem::path& folder, std::wstring_view name,
                                      const std::filesystem::path& target) {
    // Declared first, so that both interfaces are released before COM is uninitialised.
    const com_scope com(COINIT_APARTMENTTHREADED);

    IShellLinkWPtr link = make_link(target);
    IPersistFilePtr file;
    throw_if_failed(link.QueryInterface(__uuidof(IPersistFile), &file));

    std::filesystem::path link_path = shortcut_path(folder, name, target);
    throw_if_failed(file->Save(link_path.c_str(), TRUE));
    return link_path;
}

void write_shortcut(HANDLE file, const std::filesystem::path& target) {
    const com_scope com(COINIT_APARTMENTTHREADED);
    const std::vector<char> bytes = link_bytes(target);

    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN))
        throw_system_error();
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        throw_system_error();
    if (!::SetEndOfFile(file))
        throw_system_error();
}

} // namespace vd
