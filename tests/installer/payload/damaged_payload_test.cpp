// Hundreds of payloads made from a valid one by flipping bits, cutting it short and corrupting
// every field of its header: each must end in an error of the extraction's own category (or,
// where the damage changes nothing that was decoded, in the same files), never in a crash, a
// hang or a file outside the target folder.
#include "installer/payload/payload_extractor.hpp"

#include "installer/payload/compress_error.hpp"
#include "foundation/streams/memstream.hpp"
#include "support/extraction_recorder.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

std::vector<payload_item> sample_items() {
    std::mt19937 random(7);
    std::string binary(6000, '\0');
    for (auto& byte : binary)
        byte = static_cast<char>(random() % 7);
    return {{L"C:\\b\\a.txt", L"<InstallPath>", payload_kind::ordinary, std::string("alpha alpha alpha\r\n")},
            {L"C:\\b\\b.bin", L"<InstallPath>\\sub", payload_kind::shared, binary},
            {L"C:\\b\\c.txt", L"<Temporary>\\work", payload_kind::setup_only, std::string("gamma")}};
}

class damaged_payload : public ::testing::Test {
protected:
    // Extracts a damaged payload into a folder of its own and checks how it ended.
    void check(const std::string& stored, const std::string& what) {
        const auto target = folder_ / std::to_string(++cases_);
        fs::create_directories(target);
        extraction_recorder recorder;
        vd::imemstream verify_stream(stored.data(), stored.size());
        const bool verified = verify_payload(verify_stream);
        vd::imemstream stream(stored.data(), stored.size());
        const bool extracted = extract_payload(stream, target.wstring(), L"", L"", recorder.callback());

        for (const auto& begun : recorder.targets(file_begins_event)) {
            const auto relative = fs::path(begun).lexically_relative(target);
            EXPECT_FALSE(relative.empty() || *relative.begin() == L"..") << what << ": wrote outside the folder";
        }
        if (extracted) {
            // The damage left the decoded files as they were meant to be, or changed only
            // what the extraction does not look at.
            EXPECT_TRUE(verified) << what;
            ++finished_;
            return;
        }
        ASSERT_NE(recorder.last_error(), nullptr) << what;
        EXPECT_EQ(&recorder.last_error()->code.category(), &compress_category())
            << what << ": " << recorder.last_error()->code.category().name() << " " << recorder.last_error()->code.value();
        EXPECT_EQ(recorder.count(finished_event), 0u) << what;
        ++failed_;
    }

    test_folder folder_;
    int cases_ = 0;
    int finished_ = 0;
    int failed_ = 0;
};

} // namespace

TEST_F(damaged_payload, bit_flips_truncations_and_corrupt_headers) {
    const auto items = sample_items();
    const auto inflated = inflated_payload(items);
    const auto stored = compress_payload(inflated);

    // Bit flips all over the stored stream.
    std::mt19937 random(11);
    for (int i = 0; i < 120; ++i) {
        auto bytes = stored;
        const auto offset = i < 40 ? static_cast<std::size_t>(i) : random() % bytes.size();
        bytes[offset] = static_cast<char>(bytes[offset] ^ (1u << (random() % 8)));
        check(bytes, "flip at " + std::to_string(offset));
    }

    // The stored stream cut at many places.
    for (std::size_t cut = 0; cut < stored.size(); cut += std::max<std::size_t>(1, stored.size() / 60))
        check(stored.substr(0, cut), "stored cut at " + std::to_string(cut));

    // Every field of the header corrupted, the stream itself well-formed.
    const auto header_size = [&] { std::uint64_t v; std::memcpy(&v, inflated.data(), 8); return v; }();
    auto corrupt = [&](std::size_t offset, const void* value, std::size_t width, const std::string& what) {
        auto bytes = inflated;
        std::memcpy(bytes.data() + offset, value, width);
        check(compress_payload(bytes), what);
    };
    const std::uint64_t sizes64[] = {0, 1, 8, 11, 12, header_size - 1, header_size + 1, 16u << 20, (16u << 20) + 1, ~0ull};
    for (auto v : sizes64)
        corrupt(0, &v, 8, "header_size " + std::to_string(v));
    const std::uint32_t counts[] = {0, 2, 4, 1000, 0xFFFFFFFF};
    for (auto v : counts)
        corrupt(8, &v, 4, "record_count " + std::to_string(v));

    // Walk the records and corrupt each field of each.
    std::size_t offset = 12;
    for (std::size_t r = 0; r < items.size(); ++r) {
        std::uint32_t source_length, template_length;
        std::memcpy(&source_length, inflated.data() + offset, 4);
        const std::uint32_t lengths[] = {0, source_length - 1, source_length + 1, 0x7FFFFFFF};
        for (auto v : lengths)
            corrupt(offset, &v, 4, "record " + std::to_string(r) + " source length " + std::to_string(v));
        const auto last_unit = offset + 4 + 2 * (source_length - 1);
        corrupt(last_unit, u"\\", 2, "record " + std::to_string(r) + " file name ends in a separator");
        corrupt(last_unit, u":", 2, "record " + std::to_string(r) + " file name with a colon");
        offset += 4 + 2 * source_length;

        std::memcpy(&template_length, inflated.data() + offset, 4);
        const std::uint32_t template_lengths[] = {0, template_length - 1, template_length + 1, 0xFFFFFFFF};
        for (auto v : template_lengths)
            corrupt(offset, &v, 4, "record " + std::to_string(r) + " template length " + std::to_string(v));
        corrupt(offset + 4 + 2, u"x", 2, "record " + std::to_string(r) + " template name");
        corrupt(offset + 4, u"C", 2, "record " + std::to_string(r) + " template without brackets");
        offset += 4 + 2 * template_length;

        const std::uint32_t kind = 99;  // an unknown kind is written like an ordinary file
        corrupt(offset, &kind, 4, "record " + std::to_string(r) + " kind");
        offset += 4;
        std::uint64_t size;
        std::memcpy(&size, inflated.data() + offset, 8);
        const std::uint64_t sizes[] = {0, size - 1, size + 1, ~0ull, 1ull << 40};
        for (auto v : sizes)
            corrupt(offset, &v, 8, "record " + std::to_string(r) + " size " + std::to_string(v));
        offset += 8;
        std::uint32_t crc;
        std::memcpy(&crc, inflated.data() + offset, 4);
        crc ^= 0x80;
        corrupt(offset, &crc, 4, "record " + std::to_string(r) + " crc");
        offset += 4;
    }
    ASSERT_EQ(offset, header_size);

    // The stored stream followed by bytes that are no bzip2 stream.
    check(stored + "garbage", "trailing garbage");
    check(stored + stored, "two streams");

    EXPECT_GE(cases_, 200);
    EXPECT_GE(failed_, 190) << "finished: " << finished_;
}
