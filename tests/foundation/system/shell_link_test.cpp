#include "foundation/system/shell_link.hpp"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <thread>

#include <windows.h>
#include <comdef.h>
#include <shlobj.h>

#include "foundation/errors/error.hpp"
#include "foundation/errors/error_text.hpp"
#include "foundation/system/com.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"

_COM_SMARTPTR_TYPEDEF(IShellLinkW, __uuidof(IShellLinkW));
_COM_SMARTPTR_TYPEDEF(IPersistFile, __uuidof(IPersistFile));

namespace {

// The link's target, working folder, arguments and description, as the shell reads them.
std::wstring read_link(const std::filesystem::path& file) {
    const vd::com_scope com(COINIT_APARTMENTTHREADED);
    IShellLinkWPtr link;
    vd::throw_if_failed(link.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER));
    IPersistFilePtr persist;
    vd::throw_if_failed(link.QueryInterface(__uuidof(IPersistFile), &persist));
    vd::throw_if_failed(persist->Load(file.c_str(), STGM_READ));
    wchar_t path[MAX_PATH] = {}, folder[MAX_PATH] = {}, arguments[INFOTIPSIZE] = {}, description[INFOTIPSIZE] = {};
    vd::throw_if_failed(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH));
    vd::throw_if_failed(link->GetWorkingDirectory(folder, MAX_PATH));
    vd::throw_if_failed(link->GetArguments(arguments, INFOTIPSIZE));
    vd::throw_if_failed(link->GetDescription(description, INFOTIPSIZE));
    return std::wstring(path) + L"|" + folder + L"|" + arguments + L"|" + description;
}

// The calling thread's apartment; -1 while it does not use COM.
int apartment() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(::CoGetApartmentType(&type, &qualifier)) ? type : -1;
}

TEST(shell_link, links_start_their_program_in_its_folder_and_com_is_left_as_found) {
    const testing_support::test_folder folder;
    // A link records the times of the folders above its program, which other tests change in the
    // temporary folder: the program lies where nothing else changes.
    const testing_support::test_folder program_folder(L"C:\\");
    const std::filesystem::path program = program_folder / L"Stelvane 8" / L"bin" / L"tool.exe";
    testing_support::write_file(program, "MZ");
    const std::wstring expected = program.wstring() + L"|" + program.parent_path().wstring() + L"||";

    std::thread([&] {
        EXPECT_EQ(vd::create_shortcut(folder.path(), L"Stelvane 8.01", program), folder / L"Stelvane 8.01.lnk");
        EXPECT_EQ(vd::create_shortcut(folder.path(), L"", program), folder / L"tool.lnk");
        try {
            vd::create_shortcut(folder / L"missing", L"Tool", program);
            ADD_FAILURE() << "a link was written into a missing folder";
        } catch (const std::system_error& e) {
            // IPersistFile::Save's own HRESULT.
            EXPECT_EQ(e.code(), std::error_code(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), std::system_category()));
        }
        EXPECT_EQ(apartment(), -1) << "a call left COM initialised";
    }).join();
    EXPECT_EQ(read_link(folder / L"Stelvane 8.01.lnk"), expected);
    EXPECT_EQ(read_link(folder / L"tool.lnk"), expected);
    EXPECT_FALSE(std::filesystem::exists(folder / L"missing"));

    std::thread([&] {
        const vd::com_scope multithreaded(COINIT_MULTITHREADED);
        EXPECT_NO_THROW(vd::create_shortcut(folder.path(), L"From MTA", program));
        EXPECT_EQ(apartment(), APTTYPE_MTA);
    }).join();
    EXPECT_EQ(read_link(folder / L"From MTA.lnk"), expected);
}

TEST(shell_link, a_link_written_into_a_held_file_is_the_saved_link_and_nothing_more) {
    const testing_support::test_folder folder;
    // A link records the times of the folders above its program, which other tests change in the
    // temporary folder: the program lies where nothing else changes.
    const testing_support::test_folder program_folder(L"C:\\");
    const std::filesystem::path program = program_folder / L"Stelvane 8" / L"bin" / L"tool.exe";
    testing_support::write_file(program, "MZ");
    // The link also records those folders' access times, and Linux (mounted relatime) moves a
    // folder's access time at its first listing after a change, which the first link's parsing of
    // the path would be: both links would then record times that lie up to a moment apart, and
    // differ when a two-second step of the recorded times lies between. Listing each folder once
    // here gives both links the same times.
    for (std::filesystem::path above = program.parent_path(); above != program_folder.path().parent_path();
         above = above.parent_path()) {
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(above)) {
        }
    }
    const std::filesystem::path held = vd::shortcut_path(folder / L"held", L"Stelvane 8.01", program);
    testing_support::write_file(held, std::string(4096, 'x'));
    std::filesystem::create_directory(folder / L"saved");

    std::thread([&] {
        vd::unique_file file{::CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr)};
        ASSERT_TRUE(file) << vd::system_message_text(::GetLastError(), 0);
        // Where a caller that has read the file leaves it.
        ASSERT_TRUE(::SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END));
        EXPECT_NO_THROW(vd::write_shortcut(file.get(), program));
        EXPECT_EQ(apartment(), -1) << "write_shortcut left COM initialised";
        EXPECT_NO_THROW(vd::create_shortcut(folder / L"saved", L"Stelvane 8.01", program));
    }).join();
    EXPECT_EQ(testing_support::read_file(held), testing_support::read_file(folder / L"saved" / L"Stelvane 8.01.lnk"));
    EXPECT_EQ(read_link(held), program.wstring() + L"|" + program.parent_path().wstring() + L"||");

    const vd::unique_file read_only{::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    ASSERT_TRUE(read_only);
    try {
        vd::write_shortcut(read_only.get(), program);
        ADD_FAILURE() << "a link was written through a handle without write access";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    }
}

} // namespace
