// payload_check behaves as the installer does: a payload that fails leaves the install folder
// exactly as it found it, and the error line names the code as the installer shows it.
#include "installer/payload/folder_templates.hpp"
#include "installer/payload/payload_writer.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include <windows.h>
#include <shlobj.h>

using testing_support::read_file;
using testing_support::test_folder;
using testing_support::write_file;

namespace fs = std::filesystem;

namespace {

struct run_result {
    DWORD exit_code = 0;
    std::string output;
};

run_result run_payload_check(const fs::path& payload, const fs::path& install_folder, const fs::path& output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // Wine's console host may hold the inherited handle a moment after the tool has ended:
    // every run writes a file of its own.
    vd::unique_file out{::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      CREATE_NEW, 0, nullptr)};
    if (!out) {
        ADD_FAILURE() << "cannot create " << output << ": " << ::GetLastError();
        return {};
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::wstring command = L"\"" L"" PAYLOAD_CHECK_EXE L"\" --quiet \"" + payload.wstring() + L"\" \"" + install_folder.wstring() + L"\"";
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return {};
    }
    vd::unique_handle process_handle{process.hProcess};
    vd::unique_handle thread_handle{process.hThread};
    ::WaitForSingleObject(process.hProcess, 120000);
    run_result result;
    ::GetExitCodeProcess(process.hProcess, &result.exit_code);
    out.reset();
    result.output = read_file(output);
    return result;
}

// Every file and folder below root with its bytes and attributes.
std::map<fs::path, std::string> snapshot(const fs::path& root) {
    std::map<fs::path, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const auto attributes = ::GetFileAttributesW(item.path().c_str()) & ~FILE_ATTRIBUTE_ARCHIVE;
        tree[fs::relative(item.path(), root)] = std::to_string(attributes) + ":" +
                                                (item.is_directory() ? std::string("<folder>") : read_file(item.path()));
    }
    return tree;
}

std::string stored(const std::vector<payload_file>& records, const std::vector<std::string>& contents) {
    std::ostringstream inflated;
    write_payload_header(inflated, records);
    for (const auto& content : contents)
        inflated << content;
    return compress_payload(inflated.str());
}

} // namespace

TEST(payload_check, a_failed_payload_leaves_the_folder_as_it_was) {
    test_folder folder;
    const auto install = folder / "install";
    write_file(install / "a.txt", "old a");
    write_file(install / "sub" / "b.bin", std::string(5000, 'b'));
    write_file(install / "keep.txt", "not in the payload");
    ::SetFileAttributesW((install / "a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const auto before = snapshot(install);

    const std::vector<payload_item> items{
        {L"C:\\build\\a.txt", L"<InstallPath>", payload_kind::main_program, std::string("new a")},
        {L"C:\\build\\b.bin", L"<InstallPath>\\sub", payload_kind::ordinary, std::string(9000, 'B')},
        {L"C:\\build\\c.txt", L"<InstallPath>\\new\\deeper", payload_kind::ordinary, std::string("new c")},
        {L"C:\\build\\d.txt", L"<Temporary>", payload_kind::setup_only, std::string("last")},
    };
    const std::vector<std::string> contents{"new a", std::string(9000, 'B'), "new c", "last"};
    auto records = payload_records(items, payload_checks::enforce);
    const std::string good = stored(records, contents);

    auto last_crc_wrong = records;
    last_crc_wrong.back().crc ^= 1;
    auto flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    auto device = records;
    device[2].source_path = L"C:\\build\\AUX.txt";
    // A name longer than any file system keeps, and a file where a folder of a record's path must
    // be made below the shared data folder: each failure names its file and its own code.
    auto long_name = records;
    long_name[2].source_path = L"C:\\build\\" + std::wstring(256, L'n');
    const test_folder shared(shell_folder_path(CSIDL_COMMON_APPDATA));
    write_file(shared / "blocked", "a file, not a folder");
    auto blocked = records;
    blocked[1].target = L"<CommonData>\\" + shared.path().filename().wstring() + L"\\blocked\\sub";
    auto blocked_in_install = records;
    blocked_in_install[1].target = L"<InstallPath>\\keep.txt";

    const struct {
        const char* what;
        std::string payload;
        const char* error_line;
        fs::path named = {};  // the file the error line ends with
    } cases[] = {
        {"the last file fails its CRC after three were written", stored(last_crc_wrong, contents), "error 3: invalid checksum -- "},
        {"a bit flip in the stored stream", flipped, "error 4: unknown error"},
        {"the stored stream cut short", good.substr(0, good.size() - 7), "error 4: unknown error"},
        {"a record names a device", stored(device, contents), "error 7: unexpected error"},
        {"a name of 256 characters", stored(long_name, contents), "error 1:000000CE: ", install / "new" / "deeper" / std::wstring(256, L'n')},
        {"a file where a folder must be made", stored(blocked, contents), "error 1:000000B7: ", shared / "blocked" / "sub" / "b.bin"},
        {"the same in the installation folder", stored(blocked_in_install, contents), "error 1:000000B7: ", install / "keep.txt" / "b.bin"},
    };
    int run = 0;
    for (const auto& c : cases) {
        write_file(folder / "payload.bz2", c.payload);
        const auto result = run_payload_check(folder / "payload.bz2", install, folder / ("output" + std::to_string(++run)));
        EXPECT_EQ(result.exit_code, 1u) << c.what << "\n" << result.output;
        EXPECT_NE(result.output.find(c.error_line), std::string::npos) << c.what << "\n" << result.output;
        if (!c.named.empty()) {
            EXPECT_NE(result.output.find(" -- " + c.named.string() + "\r\n"), std::string::npos) << c.what << "\n" << result.output;
        }
        EXPECT_EQ(result.output.find("not undone"), std::string::npos) << c.what << "\n" << result.output;
        EXPECT_EQ(snapshot(install), before) << c.what;
    }

    // The same payload, sound, replaces and adds its files and leaves the others.
    write_file(folder / "payload.bz2", good);
    const auto result = run_payload_check(folder / "payload.bz2", install, folder / "output");
    ASSERT_EQ(result.exit_code, 0u) << result.output;
    EXPECT_EQ(read_file(install / "a.txt"), "new a");
    EXPECT_EQ(read_file(install / "new" / "deeper" / "c.txt"), "new c");
    EXPECT_EQ(read_file(install / "keep.txt"), "not in the payload");
}
