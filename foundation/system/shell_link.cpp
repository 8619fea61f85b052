#include "foundation/system/shell_link.hpp"

#include <string>

#include <windows.h>
#include <comdef.h>
#include <shlobj.h>

#include "foundation/errors/error.hpp"
#include "foundation/system/com.hpp"

_COM_SMARTPTR_TYPEDEF(IShellLinkW, __uuidof(IShellLinkW));
_COM_SMARTPTR_TYPEDEF(IPersistFile, __uuidof(IPersistFile));

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

} // namespace

std::filesystem::path create_shortcut(const std::filesystem::path& folder, std::wstring_view name,
                                      const std::filesystem::path& target) {
    // Declared first, so that both interfaces are released before COM is uninitialised.
    const com_scope com(COINIT_APARTMENTTHREADED);

    IShellLinkWPtr link;
    throw_if_failed(link.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER));
    const std::wstring target_text = target.wstring();
    // The shell may not find a target that is written after its link; the link is saved all
    // the same.
    static_cast<void>(link->SetPath(target_text.c_str()));
    static_cast<void>(link->SetWorkingDirectory(parent_text(target_text).c_str()));

    IPersistFilePtr file;
    throw_if_failed(link.QueryInterface(__uuidof(IPersistFile), &file));

    std::filesystem::path link_path = folder;
    link_path /= name.empty() ? target.stem() : std::filesystem::path(name);
    link_path += L".lnk";
    throw_if_failed(file->Save(link_path.c_str(), TRUE));
    return link_path;
}

} // namespace vd
