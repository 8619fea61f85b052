#include "installer/payload/file_check.hpp"

#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <boost/crc.hpp>

#include <chrono>
#include <random>
#include <thread>

#include <windows.h>

using testing_support::test_folder;
using testing_support::write_file;

TEST(file_check, crc_of_known_contents) {
    test_folder folder;
    write_file(folder / "abc.txt", "abc");
    write_file(folder / "empty.bin", "");
    write_file(folder / "block.bin", std::string(4096, '\x5A'));
    write_file(folder / "longer.bin", std::string(4097, '\x5A'));

    EXPECT_EQ(crc_of_file(folder / "abc.txt"), 0x352441C2u);
    EXPECT_EQ(crc_of_file(folder / "empty.bin"), 0u);
    const auto block = crc_of_file(folder / "block.bin");
    EXPECT_NE(block, crc_of_file(folder / "longer.bin")) << "every byte counts, the last short block too";
    EXPECT_EQ(read_file_crc(folder / "block.bin"), block);
    write_file(folder / L"\u00DCn\u00EFc\u00F8d\u00E9 \u20AC.txt", "abc");
    EXPECT_EQ(crc_of_file(folder / L"\u00DCn\u00EFc\u00F8d\u00E9 \u20AC.txt"), 0x352441C2u);
}

// The read-back uses zlib's CRC-32; the payload's records carry boost::crc_32_type's. Both
// must agree on every length, whole or fed in uneven pieces, in memory and read from disk.
TEST(file_check, zlib_and_boost_give_the_same_crc) {
    EXPECT_EQ(crc32_update(0, "abc", 3), 0x352441C2u);
    EXPECT_EQ(crc32_update(0, "", 0), 0u);

    test_folder folder;
    std::mt19937 random(20261207);
    for (const std::size_t length : {1u, 7u, 4095u, 4096u, 4097u, 65537u, 1000003u}) {
        std::string data(length, '\0');
        for (auto& c : data)
            c = static_cast<char>(random());
        boost::crc_32_type expected;
        expected.process_bytes(data.data(), data.size());

        std::uint32_t pieces = 0;
        for (std::size_t at = 0, piece = 1; at < length; at += piece, piece = piece * 3 + 1)
            pieces = crc32_update(pieces, data.data() + at, std::min(piece, length - at));
        EXPECT_EQ(pieces, expected.checksum()) << length << " bytes in pieces";

        write_file(folder / "random.bin", data);
        EXPECT_EQ(crc_of_file(folder / "random.bin"), expected.checksum()) << length << " bytes read back";
    }
}

TEST(file_check, missing_file_fails_at_once_with_the_os_error_kept) {
    test_folder folder;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(crc_of_file(folder / "missing.bin"), std::ios_base::failure);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900)) << "no retry";

    try {
        read_file_crc(folder / "missing.bin");
    } catch (const std::ios_base::failure&) {
        EXPECT_EQ(_doserrno, ERROR_FILE_NOT_FOUND);
    }
}

// A sharing violation comes out as system error 32, so that crc_of_file's retry sees it.
TEST(file_check, sharing_violation_is_retried_until_the_file_is_free) {
    test_folder folder;
    const auto file = folder / "locked.bin";
    write_file(file, "abc");
    vd::unique_file lock{::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(lock);

    try {
        read_file_crc(file);
        FAIL() << "a locked file was read";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
    }

    std::thread release([lock = std::move(lock)]() mutable {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        lock.reset();
    });
    EXPECT_EQ(crc_of_file(file), 0x352441C2u);
    release.join();
}
