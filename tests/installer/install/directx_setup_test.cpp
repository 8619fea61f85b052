// The DirectX step over work folders holding each stand-in of the set-up library, and the
// clean-up of a 64-bit D3DX9_43.dll over crafted files: only a well-formed 64-bit image goes.
#include "installer/install/directx_setup.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>
#include <knownfolders.h>

#include "foundation/system/known_folders.hpp"
#include "support/test_folder.hpp"
#include "support/test_windows.hpp"

namespace fs = std::filesystem;

namespace {

bool pumped = false; // the owner's posted WM_APP arrives only when the callback pumps

INT_PTR CALLBACK owner_proc(HWND, UINT message, WPARAM, LPARAM) {
    pumped |= message == WM_APP;
    return message == WM_INITDIALOG;
}

// A PE image whose headers end at the end of the file, with the header offset `nt` claims.
std::string pe_image(std::uint16_t magic, std::uint32_t claimed_nt = 0x80, std::uint32_t nt = 0x80) {
    std::string bytes(nt + 248, '\0');
    const auto put = [&](std::size_t offset, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[offset + i] = static_cast<char>(value >> (8 * i));
    };
    put(0, 0x5A4D, 2);
    put(0x3C, claimed_nt, 4);
    put(nt, 0x4550, 4);
    put(nt + 0x18, magic, 2);
    return bytes;
}

} // namespace

TEST(directx_setup, runs_only_a_recent_library_with_every_entry_point) {
    const testing_support::unique_window owner{::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                                                    MAKEINTRESOURCEW(300), nullptr, owner_proc, 0)};
    ASSERT_TRUE(owner) << "error " << ::GetLastError();
    const struct {
        std::wstring variant; // empty: the folder holds no library
        bool kept, succeeds, pumps;
    } cases[] = {
        {L"current", true, true, true},          {L"result_1", true, true, true},
        {L"failing", true, false, true},         {L"without_callback", true, false, false},
        {L"old_version", false, false, false},   {L"old_revision", false, false, false},
        {L"with_companion", true, true, true},   {L"", false, false, false},
    };
    for (const auto& c : cases) {
        testing_support::test_folder work;
        if (!c.variant.empty())
            fs::copy_file(fs::path(DSETUP_STANDIN_FOLDER) / (L"dsetup-" + c.variant + L".dll"), work / L"DSetup.dll");
        // Found in the library's own folder only, the folder of this program being another.
        if (c.variant == L"with_companion")
            fs::copy_file(LIBRARY_MARKER_DLL, work / L"library_marker.dll");
        {
            directx_setup setup(work.path().wstring());
            ASSERT_EQ(setup.module() != nullptr, c.kept) << c.variant;
            pumped = false;
            ::PostMessageW(owner.get(), WM_APP, 0, 0);
            EXPECT_EQ(setup.run(owner.get()), c.succeeds) << c.variant;
            EXPECT_EQ(pumped, c.pumps) << c.variant;
            MSG left{};
            while (::PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
            }
        }
        // The library went with its holder, so its file can go.
        EXPECT_EQ(fs::remove(work / L"DSetup.dll"), !c.variant.empty()) << c.variant;
    }
}

TEST(directx_setup, only_a_well_formed_64_bit_d3dx9_is_removed) {
    const std::string x64 = pe_image(0x20B);
    const struct {
        const char* name;
        std::string bytes;
        int error; // 11: too short for its headers; -1: cannot be read
        bool removed;
    } cases[] = {
        {"64-bit", x64, 0, true},
        {"32-bit", pe_image(0x10B), 0, false},
        {"empty", "", 11, false},
        {"truncated DOS header", x64.substr(0, 63), 11, false},
        {"no DOS signature", "ZM" + x64.substr(2), 0, false},
        {"no PE signature", pe_image(0x20B, 0x80, 0x90), 0, false},
        {"headers one byte short", x64.substr(0, x64.size() - 1), 11, false},
        {"header offset 0xFFFFFFF0", pe_image(0x20B, 0xFFFFFFF0), 11, false},
        {"header offset 0xFFFFFFFF", pe_image(0x20B, 0xFFFFFFFF), 11, false},
        {"header offset past the end", pe_image(0x20B, 0x80 + 248 + 16), 11, false},
        {"locked by another program", x64, -1, false},
    };
    for (const auto& c : cases) {
        testing_support::test_folder system;
        const fs::path dll = system / L"D3DX9_43.dll";
        testing_support::write_file(dll, c.bytes);
        vd::unique_file lock;
        if (c.error == -1)
            lock.reset(::CreateFileW(dll.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        int error = 0;
        try {
            remove_x64_image(dll);
        } catch (const std::exception& e) {
            const auto* code = dynamic_cast<const std::system_error*>(&e);
            error = code && code->code() == std::error_code(ERROR_BAD_FORMAT, std::system_category()) ? 11 : -1;
        }
        EXPECT_EQ(error, c.error) << c.name;
        lock.reset();
        EXPECT_EQ(!fs::exists(dll), c.removed) << c.name;
    }

    // Wine's own 32-bit library in the system folder is read whole and stays.
    const fs::path system_dll = vd::known_folder_path(FOLDERID_SystemX86) / L"D3DX9_43.dll";
    const bool present = fs::exists(system_dll);
    remove_x64_d3dx9();
    EXPECT_EQ(fs::exists(system_dll), present);
}
