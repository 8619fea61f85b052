// The built installer carries a well-formed payload as resource 260/134, language neutral, and
// in it the product: its program of the installer's version, its uninstaller, a language library
// for every UI language and a DirectX set-up that the installer would keep and run.
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include <windows.h>

#include "foundation/language/language_state.hpp"
#include "foundation/language/version_info.hpp"
#include "foundation/system/unique_any.hpp"
#include "installer/install/directx_setup.hpp"

namespace {

std::string stored_payload_of_the_installer() {
    const vd::unique_module setup{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    if (!setup) {
        ADD_FAILURE() << "error " << ::GetLastError();
        return {};
    }
    HRSRC found = ::FindResourceExW(setup.get(), MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    if (!found) {
        ADD_FAILURE() << "no resource 260/134";
        return {};
    }
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(setup.get(), found)));
    return std::string(bytes, ::SizeofResource(setup.get(), found));
}

} // namespace

TEST(embedded_payload, the_installer_carries_a_readable_payload) {
    const std::string stored = stored_payload_of_the_installer();
    ASSERT_EQ(stored.substr(0, 4), "BZh9") << "one bzip2 stream, block size 9";
    const auto payload = testing_support::parse(testing_support::inflate(stored));
    ASSERT_FALSE(payload.records.empty());
    for (const auto& record : payload.records)
        EXPECT_EQ(record.target.front(), L'<') << "every record names a folder template";
}

TEST(embedded_payload, the_installer_carries_the_product) {
    const auto payload = testing_support::parse(testing_support::inflate(stored_payload_of_the_installer()));
    ASSERT_EQ(payload.records.size(), 77u);

    testing_support::test_folder folder;
    std::map<payload_kind, int> kinds;
    std::set<std::wstring> language_names;
    for (std::size_t i = 0; i < payload.records.size(); ++i) {
        const auto& record = payload.records[i];
        const auto kind = static_cast<payload_kind>(record.kind);
        ++kinds[kind];
        const auto file = folder / record.file_name();
        if (kind == payload_kind::setup_only) {
            // The set-up runs from the work folder itself, so nothing may sit below it.
            EXPECT_EQ(record.target, L"<Temporary>") << record.file_name();
            testing_support::write_file(file, payload.contents[i]);
        } else if (kind == payload_kind::main_program) {
            testing_support::write_file(file, payload.contents[i]);
            const auto version = vd::file_version_info(file.wstring());
            EXPECT_EQ(version.file_version(), 0x0008000100000001u) << "a later run compares it with its own";
            EXPECT_EQ(version.string_value(L"ApplicationId"), L"Stelvane8");
        } else if (record.target == L"<InstallPath>\\Languages") {
            const auto library = folder / L"Languages" / record.file_name();
            testing_support::write_file(library, payload.contents[i]);
            const vd::unique_module module{::LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
            ASSERT_TRUE(module) << library << ": error " << ::GetLastError();
            wchar_t name[64] = {};
            EXPECT_GT(::LoadStringW(module.get(), 1, name, 64), 0) << library;
            language_names.insert(name);
        }
    }
    for (auto kind : {payload_kind::ordinary, payload_kind::shared, payload_kind::sample, payload_kind::setup_only})
        EXPECT_GT(kinds[kind], 0) << "kind " << static_cast<int>(kind);
    EXPECT_EQ(kinds[payload_kind::main_program], 1);
    EXPECT_EQ(kinds[payload_kind::uninstaller], 1);
    EXPECT_EQ(language_names.size(), vd::ui_language_count) << "one library, with a name of its own, per language";

    directx_setup setup(folder.path().wstring());
    ASSERT_NE(setup.module(), nullptr) << "the payload's DSetup.dll is recent enough";
    EXPECT_TRUE(setup.run(nullptr));
}
