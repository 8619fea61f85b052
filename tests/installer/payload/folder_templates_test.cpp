#include "installer/payload/folder_templates.hpp"

#include "installer/payload/compress_error.hpp"
#include "installer/payload/linked_folders.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "foundation/streams/memstream.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/security.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/extraction_recorder.hpp"
#include "support/folder_link.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"
#include "support/watchdog.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// The expectation comes from the known-folder API, not from the CSIDL call under test.
fs::path known_folder(REFKNOWNFOLDERID id) {
    vd::unique_cotaskmem_string path;
    if (FAILED(::SHGetKnownFolderPath(id, 0, nullptr, path.put())))
        return {};
    return path.get();
}

void expect_unexpected_error(payload_extractor& extractor, const std::wstring& folder_template) {
    try {
        extractor.expand_folder_template(folder_template);
        ADD_FAILURE() << "accepted " << fs::path(folder_template).string();
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), make_error_code(compress_error::unexpected)) << fs::path(folder_template).string();
    }
}

// Everything below a folder, as a person listing it would see it.
std::vector<fs::path> listing(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        found.push_back(entry.path());
    return found;
}

// Where a folder really is, by the system's own account.
fs::path final_path_of(const fs::path& folder) {
    const vd::unique_file held(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return vd::final_path(held.get());
}

// Wine keeps no DACL written to a file, to be read back: each grant is seen at the call instead,
// by the final path of the handle it goes through and what the system's own call made of it.
// While it lives, advapi32's SetSecurityInfo is this recording one; then the system's again.
class recorded_grants {
public:
    struct grant {
        fs::path folder;
        DWORD status;
    };

    // after_grant hears how many grants there have been, after each.
    explicit recorded_grants(std::function<void(std::size_t)> after_grant = {}) {
        seen_.clear();
        after_grant_ = std::move(after_grant);
        vd::advapi32::rebind({nullptr, lookup});
    }
    ~recorded_grants() { vd::advapi32::rebind({}); }
    recorded_grants(const recorded_grants&) = delete;
    recorded_grants& operator=(const recorded_grants&) = delete;

    const std::vector<grant>& seen() const noexcept { return seen_; }

private:
    using set_security_info = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);

    static DWORD WINAPI recording(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner, PSID group,
                                  PACL dacl, PACL sacl) {
        // Asked first: a handle that has no final path is granted nothing.
        seen_.push_back({vd::final_path(object), ERROR_SUCCESS});
        seen_.back().status = system_call_(object, type, information, owner, group, dacl, sacl);
        if (after_grant_)
            after_grant_(seen_.size());
        return seen_.back().status;
    }

    static FARPROC lookup(HMODULE module, const char* name) {
        const FARPROC found = ::GetProcAddress(module, name);
        if (std::strcmp(name, "SetSecurityInfo") != 0)
            return found;
        system_call_ = reinterpret_cast<set_security_info>(reinterpret_cast<void*>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&recording));
    }

    static inline std::vector<grant> seen_;
    static inline std::function<void(std::size_t)> after_grant_;
    static inline set_security_info system_call_ = nullptr;
};

} // namespace

TEST(folder_templates, every_template_names_its_folder) {
    const fs::path install = L"C:\\Program Files\\Vandrel\\Stelvane 8";
    const fs::path work = L"C:\\windows\\temp\\vandrel_{x}";
    payload_extractor extractor(install.wstring(), L"", work.wstring());

    const std::pair<std::wstring, fs::path> expected[] = {
        {L"<InstallPath>", install},
        {L"<SamplePath>", known_folder(FOLDERID_PublicDesktop)},
        {L"<ProgramFiles>", known_folder(FOLDERID_ProgramFilesX86)},
        {L"<ProgramCommon>", known_folder(FOLDERID_ProgramFilesCommonX86)},
        {L"<CommonData>", known_folder(FOLDERID_ProgramData)},
        {L"<UserData>", known_folder(FOLDERID_RoamingAppData)},
        {L"<CommonDocuments>", known_folder(FOLDERID_PublicDocuments)},
        {L"<Documents>", known_folder(FOLDERID_Documents)},
        {L"<CommonDesktop>", known_folder(FOLDERID_PublicDesktop)},
        {L"<Desktop>", known_folder(FOLDERID_Desktop)},
        {L"<WinDir>", known_folder(FOLDERID_Windows)},
        {L"<System>", known_folder(FOLDERID_SystemX86)},
        {L"<Temporary>", work},
    };
    for (const auto& [name, folder] : expected) {
        ASSERT_FALSE(folder.empty()) << fs::path(name).string();
        EXPECT_TRUE(vd::same_path(extractor.expand_folder_template(name), folder))
            << fs::path(name).string() << ": " << extractor.expand_folder_template(name).string();
        EXPECT_EQ(extractor.expand_folder_template(name + L"\\A\\B"), extractor.expand_folder_template(name) / L"A" / L"B");
    }
    EXPECT_TRUE(extractor.shared_folders().size() == 6u) << "A and A\\B below each of the three common folders";
}

TEST(folder_templates, shell_folders_fall_back_and_fail_with_unexpected_error) {
    constexpr int no_such_folder = 0x7F;
    EXPECT_EQ(shell_folder_path(no_such_folder, CSIDL_APPDATA), shell_folder_path(CSIDL_APPDATA));
    EXPECT_THROW(shell_folder_path(no_such_folder), std::system_error);
    try {
        shell_folder_path(no_such_folder, no_such_folder);
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), make_error_code(compress_error::unexpected));
    }
}

TEST(folder_templates, special_cases) {
    const fs::path install = L"C:\\Install";
    {
        payload_extractor extractor(install.wstring(), L"", L"");
        EXPECT_EQ(extractor.expand_folder_template(L"<Temporary>\\Sub"), install / L"Sub") << "no work folder";
        EXPECT_EQ(extractor.expand_folder_template(L"D:\\Plain\\Folder"), fs::path(L"D:\\Plain\\Folder"));
        expect_unexpected_error(extractor, L"<commondata>");
        expect_unexpected_error(extractor, L"<Unknown>\\A");
        expect_unexpected_error(extractor, L"relative\\folder");
        expect_unexpected_error(extractor, L"\\rooted\\without\\drive");
        expect_unexpected_error(extractor, L"C:");
        expect_unexpected_error(extractor, L"");
        expect_unexpected_error(extractor, L"<InstallPath>\\..\\Windows");
        EXPECT_TRUE(extractor.shared_folders().empty());
    }
    {
        payload_extractor no_install(L"", L"", L"");
        expect_unexpected_error(no_install, L"<InstallPath>");
        expect_unexpected_error(no_install, L"<Temporary>");
    }
    {
        payload_extractor absolute(install.wstring(), L"D:\\My Samples", L"");
        EXPECT_EQ(absolute.expand_folder_template(L"<SamplePath>\\x"), fs::path(L"D:\\My Samples\\x"));
        EXPECT_TRUE(absolute.shared_folders().empty());
    }
    {
        payload_extractor relative(install.wstring(), L"Stelvane Examples", L"");
        const auto desktop = shell_folder_path(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY);
        EXPECT_EQ(relative.expand_folder_template(L"<SamplePath>\\x"), desktop / L"Stelvane Examples" / L"x");
        ASSERT_EQ(relative.shared_folders().size(), 1u);
        EXPECT_EQ(fs::path(relative.shared_folders()[0].folder), desktop / L"Stelvane Examples");
        payload_extractor escaping(install.wstring(), L"..\\..\\Windows", L"");
        expect_unexpected_error(escaping, L"<SamplePath>");
    }
}

TEST(folder_templates, shared_folders_are_granted_once_before_their_first_file) {
    test_folder scratch;
    const std::wstring top = scratch.path().filename().wstring();  // unique below the common data folder
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    struct cleanup {
        fs::path folder;
        ~cleanup() { std::error_code ignored; fs::remove_all(folder, ignored); }
    } remove_later{common / top};

    const auto inflated = inflated_payload({
        {L"C:\\one.dat", L"<CommonData>\\" + top + L"\\B\\D", payload_kind::shared, std::string("1")},
        {L"C:\\two.dat", L"<CommonData>\\" + top + L"\\B\\D", payload_kind::shared, std::string("2")},
        {L"C:\\three.dat", L"<CommonData>\\" + top + L"\\B\\D", payload_kind::shared, std::string("3")},
        {L"C:\\other.dat", L"<CommonData>\\" + top + L"\\C", payload_kind::shared, std::string("4")},
    });
    payload_extractor extractor(scratch.path().wstring(), L"", L"");
    const recorded_grants grants;
    std::vector<std::vector<bool>> granted_at_done;
    extractor.set_callback([&](notification n) {
        if (n.index() == file_done_event) {
            granted_at_done.emplace_back();
            for (const auto& shared : extractor.shared_folders())
                granted_at_done.back().push_back(shared.granted);
        }
        return notification::result::proceed;
    });
    extractor.write(inflated.data(), static_cast<std::streamsize>(inflated.size()));
    ASSERT_TRUE(extractor.complete());

    const auto& shared = extractor.shared_folders();
    ASSERT_EQ(shared.size(), 4u);
    EXPECT_EQ(fs::path(shared[0].folder), common / top);
    EXPECT_EQ(fs::path(shared[1].folder), common / top / L"B");
    EXPECT_EQ(fs::path(shared[2].folder), common / top / L"B" / L"D");
    EXPECT_EQ(fs::path(shared[3].folder), common / top / L"C");
    ASSERT_EQ(granted_at_done.size(), 4u);
    EXPECT_EQ(granted_at_done[0], (std::vector<bool>{true, true, true, false}))
        << "the folders above the first file are granted with it; C waits for a file of its own";
    EXPECT_EQ(granted_at_done[3], (std::vector<bool>{true, true, true, true}));
    std::vector<fs::path> granted;
    for (const auto& grant : grants.seen()) {
        granted.push_back(grant.folder);
        EXPECT_EQ(grant.status, DWORD{ERROR_SUCCESS}) << grant.folder.string();
    }
    EXPECT_EQ(granted, (std::vector<fs::path>{shared[0].folder, shared[1].folder, shared[2].folder, shared[3].folder}))
        << "each through a handle of the folder itself";
}

// The walk that grants the shared folders opens each again by its name from the held folder
// above it. A folder exchanged for a link to another folder, before the walk or while it is held
// and granted, is refused or granted where it was held: nothing in the other folder is granted.
TEST(folder_templates, a_shared_folder_exchanged_for_a_link_grants_nothing_through_it) {
    test_folder scratch;
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const test_folder shared(common);
    const auto elsewhere = scratch / L"elsewhere";
    fs::create_directories(elsewhere / L"D");
    const auto other = final_path_of(elsewhere).native();
    const auto folder = shared / L"B";
    const fs::path moved = folder.native() + L".moved";
    const std::vector<fs::path> folders{shared.path(), folder, folder / L"D"};
    for (const std::size_t exchanged_after : {0u, 2u}) {
        SCOPED_TRACE(exchanged_after ? "exchanged once granted" : "exchanged before the walk");
        fs::remove_all(moved);
        fs::create_directories(folders.back());
        std::optional<folder_link> link;
        // Windows refuses to move the held folder: then there is nothing to exchange.
        const auto exchange = [&] {
            if (move_folder_as_user(folder, moved))
                link.emplace(folder, elsewhere);
        };
        if (exchanged_after == 0)
            exchange();
        const recorded_grants grants([&](std::size_t granted) {
            if (granted == exchanged_after)
                exchange();
        });
        try {
            grant_users_on_folders(common, folders, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
            EXPECT_NE(exchanged_after, 0u) << "a link there before the walk is refused";
        } catch (const std::system_error& e) {
            EXPECT_TRUE(is_refusal(e)) << e.what();
        }
        ASSERT_FALSE(grants.seen().empty());
        for (const auto& grant : grants.seen()) {
            EXPECT_FALSE(grant.folder.native().starts_with(other)) << grant.folder.string();
            EXPECT_EQ(grant.status, DWORD{ERROR_SUCCESS}) << grant.folder.string();
        }
    }
}

TEST(folder_templates, nothing_goes_through_a_link_below_a_folder_users_can_change) {
    test_folder scratch;
    const std::wstring top = scratch.path().filename().wstring();
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const auto user_data = shell_folder_path(CSIDL_APPDATA);
    // Stands for a folder that users may not change, the system folder for one.
    const auto elsewhere = scratch / L"elsewhere";
    write_file(elsewhere / L"kept.dll", "kept");
    const auto kept = listing(elsewhere);

    enum class made_as { folder_link, hard_link, file_link };  // the last two: of kept.dll
    struct link_case {
        const char* what;
        fs::path link;
        std::wstring folder_template;
        bool refused;
        made_as kind = made_as::folder_link;
    };
    const link_case cases[] = {
        {"the shared folder", common / top, L"<CommonData>\\" + top + L"\\Sub", true},
        {"a folder between the shared folder and the file", common / top / L"A", L"<CommonData>\\" + top + L"\\A\\B", true},
        {"a folder below the user's data folder", user_data / top, L"<UserData>\\" + top + L"\\Sub", true},
        {"the shared file itself, a second name of another file", common / top / L"data.dat", L"<CommonData>\\" + top, true,
         made_as::hard_link},
        {"the shared file itself, a symbolic link to another file", common / top / L"data.dat", L"<CommonData>\\" + top, true,
         made_as::file_link},
        {"the installation folder", scratch / L"install", L"<InstallPath>\\bin", false},
    };
    for (const auto& link_case : cases) {
        SCOPED_TRACE(link_case.what);
        struct cleanup {
            fs::path folder;
            ~cleanup() { std::error_code ignored; fs::remove_all(folder, ignored); }
        } remove_later{common / top}, remove_user_data{user_data / top};
        fs::create_directories(link_case.link.parent_path());
        std::optional<folder_link> link;
        if (link_case.kind == made_as::hard_link)
            ASSERT_TRUE(::CreateHardLinkW(link_case.link.c_str(), (elsewhere / L"kept.dll").c_str(), nullptr));
        else if (link_case.kind == made_as::file_link)
            link.emplace(link_case.link, elsewhere / L"kept.dll", link_to::file);
        else
            link.emplace(link_case.link, elsewhere);

        const auto stored = stored_payload({
            {L"C:\\first.dat", L"<Temporary>", payload_kind::ordinary, std::string("1")},
            {L"C:\\data.dat", link_case.folder_template, payload_kind::shared, std::string("2")},
        });
        vd::imemstream stream(stored.data(), stored.size());
        extraction_recorder recorder;
        const bool extracted = extract_payload(stream, (scratch / L"install").wstring(), L"", (scratch / L"work").wstring(),
                                               recorder.callback());
        if (!link_case.refused) {
            EXPECT_TRUE(extracted);
            EXPECT_EQ(read_file(elsewhere / L"bin" / L"data.dat"), "2") << "other folders may be links";
            fs::remove_all(elsewhere / L"bin");
            continue;
        }
        EXPECT_FALSE(extracted);
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, std::error_code(reparse_point_encountered, std::system_category()));
        const auto& named = recorder.last_error()->text;
        EXPECT_TRUE(named.starts_with(link_case.link.wstring()) && named.ends_with(L"\\data.dat")) << named;
        if (link_case.kind != made_as::folder_link) {
            EXPECT_THROW(grant_users_on_file(common, link_case.link, FILE_GENERIC_READ), fs::filesystem_error);
        }
        EXPECT_EQ(recorder.targets(file_begins_event).size(), 1u) << "the file is refused before the callback hears of it";
        EXPECT_EQ(read_file(scratch / L"work" / L"first.dat"), "1");
        EXPECT_EQ(listing(elsewhere), kept);
        EXPECT_EQ(read_file(elsewhere / L"kept.dll"), "kept");
    }
}

// The folder that the walk holds is renamed by a program beyond Wine's sharing rules and a link
// put in its place, at the seams between a folder's check and the next name's open: what comes
// next lands in the held folder or is refused, and the other folder sees nothing at all, not
// even a file made and deleted again. From within Wine the hold refuses the rename.
TEST(folder_templates, a_held_folder_exchanged_for_a_link_takes_nothing_through_it) {
    test_folder scratch;
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const test_folder shared(common);
    const auto elsewhere = scratch / L"elsewhere";
    fs::create_directories(elsewhere);
    const folder_watch watch(elsewhere);
    const auto outer = shared / L"A";
    const auto folder = outer / L"B";
    const auto file = folder / L"data.dat";
    // First empty: a walk that went by the whole path again would make its names there. Then
    // holding what the walk would make next, under the same names: none of it may be touched.
    for (const bool theirs : {false, true}) {
        for (const bool at_file : {false, true}) {
            SCOPED_TRACE(at_file ? "between the file's folder and the file" : "between a folder and the next");
            SCOPED_TRACE(theirs ? "the other folder holds the same names" : "the other folder is empty");
            const auto exchanged = at_file ? folder : outer;
            const fs::path moved = exchanged.native() + L".moved";
            fs::remove_all(outer);
            fs::remove_all(moved);
            if (theirs) {
                fs::create_directories(elsewhere / L"B");
                write_file(elsewhere / L"data.dat", "theirs");
            }
            const auto kept = listing(elsewhere);
            watch.reset();
            std::optional<folder_link> link;
            const auto exchange = [&] {
                ASSERT_FALSE(::MoveFileExW(exchanged.c_str(), (exchanged.native() + L".within").c_str(), 0)) << "the held folder moved";
                // Windows refuses a user's program too: then there is nothing to exchange.
                if (move_folder_as_user(exchanged, moved))
                    link.emplace(exchanged, elsewhere);
            };
            try {
                const auto held = checked_folders(common, folder, file, true, [&](std::wstring_view made) {
                    if (!at_file && fs::path(made) == outer)
                        exchange();
                });
                if (at_file)
                    exchange();
                create_checked_file(held.get(), common, file);
                EXPECT_TRUE(fs::exists(link ? moved / (at_file ? L"data.dat" : L"B\\data.dat") : file));
            } catch (const fs::filesystem_error& e) {
                EXPECT_TRUE(is_refusal(e)) << e.what();
            } catch (const std::system_error& e) {
                ADD_FAILURE() << e.what() << " " << e.code().value();
            }
            link.reset();
            EXPECT_EQ(listing(elsewhere), kept);
            if (theirs) {
                EXPECT_EQ(read_file(elsewhere / L"data.dat"), "theirs");
            }
            EXPECT_FALSE(watch.changed()) << "something was made or removed in the other folder";
        }
    }
}

// Below a folder users may change, a path whose final path could not be read back to be checked
// (MAX_PATH or more) fails for its length, naming its file, and nothing of it is made; one a
// character shorter is installed.
TEST(folder_templates, a_path_too_long_to_be_checked_fails_for_its_length) {
    test_folder scratch;
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const test_folder shared(common);
    // The length that counts is the final path's: the common folder's own text, then the rest.
    const auto final_longer = final_path_of(common).native().size() - common.native().size();
    const auto outer = shared / std::wstring(100, L'a');
    for (const auto& [length, installs] : {std::pair<std::size_t, bool>{260, false}, {259, true}}) {
        SCOPED_TRACE(length);
        const auto folder = outer / std::wstring(length - final_longer - (outer / L"data.dat").native().size() - 1, L'b');
        const auto target = folder / L"data.dat";
        const auto stored = stored_payload({{L"C:\\data.dat", L"<CommonData>" + folder.native().substr(common.native().size()),
                                             payload_kind::shared, std::string("2")}});
        vd::imemstream stream(stored.data(), stored.size());
        extraction_recorder recorder;
        EXPECT_EQ(extract_payload(stream, (scratch / L"install").wstring(), L"", L"", recorder.callback()), installs);
        if (installs) {
            EXPECT_EQ(read_file(target), "2");
            continue;
        }
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, std::error_code(ERROR_FILENAME_EXCED_RANGE, std::system_category()));
        EXPECT_EQ(fs::path(recorder.last_error()->text), target);
        EXPECT_TRUE(fs::is_empty(shared.path()));
    }
}

TEST(folder_templates, existing_read_only_targets_are_replaced) {
    test_folder folder;
    write_file(folder / "readme.txt", "old");
    ::SetFileAttributesW((folder / "readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const auto stored = stored_payload({{L"C:\\readme.txt", L"<InstallPath>", payload_kind::ordinary, std::string("new")}});
    vd::imemstream stream(stored.data(), stored.size());
    extraction_recorder recorder;
    EXPECT_TRUE(extract_payload(stream, folder.path().wstring(), L"", L"", recorder.callback()));
    EXPECT_EQ(read_file(folder / "readme.txt"), "new");
}

TEST(folder_templates, deep_templates_cost_time_linear_in_their_length) {
    using clock = std::chrono::steady_clock;
    const auto many = [](std::wstring folder_template, int count) {
        for (int i = 0; i < count; ++i)
            folder_template += L"\\a";
        return folder_template;
    };
    testing_support::watchdog watch(std::chrono::seconds(120));

    // Far past the longest path: refused before anything is made.
    watch.step("a payload whose template has 100,000 components");
    test_folder folder;
    const auto stored = stored_payload({{L"C:\\deep.dat", many(L"<InstallPath>", 100'000), payload_kind::ordinary, std::string("x")}});
    vd::imemstream stream(stored.data(), stored.size());
    extraction_recorder recorder;
    auto start = clock::now();
    EXPECT_FALSE(extract_payload(stream, folder.path().wstring(), L"", L"", recorder.callback()));
    EXPECT_LT(clock::now() - start, std::chrono::seconds(3));
    ASSERT_NE(recorder.last_error(), nullptr);
    EXPECT_EQ(recorder.last_error()->code, make_error_code(compress_error::unexpected));
    EXPECT_TRUE(fs::is_empty(folder.path()));

    // Within the longest path, every folder below a shared base is listed, each once.
    watch.step("a shared template of 10,000 components");
    payload_extractor extractor(folder.path().wstring(), L"", L"");
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    start = clock::now();
    EXPECT_EQ(extractor.expand_folder_template(many(L"<CommonData>", 10'000)).native().size(),
              common.native().size() + 20'000);
    EXPECT_EQ(extractor.expand_folder_template(many(L"<CommonData>", 10'000)).native().size(),
              common.native().size() + 20'000);
    EXPECT_LT(clock::now() - start, std::chrono::seconds(10));
    payload_extractor shallower(folder.path().wstring(), L"", L"");
    shallower.expand_folder_template(many(L"<CommonData>", 1'000));
    shallower.expand_folder_template(many(L"<CommonData>", 500) + L"\\b");
    const auto listed = shallower.shared_folders();
    ASSERT_EQ(listed.size(), 1'001u);
    EXPECT_EQ(fs::path(listed.back().folder), common / many(L"", 500).substr(1) / L"b");
}
