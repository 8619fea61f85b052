#include "installer/payload/payload_extractor.hpp"

#include "installer/payload/compress_error.hpp"
#include "foundation/streams/memstream.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/extraction_recorder.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"

#include "foundation/system/unique_any.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <windows.h>

namespace fs = std::filesystem;
using namespace testing_support;
using result = notification::result;

namespace {

bool extract(const std::string& stored, const fs::path& folder, extraction_recorder& recorder) {
    vd::imemstream stream(stored.data(), stored.size());
    return extract_payload(stream, folder.wstring(), L"Samples", L"", recorder.callback());
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

std::vector<payload_item> three_files() {
    return {{L"C:\\build\\readme.txt", L"<InstallPath>", payload_kind::ordinary, std::string("read me\r\n")},
            {L"C:\\build\\big.bin", L"<InstallPath>\\data", payload_kind::ordinary, random_bytes(10000, 1)},
            {L"C:\\build\\last.txt", L"<InstallPath>\\data\\more", payload_kind::ordinary, std::string("the end")}};
}

std::error_code compress(compress_error value) { return make_error_code(value); }

} // namespace

TEST(payload_extractor, extracts_every_file_and_ends_exactly) {
    test_folder folder;
    extraction_recorder recorder;
    const auto items = three_files();
    ASSERT_TRUE(extract(stored_payload(items), folder.path(), recorder));

    EXPECT_EQ(read_file(folder / "readme.txt"), "read me\r\n");
    EXPECT_EQ(read_file(folder / "data" / "big.bin"), std::get<std::string>(items[1].content));
    EXPECT_EQ(read_file(folder / "data" / "more" / "last.txt"), "the end");

    const auto& events = recorder.events();
    EXPECT_EQ(events.front().kind, start_event);
    EXPECT_EQ(events.back().kind, finished_event);
    const auto inflated = inflated_payload(items);
    EXPECT_EQ(events.back().total, inflated.size());
    EXPECT_EQ(events.back().done, stored_payload(items).size()) << "done counts the stored bytes";
    EXPECT_EQ(recorder.targets(file_done_event),
              (std::vector<std::wstring>{(folder / "readme.txt").wstring(), (folder / "data" / "big.bin").wstring(),
                                         (folder / "data" / "more" / "last.txt").wstring()}));

    // Progress rises to the total; the file of 10000 bytes arrives in several pieces between
    // its one file_begins and its one file_done.
    std::uint64_t last = 0;
    int pieces_of_big = 0;
    bool in_big = false;
    for (const auto& e : events) {
        if (e.kind == progress_event) {
            EXPECT_GE(e.done, last);
            last = e.done;
            pieces_of_big += in_big;
        }
        if (e.kind == file_begins_event || e.kind == file_done_event)
            in_big = e.kind == file_begins_event && e.target.ends_with(L"big.bin");
    }
    EXPECT_EQ(last, inflated.size());
    EXPECT_GE(pieces_of_big, 3);
}

TEST(payload_extractor, empty_payloads_and_empty_files) {
    test_folder folder;
    {
        extraction_recorder recorder;
        EXPECT_TRUE(extract(stored_payload({}), folder.path(), recorder)) << "a header alone is a whole payload";
        EXPECT_EQ(recorder.count(file_begins_event), 0u);
    }
    extraction_recorder recorder;
    ASSERT_TRUE(extract(stored_payload({{L"C:\\a\\first.txt", L"<InstallPath>", payload_kind::ordinary, std::string()},
                                        {L"C:\\a\\middle.txt", L"<InstallPath>", payload_kind::ordinary, std::string("m")},
                                        {L"C:\\a\\empty.txt", L"<InstallPath>\\sub", payload_kind::ordinary, std::string()},
                                        {L"C:\\a\\also.txt", L"<InstallPath>", payload_kind::ordinary, std::string()}}),
                        folder.path(), recorder));
    EXPECT_EQ(recorder.count(file_done_event), 4u) << "empty files are reported like any other";
    EXPECT_TRUE(fs::exists(folder / "first.txt"));
    EXPECT_EQ(read_file(folder / "middle.txt"), "m");
    EXPECT_TRUE(fs::exists(folder / "sub" / "empty.txt"));
    EXPECT_EQ(fs::file_size(folder / "also.txt"), 0u) << "even as the last record";
}

TEST(payload_extractor, length_mismatches_fail_with_unexpected_error) {
    test_folder folder;
    const auto inflated = inflated_payload(three_files());
    {
        extraction_recorder recorder;
        EXPECT_FALSE(extract(compress_payload(inflated + "x"), folder / "long", recorder));
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, compress(compress_error::unexpected));
        EXPECT_EQ(recorder.last_error()->text, L"") << "bytes beyond the last file belong to no file";
    }
    {
        extraction_recorder recorder;
        EXPECT_FALSE(extract(compress_payload(inflated.substr(0, inflated.size() - 3)), folder / "short", recorder));
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, compress(compress_error::unexpected));
        EXPECT_EQ(recorder.last_error()->text, (folder / "short" / "data" / "more" / "last.txt").wstring());
    }
    for (std::size_t cut : {0u, 5u, 20u}) {
        extraction_recorder recorder;
        EXPECT_FALSE(extract(compress_payload(inflated.substr(0, cut)), folder / "header", recorder));
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, compress(compress_error::unexpected)) << "cut at " << cut;
        EXPECT_EQ(recorder.last_error()->text, L"");
    }
}

TEST(payload_extractor, damaged_stored_streams) {
    test_folder folder;
    const auto stored = stored_payload(three_files());

    auto flipped = stored;
    flipped[flipped.size() / 2] ^= 0x10;
    vd::imemstream damaged(flipped.data(), flipped.size());
    EXPECT_FALSE(verify_payload(damaged));
    vd::imemstream cut(stored.data(), stored.size() - 10);
    EXPECT_FALSE(verify_payload(cut)) << "a stream cut short is no whole payload";
    vd::imemstream whole(stored.data(), stored.size());
    EXPECT_TRUE(verify_payload(whole));
    EXPECT_TRUE(fs::is_empty(folder.path())) << "a dry run writes nothing";

    extraction_recorder recorder;
    EXPECT_FALSE(extract(stored.substr(0, stored.size() - 10), folder.path(), recorder));
    ASSERT_NE(recorder.last_error(), nullptr);
    EXPECT_EQ(recorder.last_error()->code, compress(compress_error::bzip2_failure));
}

TEST(payload_extractor, stale_runtime_errors_do_not_hide_a_bzip2_failure) {
    // Two bzip2 blocks: the first file is written (its existence test leaves ENOENT behind)
    // before the cut second block fails.
    test_folder folder;
    const auto stored = stored_payload({{L"C:\\big.bin", L"<InstallPath>", payload_kind::ordinary, random_bytes(1200000, 2)},
                                        {L"C:\\small.bin", L"<InstallPath>", payload_kind::ordinary, random_bytes(1000, 3)}});
    extraction_recorder recorder;
    errno = ENOENT;
    _doserrno = ERROR_FILE_NOT_FOUND;
    EXPECT_FALSE(extract(stored.substr(0, stored.size() - 200), folder.path(), recorder));
    ASSERT_GE(recorder.count(file_begins_event), 1u);
    ASSERT_NE(recorder.last_error(), nullptr);
    EXPECT_EQ(recorder.last_error()->code, compress(compress_error::bzip2_failure));
}

TEST(payload_extractor, stop_answers_interrupt) {
    const auto stored = stored_payload(three_files());
    struct stop_case {
        const char* name;
        std::function<bool(const extraction_event&)> stop_at;
        const wchar_t* text;  // relative to the folder; null for none
    };
    const stop_case cases[] = {
        {"first progress, when the header is complete", [](const extraction_event& e) { return e.kind == progress_event; }, nullptr},
        {"file_begins", [](const extraction_event& e) { return e.kind == file_begins_event && e.target.ends_with(L"big.bin"); }, nullptr},
        {"progress inside a file", [](const extraction_event& e) { return e.kind == progress_event && e.done > 2000; }, L"data\\big.bin"},
        {"file_done", [](const extraction_event& e) { return e.kind == file_done_event; }, L"readme.txt"},
    };
    for (const auto& c : cases) {
        test_folder folder;
        extraction_recorder recorder;
        recorder.answer = [&](const extraction_event& e) { return c.stop_at(e) ? result::stop : result::proceed; };
        EXPECT_FALSE(extract(stored, folder.path(), recorder)) << c.name;
        ASSERT_NE(recorder.last_error(), nullptr) << c.name;
        EXPECT_EQ(recorder.last_error()->code, compress(compress_error::interrupted)) << c.name;
        EXPECT_EQ(recorder.last_error()->text, c.text ? (folder / c.text).wstring() : L"") << c.name;
        EXPECT_EQ(recorder.count(finished_event), 0u) << c.name;
    }
}

TEST(payload_extractor, skipping_every_file_still_finishes) {
    test_folder folder;
    extraction_recorder recorder;
    recorder.answer = [](const extraction_event& e) { return e.kind == file_begins_event ? result::skip : result::proceed; };
    const auto items = three_files();
    ASSERT_TRUE(extract(stored_payload(items), folder.path(), recorder));
    EXPECT_TRUE(fs::is_empty(folder.path()));
    EXPECT_EQ(recorder.count(file_begins_event), 3u);
    EXPECT_EQ(recorder.count(file_done_event), 0u);
    EXPECT_GE(recorder.count(progress_event), 5u);
    EXPECT_EQ(recorder.events().back().kind, finished_event);
    EXPECT_EQ(recorder.events().back().total, inflated_payload(items).size());
}

TEST(payload_extractor, checksum_mismatches) {
    test_folder folder;
    const auto items = three_files();
    {
        // Content that does not match its record's CRC-32.
        auto inflated = inflated_payload(items);
        inflated.back() ^= 1;
        extraction_recorder recorder;
        EXPECT_FALSE(extract(compress_payload(inflated), folder / "content", recorder));
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, compress(compress_error::invalid_checksum));
        EXPECT_EQ(recorder.last_error()->text, (folder / "content" / "data" / "more" / "last.txt").wstring());
    }
    {
        // Another process changes a file while it is written: one byte past the end that
        // the file will have, which the extraction's own writes never cover.
        const auto target = folder / "changed" / "data" / "big.bin";
        extraction_recorder recorder;
        recorder.answer = [&](const extraction_event& e) {
            if (e.kind == progress_event && fs::exists(target) && e.done > 4096 * 2) {
                vd::unique_file file{::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr)};
                EXPECT_TRUE(file);
                ::SetFilePointer(file.get(), 10000, nullptr, FILE_BEGIN);
                DWORD written = 0;
                ::WriteFile(file.get(), "X", 1, &written, nullptr);
            }
            return result::proceed;
        };
        EXPECT_FALSE(extract(stored_payload(items), folder / "changed", recorder));
        ASSERT_NE(recorder.last_error(), nullptr);
        EXPECT_EQ(recorder.last_error()->code, compress(compress_error::invalid_checksum));
        EXPECT_EQ(recorder.last_error()->text, target.wstring());
    }
}

TEST(payload_extractor, write_takes_every_byte_across_records) {
    test_folder folder;
    const auto inflated = inflated_payload(three_files());
    payload_extractor extractor(folder.path().wstring(), L"", L"");
    extraction_recorder recorder;
    extractor.set_callback(recorder.callback());
    // The whole payload in one call, then nothing more: a sink that took less would lose it.
    EXPECT_EQ(extractor.write(inflated.data(), static_cast<std::streamsize>(inflated.size())),
              static_cast<std::streamsize>(inflated.size()));
    EXPECT_TRUE(extractor.complete());
    EXPECT_EQ(recorder.count(file_done_event), 3u);
    EXPECT_EQ(read_file(folder / "data" / "more" / "last.txt"), "the end");

    // After a failure every later call takes its bytes and does nothing.
    payload_extractor failing(folder.path().wstring(), L"", L"");
    const std::string junk(16, '\xFF');
    EXPECT_THROW(failing.write(junk.data(), 16), std::system_error);
    EXPECT_EQ(failing.write(junk.data(), 16), 16);
}

TEST(payload_extractor, failures_opening_a_target_carry_the_os_error) {
    test_folder folder;
    // A folder stands where the file should go.
    fs::create_directories(folder / "readme.txt");
    extraction_recorder recorder;
    EXPECT_FALSE(extract(stored_payload(three_files()), folder.path(), recorder));
    ASSERT_NE(recorder.last_error(), nullptr);
    EXPECT_EQ(recorder.last_error()->code.category(), std::system_category());
    EXPECT_EQ(recorder.last_error()->code.value(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(recorder.last_error()->text, (folder / "readme.txt").wstring());
}
