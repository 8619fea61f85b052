#include "foundation/streams/memstream.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr auto in = std::ios_base::in;
constexpr auto out = std::ios_base::out;

std::string as_string(std::pair<const char*, std::size_t> view) {
    return std::string(view.first, view.second);
}

// The put area's capacity is what a writer can store before the next overflow.
std::size_t capacity_of(vd::membuf& buffer) {
    struct peek : vd::membuf {
        static std::size_t capacity(vd::membuf& b) { return static_cast<peek&>(b).epptr() - static_cast<peek&>(b).pbase(); }
    };
    return peek::capacity(buffer);
}

} // namespace

TEST(memstream, written_bytes_stay_visible_after_reading) {
    vd::memstream stream(in | out);
    stream.write("abcdefgh", 8);
    stream.write("ijkl", 4);
    EXPECT_EQ(as_string(stream.rdbuf()->view()), "abcdefghijkl");

    char first[8];
    ASSERT_TRUE(stream.read(first, 8));
    EXPECT_EQ(std::string(first, 8), "abcdefgh");
    EXPECT_EQ(as_string(stream.rdbuf()->view()), "abcdefghijkl");

    char rest[5] = {};
    stream.read(rest, 5);
    EXPECT_EQ(stream.gcount(), 4);
    EXPECT_TRUE(stream.eof());
}

TEST(memstream, grows_by_half_its_capacity_but_at_least_256_bytes) {
    vd::membuf buffer(out);
    EXPECT_FALSE(buffer.owned());
    const std::pair<std::size_t, std::size_t> steps[] = {{1, 256}, {257, 512}, {513, 768}, {769, 1152}, {1153, 1728}};
    std::size_t written = 0;
    for (const auto& [bytes, capacity] : steps) {
        while (written < bytes) {
            ASSERT_EQ(buffer.sputc(static_cast<char>('a' + written % 26)), 'a' + static_cast<int>(written % 26));
            ++written;
        }
        EXPECT_EQ(capacity_of(buffer), capacity) << "after " << bytes << " bytes";
    }
    EXPECT_TRUE(buffer.owned());
    const auto [data, size] = buffer.view();
    ASSERT_EQ(size, 1153u);
    for (std::size_t i = 0; i < size; ++i)
        ASSERT_EQ(data[i], static_cast<char>('a' + i % 26));
}

TEST(memstream, app_without_out_is_dropped_and_read_only_buffers_refuse_writes) {
    vd::membuf buffer(in | std::ios_base::app);
    EXPECT_EQ(buffer.mode(), in);
    EXPECT_EQ(buffer.sputc('x'), std::char_traits<char>::eof());

    const char bytes[] = "0123456789";
    vd::imemstream view(bytes, 10);
    EXPECT_EQ(view.rdbuf()->sputc('x'), std::char_traits<char>::eof());
    EXPECT_EQ(std::string(bytes), "0123456789");
}

TEST(memstream, seeks_on_a_view_stay_inside_it) {
    const char bytes[] = "0123456789";
    vd::imemstream stream(bytes, 10);
    auto* buffer = stream.rdbuf();
    EXPECT_EQ(buffer->pubseekoff(0, std::ios_base::end, in), 10);
    EXPECT_EQ(buffer->pubseekoff(3, std::ios_base::beg, in), 3);
    EXPECT_EQ(buffer->pubseekoff(11, std::ios_base::beg, in), -1);
    EXPECT_EQ(buffer->sgetc(), '3') << "a refused seek leaves the get pointer where it was";
    EXPECT_EQ(buffer->pubseekoff(-1, std::ios_base::beg, in), -1);
    EXPECT_EQ(buffer->pubseekoff(2, std::ios_base::cur, in), 5);
    EXPECT_EQ(buffer->pubseekpos(std::streampos(std::streamoff(-1)), in), -1);
    EXPECT_EQ(buffer->pubseekoff(0, std::ios_base::beg, out), -1) << "a view has no put area";
    EXPECT_EQ(as_string(buffer->view()), "0123456789");
    EXPECT_EQ(buffer->view().first, bytes) << "a view never copies";
}

TEST(memstream, view_modes) {
    const char bytes[] = "0123456789";
    vd::membuf at_end(bytes, 10, in | std::ios_base::ate);
    EXPECT_EQ(at_end.sgetc(), std::char_traits<char>::eof());
    EXPECT_EQ(at_end.pubseekoff(0, std::ios_base::beg, in), 0);
    EXPECT_EQ(at_end.sgetc(), '0');

    vd::membuf truncated(bytes, 10, in | std::ios_base::trunc);
    EXPECT_EQ(truncated.sgetc(), std::char_traits<char>::eof());
    EXPECT_EQ(truncated.view().second, 0u);

    // At the end of nothing: reads find the end at once instead of running off the bytes.
    vd::imemstream truncated_at_end(bytes, 10, std::ios_base::ate | std::ios_base::trunc);
    char read[4] = {};
    EXPECT_EQ(truncated_at_end.read(read, sizeof read).gcount(), 0);
    EXPECT_TRUE(truncated_at_end.eof());
    EXPECT_EQ(truncated_at_end.rdbuf()->pubseekoff(0, std::ios_base::cur, in), 0);

    vd::imemstream empty;
    char c;
    EXPECT_FALSE(empty.get(c));
    EXPECT_TRUE(empty.eof());
}

TEST(memstream, read_write_seeks) {
    vd::memstream stream(in | out);
    stream << "hello world";
    auto* buffer = stream.rdbuf();
    EXPECT_EQ(buffer->pubseekoff(0, std::ios_base::cur, in | out), -1);
    EXPECT_EQ(buffer->pubseekoff(0, std::ios_base::end, in), 11);
    EXPECT_EQ(buffer->pubseekoff(6, std::ios_base::beg, in | out), 6);
    stream << "WORLD";
    EXPECT_EQ(as_string(buffer->view()), "hello WORLD");
    EXPECT_EQ(buffer->pubseekoff(-5, std::ios_base::end, in), 6);
    std::string word;
    stream >> word;
    EXPECT_EQ(word, "WORLD");

    vd::memstream appending(in | out | std::ios_base::app);
    appending << "abc";
    EXPECT_EQ(appending.rdbuf()->pubseekoff(1, std::ios_base::beg, in | out), -1);
    EXPECT_EQ(appending.rdbuf()->pubseekoff(0, std::ios_base::beg, in), 0);
    appending << "def";
    EXPECT_EQ(as_string(appending.rdbuf()->view()), "abcdef") << "app always writes at the end";
}

TEST(memstream, put_back) {
    const char bytes[] = "ab";
    vd::imemstream view(bytes, 2);
    auto* buffer = view.rdbuf();
    EXPECT_EQ(buffer->sungetc(), std::char_traits<char>::eof()) << "nothing read yet";
    EXPECT_EQ(buffer->sbumpc(), 'a');
    EXPECT_EQ(buffer->sputbackc('x'), std::char_traits<char>::eof()) << "a view is never written";
    EXPECT_EQ(buffer->sputbackc('a'), 'a');
    EXPECT_EQ(buffer->sgetc(), 'a');

    vd::memstream owned(in | out);
    owned << "ab";
    EXPECT_EQ(owned.rdbuf()->sbumpc(), 'a');
    EXPECT_EQ(owned.rdbuf()->sputbackc('z'), 'z');
    EXPECT_EQ(as_string(owned.rdbuf()->view()), "zb");
}

TEST(memstream, move_assignment_takes_the_other_buffer) {
    vd::memstream target(in | out);
    target << "old";
    vd::memstream source(in | out);
    source << "new bytes";
    target = std::move(source);
    EXPECT_EQ(as_string(target.rdbuf()->view()), "new bytes");
    EXPECT_EQ(source.rdbuf()->view().second, 0u);
    std::string word;
    target >> word;
    EXPECT_EQ(word, "new");
}
