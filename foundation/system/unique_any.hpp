// One move-only owner for every kind of handle that is closed by a single call: the traits
// name the handle type, its empty value and how it is closed.
#pragma once

#include <utility>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <oleauto.h>
#include <shtypes.h>

namespace vd {

template <class Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    pointer get() const noexcept { return value_; }

    // For functions that return a handle through an out parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept {
        if (value_ != Traits::invalid())
            Traits::close(value_);
        value_ = value;
    }

private:
    pointer value_ = Traits::invalid();
};

namespace details {

struct handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::CloseHandle(value); }
};

// CreateFileW and FindFirstFileW report failure as INVALID_HANDLE_VALUE, not null.
struct file_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { ::CloseHandle(value); }
};

// A search of FindFirstFileW is closed with FindClose, never CloseHandle.
struct find_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { ::FindClose(value); }
};

struct module_traits {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::FreeLibrary(value); }
};

struct local_memory_traits {
    using type = HLOCAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::LocalFree(value); }
};

// Predefined keys (HKEY_LOCAL_MACHINE and the like) are never held: only keys this process
// opened or created.
struct hkey_traits {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::RegCloseKey(value); }
};

// Texts that the shell hands over in COM task memory (SHGetKnownFolderPath).
struct cotaskmem_string_traits {
    using type = wchar_t*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::CoTaskMemFree(value); }
};

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::SysFreeString(value); }
};

// An update that is dropped unwritten; writing it is EndUpdateResourceW(release(), FALSE).
struct resource_update_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::EndUpdateResourceW(value, TRUE); }
};

// A VirtualAlloc reservation, released whole with whatever was committed in it.
struct virtual_memory_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::VirtualFree(value, 0, MEM_RELEASE); }
};

// Icons this process made its own (LoadImageW without LR_SHARED, CreateIconIndirect): a shared
// icon belongs to the system and is never destroyed.
struct icon_traits {
    using type = HICON;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DestroyIcon(value); }
};

// A control given an image list (CBEM_SETIMAGELIST and the like) only borrows it: the list must
// outlive the control.
struct image_list_traits {
    using type = HIMAGELIST;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::ImageList_Destroy(value); }
};

// Memory device contexts (CreateCompatibleDC); a window's DC is released, not deleted.
struct memory_dc_traits {
    using type = HDC;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DeleteDC(value); }
};

// Bitmaps, pens, brushes, fonts and regions; one must not be selected into a DC when released.
struct gdi_object_traits {
    using type = HGDIOBJ;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DeleteObject(value); }
};

// Item id lists the shell hands out in task memory (SHBrowseForFolderW, SHParseDisplayName).
struct cotaskmem_idlist_traits {
    using type = PIDLIST_ABSOLUTE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::CoTaskMemFree(value); }
};

} // namespace details

using unique_handle = unique_any<details::handle_traits>;
using unique_file = unique_any<details::file_handle_traits>;
using unique_find = unique_any<details::find_handle_traits>;
using unique_module = unique_any<details::module_traits>;
using unique_local = unique_any<details::local_memory_traits>;
using unique_hkey = unique_any<details::hkey_traits>;
using unique_cotaskmem_string = unique_any<details::cotaskmem_string_traits>;
using unique_bstr = unique_any<details::bstr_traits>;
using unique_resource_update = unique_any<details::resource_update_traits>;
using unique_virtual_memory = unique_any<details::virtual_memory_traits>;
using unique_hicon = unique_any<details::icon_traits>;
using unique_image_list = unique_any<details::image_list_traits>;
using unique_memory_dc = unique_any<details::memory_dc_traits>;
using unique_gdi_object = unique_any<details::gdi_object_traits>;
using unique_idlist = unique_any<details::cotaskmem_idlist_traits>;

} // namespace vd
