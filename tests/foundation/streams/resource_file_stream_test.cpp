#include "foundation/streams/resource_file_stream.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "foundation/streams/resource_stream.hpp"
#include "foundation/system/known_folders.hpp"
#include "support/test_folder.hpp"

namespace {

// The ids of tests/foundation/test_resources.rc.
const wchar_t* const opaque_type = MAKEINTRESOURCEW(300);
const wchar_t* const opaque_name = MAKEINTRESOURCEW(7);

std::string read_all(std::istream& stream) {
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

} // namespace

// The bytes read from the program's file are those the loader mapped, read again after a
// rewind as the installer reads its payload twice, and the resource's end is the stream's end.
TEST(resource_file_stream, a_resource_is_read_from_the_program_file) {
    const auto mapped = vd::find_resource_bytes(::GetModuleHandleW(nullptr), opaque_name, opaque_type);
    ASSERT_FALSE(mapped.empty());
    const std::string expected(reinterpret_cast<const char*>(mapped.data()), mapped.size());

    const auto range = vd::program_resource_range(opaque_name, opaque_type);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->size, mapped.size());
    const auto stream = vd::open_program_resource(opaque_type, opaque_name);
    ASSERT_TRUE(stream);
    EXPECT_EQ(read_all(*stream), expected);
    EXPECT_EQ(stream->peek(), std::char_traits<char>::eof()) << "the next resource's bytes are not read";
    stream->clear();
    stream->seekg(3);
    EXPECT_EQ(read_all(*stream), expected.substr(3));

    EXPECT_FALSE(vd::program_resource_range(MAKEINTRESOURCEW(8), opaque_type)) << "a missing resource";
    EXPECT_FALSE(vd::open_program_resource(opaque_type, MAKEINTRESOURCEW(8)));
}

// Any range of any file, and a file that is not there.
TEST(resource_file_stream, a_range_of_a_file) {
    const testing_support::test_folder folder;
    const auto file = folder / L"bytes.bin";
    testing_support::write_file(file, "0123456789abcdef");
    vd::file_range_stream middle(file, {4, 6});
    EXPECT_EQ(read_all(middle), "456789");
    middle.clear();
    middle.seekg(2);
    EXPECT_EQ(read_all(middle), "6789");

    vd::file_range_stream missing(folder / L"missing.bin", {0, 4});
    EXPECT_TRUE(missing.fail());
}
