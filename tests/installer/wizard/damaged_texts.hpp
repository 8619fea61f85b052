// The built installer with one English text replaced by one that cannot be formatted, made the
// UI resource module in English: a copy of the program in a folder of the test's own, whose
// string block keeps the other fifteen texts as they were.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/streams/resource_stream.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"
#include "support/ui_language_scope.hpp"

namespace testing_support {

class damaged_texts {
public:
    damaged_texts(unsigned id, const std::wstring& text) {
        const auto copy = folder_ / L"setup.exe";
        if (!::CopyFileW(L"" STELVANE_SETUP_EXE, copy.c_str(), FALSE))
            return;
        const unsigned block_id = id / 16 + 1;
        const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
        std::vector<wchar_t> block;
        {
            const vd::unique_module original{::LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
            const auto bytes = vd::find_resource_bytes(original.get(), MAKEINTRESOURCEW(block_id), RT_STRING, english);
            const auto* units = reinterpret_cast<const wchar_t*>(bytes.data());
            const std::size_t end = bytes.size() / sizeof(wchar_t);
            // Each entry is its length followed by that many units.
            for (std::size_t at = 0, entry = 0; entry < 16 && at < end; ++entry) {
                const std::size_t length = units[at];
                const std::wstring kept(units + at + 1, units + std::min(end, at + 1 + length));
                const std::wstring& written = entry == id % 16 ? text : kept;
                block.push_back(static_cast<wchar_t>(written.size()));
                block.insert(block.end(), written.begin(), written.end());
                at += 1 + length;
            }
        }
        vd::unique_resource_update update{::BeginUpdateResourceW(copy.c_str(), FALSE)};
        if (block.empty() || !update ||
            !::UpdateResourceW(update.get(), RT_STRING, MAKEINTRESOURCEW(block_id), english, block.data(),
                               static_cast<DWORD>(block.size() * sizeof(wchar_t))) ||
            !::EndUpdateResourceW(update.release(), FALSE))
            return;
        module_.reset(::LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        if (module_)
            language_.emplace(1, module_.get());
    }

    // The copy, null when it could not be made.
    HMODULE module() const noexcept { return module_.get(); }

private:
    test_folder folder_;
    vd::unique_module module_;
    std::optional<ui_language_scope> language_;
};

} // namespace testing_support
