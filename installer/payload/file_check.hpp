// Reads a written file back from disk and computes its CRC-32 (CRC-32/ISO-HDLC).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>

// CRC-32/ISO-HDLC of size bytes, continuing from crc (0 to start): the values of
// boost::crc_32_type, from zlib's faster table-driven code.
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t size) noexcept;

// One attempt. Failures are std::ios_base::failure with the OS error left in the C
// runtime's _doserrno/errno, except a sharing violation, which is thrown as system error
// 32 so that crc_of_file can wait for the other process to let go of the file.
std::uint32_t read_file_crc(const std::filesystem::path& file);

// read_file_crc with up to three more attempts, one second apart, on a sharing violation.
std::uint32_t crc_of_file(const std::filesystem::path& file);

// Whether failure is a std::system_error or a boost::system::system_error of system error 32.
bool is_sharing_violation(const std::exception& failure) noexcept;
void wait_one_second();

// How a retry waits its second: asleep, or, on the wizard's thread, answering its messages.
using retry_wait = void (*)();

// A program that holds a file without sharing what is asked of it (a scanner, a viewer) mostly
// lets go within moments: attempt runs up to three more times, one second apart, while it
// throws a sharing violation. Any other failure, and the last, is thrown on.
template <class Attempt>
auto retry_while_shared(Attempt attempt, retry_wait wait = wait_one_second) {
    for (int attempts_left = 3;; --attempts_left) {
        try {
            return attempt();
        } catch (const std::exception& failure) {
            if (!is_sharing_violation(failure) || attempts_left == 0)
                throw;
        }
        wait();
    }
}

// The CRC-32 of the whole file that the handle holds (opened with GENERIC_READ), read from its
// start through that handle. Throws std::system_error.
std::uint32_t crc_of_held_file(void* file);
