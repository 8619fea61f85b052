#include "foundation/streams/resource_stream.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "foundation/language/language_state.hpp"

namespace {

// The ids of tests/foundation/test_resources.rc.
const wchar_t* const opaque_type = MAKEINTRESOURCEW(300);
const wchar_t* const opaque_name = MAKEINTRESOURCEW(7);
constexpr std::uint32_t entry_4_of_block_0x124 = 0x1234;

std::string read_all(std::istream& stream) {
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::wstring text_of(std::pair<const wchar_t*, std::uint32_t> entry) {
    return entry.first ? std::wstring(entry.first, entry.second) : std::wstring();
}

// Raw string-table blocks as a test builds them: each entry its length, then its units.
std::vector<wchar_t> block_of(std::initializer_list<std::wstring> entries) {
    std::vector<wchar_t> block;
    for (const auto& entry : entries) {
        block.push_back(static_cast<wchar_t>(entry.size()));
        block.insert(block.end(), entry.begin(), entry.end());
    }
    return block;
}

// Each test chooses the UI resource module itself and puts the previous one back.
class resource_stream_test : public testing::Test {
protected:
    void SetUp() override { saved_module_ = vd::language_state::instance().module; }
    void TearDown() override { vd::language_state::instance().module = saved_module_; }

    static void use_module(HMODULE module) { vd::language_state::instance().module = module; }

private:
    HMODULE saved_module_ = nullptr;
};

} // namespace

TEST_F(resource_stream_test, a_resource_is_read_where_it_lies) {
    use_module(nullptr);
    auto stream = vd::load_resource_stream(opaque_type, opaque_name);
    EXPECT_EQ(vd::language_state::instance().module, ::GetModuleHandleW(nullptr));

    const HMODULE program = ::GetModuleHandleW(nullptr);
    const HRSRC info = ::FindResourceW(program, opaque_name, opaque_type);
    ASSERT_NE(info, nullptr);
    const auto [data, size] = stream.rdbuf()->view();
    EXPECT_EQ(data, ::LockResource(::LoadResource(program, info))); // no copy
    EXPECT_EQ(size, ::SizeofResource(program, info));
    EXPECT_EQ(read_all(stream), std::string("stelvane\0\x01\xFF", 11));
    EXPECT_EQ(stream.get(), std::char_traits<char>::eof());
}

TEST_F(resource_stream_test, a_missing_resource_gives_an_empty_stream) {
    for (const HMODULE module : {HMODULE(nullptr), ::GetModuleHandleW(L"kernel32.dll")}) {
        use_module(module);
        auto stream = vd::load_resource_stream(opaque_type, MAKEINTRESOURCEW(8));
        EXPECT_EQ(stream.rdbuf()->view().second, 0u);
        EXPECT_EQ(stream.get(), std::char_traits<char>::eof());
        auto named = vd::load_resource_stream(L"NO_SUCH_TYPE", L"NO_SUCH_NAME");
        EXPECT_EQ(named.get(), std::char_traits<char>::eof());
    }
}

TEST_F(resource_stream_test, the_language_module_comes_before_the_program) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(kernel32, nullptr);
    use_module(kernel32);

    // Missing from the language module: found in the program.
    auto opaque = vd::load_resource_stream(opaque_type, opaque_name);
    EXPECT_EQ(read_all(opaque), std::string("stelvane\0\x01\xFF", 11));
    EXPECT_EQ(text_of(vd::find_resource_string(entry_4_of_block_0x124)), L"entry 4 of block 0x124");

    // Present in the language module (the program has no version block): taken from there.
    const HRSRC version = ::FindResourceW(kernel32, MAKEINTRESOURCEW(1), RT_VERSION);
    if (!version)
        GTEST_SKIP() << "Wine: this kernel32.dll carries no version resource";
    auto stream = vd::load_resource_stream(RT_VERSION, MAKEINTRESOURCEW(1));
    EXPECT_EQ(stream.rdbuf()->view().first, ::LockResource(::LoadResource(kernel32, version)));
}

TEST_F(resource_stream_test, string_entries_are_found_in_their_block) {
    use_module(nullptr);
    const auto [text, length] = vd::find_resource_string(entry_4_of_block_0x124);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text, length), L"entry 4 of block 0x124");

    // The entry is read in place: it lies in block 0x124 behind entries 0 to 3.
    const HMODULE program = ::GetModuleHandleW(nullptr);
    const HRSRC info = ::FindResourceW(program, MAKEINTRESOURCEW(0x124), RT_STRING);
    ASSERT_NE(info, nullptr);
    const auto* block = static_cast<const wchar_t*>(::LockResource(::LoadResource(program, info)));
    EXPECT_EQ(text, vd::find_block_string(block, ::SizeofResource(program, info), 4).first);
    EXPECT_GT(text, block);
    EXPECT_LT(text, block + ::SizeofResource(program, info) / 2);

    EXPECT_EQ(text_of(vd::find_resource_string(0x1237)), L"Gr\u00FC\u00DFe \u20AC");
    // A block stores all 16 entries: one left out of the table reads as present and empty.
    const auto left_out = vd::find_resource_string(0x123F);
    EXPECT_NE(left_out.first, nullptr);
    EXPECT_EQ(left_out.second, 0u);
    EXPECT_EQ(vd::find_resource_string(0x5670).first, nullptr); // absent block
    // Beyond 16 bits the block number would be cut to 0x124 and name entry 4 there.
    EXPECT_EQ(vd::find_resource_string(0x101234).first, nullptr);
}

TEST(resource_stream, entries_must_lie_wholly_inside_their_block) {
    const auto block = block_of({L"zero", L"", L"two"});
    const auto size = block.size() * sizeof(wchar_t);
    EXPECT_EQ(text_of(vd::find_block_string(block.data(), size, 0)), L"zero");
    const auto empty = vd::find_block_string(block.data(), size, 1);
    EXPECT_NE(empty.first, nullptr); // present but empty
    EXPECT_EQ(empty.second, 0u);
    EXPECT_EQ(text_of(vd::find_block_string(block.data(), size, 2)), L"two");
    EXPECT_EQ(vd::find_block_string(block.data(), size, 3).first, nullptr); // past the last entry
    EXPECT_EQ(vd::find_block_string(block.data(), size, 15).first, nullptr);

    // Cut inside entry 2: its length says 3 units but only 2 remain.
    EXPECT_EQ(vd::find_block_string(block.data(), size - 2, 2).first, nullptr);
    // An odd byte does not count as a unit.
    EXPECT_EQ(vd::find_block_string(block.data(), size - 1, 2).first, nullptr);
    // Only the length is left of entry 2.
    EXPECT_EQ(vd::find_block_string(block.data(), size - 6, 2).first, nullptr);
    EXPECT_NE(vd::find_block_string(block.data(), size - 6, 1).first, nullptr);

    // An overlong length that runs far past the end, and one that skips past it.
    std::vector<wchar_t> overlong = {0xFFFF, L'a', L'b'};
    EXPECT_EQ(vd::find_block_string(overlong.data(), overlong.size() * 2, 0).first, nullptr);
    EXPECT_EQ(vd::find_block_string(overlong.data(), overlong.size() * 2, 1).first, nullptr);
    EXPECT_EQ(vd::find_block_string(overlong.data(), 0, 0).first, nullptr);
}
