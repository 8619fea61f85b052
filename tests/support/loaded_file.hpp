// A file that another program has loaded, as a library, a database or a viewer has one: a view
// of it is mapped. Windows lets such a file be renamed but not deleted while the view stands, and
// so does Wine.
#pragma once

#include <filesystem>

#include <windows.h>

#include "foundation/system/unique_any.hpp"

namespace testing_support {

class loaded_file {
public:
    explicit loaded_file(const std::filesystem::path& file) {
        const vd::unique_file opened(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
        if (!opened)
            return;
        const vd::unique_handle mapping(::CreateFileMappingW(opened.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (mapping)
            view_ = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    }
    ~loaded_file() { release(); }
    loaded_file(const loaded_file&) = delete;
    loaded_file& operator=(const loaded_file&) = delete;

    explicit operator bool() const noexcept { return view_ != nullptr; }

    // The program lets go of it.
    void release() noexcept {
        if (view_)
            ::UnmapViewOfFile(view_);
        view_ = nullptr;
    }

private:
    void* view_ = nullptr;
};

} // namespace testing_support
