#include "installer/payload/payload_file.hpp"

#include "installer/payload/compress_error.hpp"
#include "installer/payload/payload_writer.hpp"
#include "foundation/streams/memstream.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace testing_support;

namespace {

std::uint64_t u64_at(const std::string& bytes, std::size_t offset) {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}


void expect_compress_error_7(const std::string& inflated, const char* what) {
    try {
        parse(inflated);
        ADD_FAILURE() << what << ": accepted";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), make_error_code(compress_error::unexpected)) << what;
    }
}

} // namespace

TEST(payload_file, round_trips) {
    // No records: the header is the 12-byte prefix alone.
    const auto empty = inflate(stored_payload({}));
    EXPECT_EQ(empty.size(), 12u);
    EXPECT_EQ(u64_at(empty, 0), 12u);
    EXPECT_TRUE(parse(empty).records.empty());

    // The fixed part of a record is 24 bytes: 5 + 8 UTF-16 units make 12 + 24 + 26.
    const auto one = inflate(stored_payload({{L"C:\\ab", L"<System>", payload_kind::shared, std::string("abc")}}));
    EXPECT_EQ(u64_at(one, 0), 62u);
    const auto parsed = parse(one);
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.records[0].source_path, L"C:\\ab");
    EXPECT_EQ(parsed.records[0].target, L"<System>");
    EXPECT_EQ(parsed.records[0].kind, 3u);
    EXPECT_EQ(parsed.records[0].size, 3u);
    EXPECT_EQ(parsed.records[0].crc, 0x352441C2u);
    EXPECT_EQ(parsed.records[0].file_name(), L"ab");
    EXPECT_EQ(parsed.contents[0], "abc");

    // Many records, one of them empty, the same file name twice, non-BMP text.
    std::vector<payload_item> items;
    for (int i = 0; i < 40; ++i)
        items.push_back({L"D:\\build\\" + std::to_wstring(i) + L"\\f" + std::to_wstring(i) + L".bin",
                         L"<InstallPath>\\Sub " + std::to_wstring(i % 3), payload_kind::ordinary,
                         std::string(static_cast<std::size_t>(i * 997), static_cast<char>(i))});
    items.push_back({L"D:\\a\\same.txt", L"<CommonData>\\Vandrel", payload_kind::sample, std::string("first")});
    items.push_back({L"D:\\b\\same.txt", L"<CommonData>\\Vandrel", payload_kind::sample, std::string("second")});
    items.push_back({L"E:\\\U0001F600 m\u00FCsli.txt", L"<Documents>\\\u00C9t\u00E9", payload_kind::setup_only, std::string()});
    const auto many = parse(inflate(stored_payload(items)));
    ASSERT_EQ(many.records.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(many.records[i].source_path, items[i].source_path);
        EXPECT_EQ(many.records[i].target, items[i].folder_template);
        EXPECT_EQ(many.records[i].kind, static_cast<std::uint32_t>(items[i].kind));
        EXPECT_EQ(many.contents[i], std::get<std::string>(items[i].content));
    }
    EXPECT_EQ(many.records[40].file_name(), many.records[41].file_name());
    EXPECT_EQ(many.records.back().file_name(), L"\U0001F600 m\u00FCsli.txt");
}

TEST(payload_file, contents_come_from_files_too) {
    testing_support::test_folder folder;
    testing_support::write_file(folder / "data.bin", std::string(10000, 'q'));
    const auto parsed = parse(inflate(stored_payload({{L"X:\\data.bin", L"<InstallPath>", payload_kind::ordinary, folder / "data.bin"}})));
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.records[0].size, 10000u);
    EXPECT_EQ(parsed.contents[0], std::string(10000, 'q'));
    EXPECT_THROW(stored_payload({{L"X:\\gone.bin", L"<InstallPath>", payload_kind::ordinary, folder / "gone.bin"}}),
                 std::exception);
}

TEST(payload_file, malformed_headers_are_rejected) {
    const auto good = inflated_payload({{L"C:\\a.txt", L"<InstallPath>\\x", payload_kind::ordinary, std::string("hello")},
                                        {L"C:\\b.txt", L"<InstallPath>", payload_kind::ordinary, std::string("world")}});
    ASSERT_NO_THROW(parse(good));
    const auto header_size = u64_at(good, 0);

    auto with_u64 = [&](std::size_t offset, std::uint64_t value) {
        auto bytes = good;
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return bytes;
    };
    auto with_u32 = [&](std::size_t offset, std::uint32_t value) {
        auto bytes = good;
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return bytes;
    };

    expect_compress_error_7(good.substr(0, 5), "cut inside header_size");
    expect_compress_error_7(good.substr(0, 20), "cut inside the records");
    expect_compress_error_7(with_u64(0, 11), "header_size below the prefix");
    expect_compress_error_7(with_u64(0, (16ull << 20) + 1), "header_size above 16 MiB");
    expect_compress_error_7(with_u64(0, ~0ull), "header_size of 2^64 - 1");
    expect_compress_error_7(with_u64(0, header_size + 2), "records end before header_size");
    expect_compress_error_7(with_u64(0, header_size - 2), "records run past header_size");
    expect_compress_error_7(with_u32(8, 3), "record_count too large");
    expect_compress_error_7(with_u32(8, 0xFFFFFFFF), "record_count of 2^32 - 1");
    expect_compress_error_7(with_u32(8, 1), "record_count too small");
    expect_compress_error_7(with_u32(12, 0x7FFFFFFF), "source length past the header");
    expect_compress_error_7(with_u32(12 + 4 + 2 * 8, 1000), "template length past the header");
    // The first record's size field sits after its two strings and its kind.
    const std::size_t size_field = 12 + 4 + 2 * 8 + 4 + 2 * 15 + 4;
    expect_compress_error_7(with_u64(size_field, ~0ull - 3), "sizes whose sum overflows");
    expect_compress_error_7(with_u64(size_field, 4), "contents longer than the sizes say");
    expect_compress_error_7(good.substr(0, good.size() - 1), "contents shorter than the sizes say");
}

TEST(payload_file, records_that_reach_outside_their_folder_are_rejected) {
    const std::pair<std::wstring, std::wstring> bad[] = {
        {L"C:\\build\\", L"<InstallPath>"},
        {L"C:\\build\\.", L"<InstallPath>"},
        {L"C:\\build\\..", L"<InstallPath>"},
        {L"C:\\build/..", L"<InstallPath>"},
        {L"C:\\build\\x:stream", L"<InstallPath>"},
        {L"C:evil.txt", L"<InstallPath>"},
        {L"C:\\a.txt", L"<InstallPath>\\.."},
        {L"C:\\a.txt", L"<InstallPath>\\sub\\..\\..\\x"},
        {L"C:\\a.txt", L"<InstallPath>/../x"},
        {L"C:\\a.txt", L"<InstallPath>\\."},
        {L"C:\\a.txt", L"<InstallPath>\\C:\\Windows"},
        {L"C:\\a.txt", L"<InstallPath>\\\\x"},
    };
    for (const auto& [source, folder_template] : bad) {
        const std::vector<payload_item> items{{source, folder_template, payload_kind::ordinary, std::string("x")}};
        EXPECT_THROW(inflated_payload(items), std::system_error) << "the builder refuses it";
        expect_compress_error_7(inflated_payload(items, payload_checks::raw), "reader");
    }
    const std::vector<payload_item> fine{{L"C:\\build\\..a", L"<InstallPath>\\a..b\\.c", payload_kind::ordinary, std::string("x")},
                                         {L"relative.txt", L"<Temporary>", payload_kind::ordinary, std::string("y")}};
    EXPECT_NO_THROW(parse(inflated_payload(fine)));
}

// Names that Windows would not keep as given: a device, a trimmed end, a character cut off or
// refused. Each is refused as a file name and as a folder below the template; the names next
// to them are ordinary.
TEST(payload_file, names_windows_does_not_keep_are_rejected) {
    const std::wstring refused[] = {
        L"CON", L"prn", L"Aux", L"nul", L"NUL.txt", L"nul.tar.gz", L"aux .log", L"COM1", L"com9.dat", L"LPT1",
        L"lpt9", L"COM0", L"COM\u00B9", L"lpt\u00B3.txt", L"CONIN$", L"conout$", L"CLOCK$", L"x.", L"x ", L"sub.",
        L"..", L"a\u0001b", L"a\u001Fb", std::wstring(L"a\0b", 3), L"a<b", L"a>b", L"a\"b", L"a|b", L"a?b", L"a*b",
    };
    const std::wstring kept[] = {
        L"CONSOLE", L"con1", L"COM10", L"LPT", L"nul_", L"auxiliary.txt", L"x.y", L".profile", L"a b", L"com1x",
        L"\u00C9t\u00E9", L"x\u00A0",
    };
    auto payload_with = [](const std::wstring& name, bool as_file, payload_checks checks) {
        const std::vector<payload_item> items{{as_file ? L"C:\\build\\" + name : L"C:\\build\\a.txt",
                                               as_file ? L"<InstallPath>\\Sub" : L"<InstallPath>\\" + name,
                                               payload_kind::ordinary, std::string("x")}};
        return inflated_payload(items, checks);
    };
    for (const bool as_file : {true, false}) {
        for (const auto& name : refused) {
            const auto what = testing::PrintToString(name) + (as_file ? " as a file" : " as a folder");
            EXPECT_THROW(payload_with(name, as_file, payload_checks::enforce), std::system_error) << what;
            expect_compress_error_7(payload_with(name, as_file, payload_checks::raw), what.c_str());
        }
        for (const auto& name : kept)
            EXPECT_NO_THROW(parse(payload_with(name, as_file, payload_checks::enforce))) << testing::PrintToString(name);
    }
}
