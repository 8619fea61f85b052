// The built installer carries a well-formed payload as resource 260/134, language neutral.
#include "support/payload_support.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include "foundation/system/unique_any.hpp"

TEST(embedded_payload, the_installer_carries_a_readable_payload) {
    const vd::unique_module setup{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    ASSERT_TRUE(setup) << "error " << ::GetLastError();
    HRSRC found = ::FindResourceExW(setup.get(), MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(setup.get(), found)));
    const std::string stored(bytes, ::SizeofResource(setup.get(), found));

    ASSERT_EQ(stored.substr(0, 4), "BZh9") << "one bzip2 stream, block size 9";
    const auto payload = testing_support::parse(testing_support::inflate(stored));
    ASSERT_FALSE(payload.records.empty());
    for (const auto& record : payload.records)
        EXPECT_EQ(record.target.front(), L'<') << "every record names a folder template";
}
