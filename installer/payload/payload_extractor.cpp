#include "installer/payload/payload_extractor.hpp"

#include "installer/payload/compress_error.hpp"
#include "installer/payload/extraction_failure.hpp"
#include "installer/payload/file_check.hpp"
#include "installer/payload/folder_templates.hpp"
#include "installer/payload/linked_folders.hpp"
#include "foundation/errors/error.hpp"

#include <boost/core/ref.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/null.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <algorithm>
#include <cstring>

namespace io = boost::iostreams;

namespace {

constexpr std::streamsize buffer_size = 4096;
constexpr std::size_t write_size = 64 * 1024;
constexpr std::uint64_t header_size_bytes = 8;

// Decompresses the stored stream into the sink in pieces of at most 4096 bytes; returns the
// number of stored bytes read. Closing the chain ends the bzip2 stream, so a stream cut
// short fails here rather than passing for a complete one.
template <class Sink>
std::streamsize decompress(std::istream& stream, Sink& sink) {
    io::filtering_ostream chain;
    chain.push(io::bzip2_decompressor(), buffer_size);
    chain.push(boost::ref(sink), buffer_size);
    const auto read = io::copy(stream, chain, buffer_size);
    chain.reset();
    return read;
}

} // namespace

payload_extractor::payload_extractor(std::wstring install_folder, std::wstring samples_folder,
                                     std::wstring temporary_folder)
    : install_folder_(std::move(install_folder)),
      samples_folder_(std::move(samples_folder)),
      temporary_folder_(std::move(temporary_folder)),
      header_(std::make_unique<vd::memstream>(std::ios::in | std::ios::out | std::ios::binary)) {
    pending_.reserve(write_size);
    shared_nodes_.emplace_back();
}

const payload_file* payload_extractor::record_in_progress() const noexcept {
    return remaining_ ? &records_[next_record_ - 1] : checking_;
}

std::streamsize payload_extractor::write(const char* data, std::streamsize n) {
    if (failed_)
        return n;
    try {
        for (std::streamsize taken = 0; taken < n;)
            taken += next_record_ == 0 ? gather_header(data + taken, n - taken) : write_record(data + taken, n - taken);
        clear_runtime_errors();
        return n;
    } catch (...) {
        failed_ = true;
        failure_ = std::current_exception();
        throw;
    }
}

void payload_extractor::rethrow_failure() const {
    if (failure_)
        std::rethrow_exception(failure_);
}

notification::result payload_extractor::tell(notification message) {
    return callback_ ? callback_(std::move(message)) : notification::result::proceed;
}

void payload_extractor::tell_or_stop(notification message) {
    if (tell(std::move(message)) == notification::result::stop)
        throw_compress_error(compress_error::interrupted);
}

std::streamsize payload_extractor::gather_header(const char* data, std::streamsize n) {
    const auto gathered = static_cast<std::uint64_t>(header_->rdbuf()->view().second);
    const auto wanted = gathered < header_size_bytes ? header_size_bytes : header_size_;
    const auto take = static_cast<std::streamsize>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), wanted - gathered));
    header_->write(data, take);
    const auto now = gathered + static_cast<std::uint64_t>(take);
    if (now == header_size_bytes && gathered < header_size_bytes) {
        std::memcpy(&header_size_, header_->rdbuf()->view().first, sizeof header_size_);
        check_header_size(header_size_);
    } else if (now == header_size_) {
        header_complete();
    }
    return take;
}

void payload_extractor::header_complete() {
    header_->seekg(static_cast<std::streamoff>(header_size_bytes));
    records_ = read_payload_records(*header_, header_size_);
    header_.reset();
    for (auto& record : records_)
        record.target = append_checked(expand_folder_template(record.target), record.file_name()).wstring();
    // Once every template has listed its folders.
    for (auto& record : records_)
        record.checked_below = checked_base_of(record.target);
    total_ = payload_total(header_size_, records_);
    consumed_ = header_size_;
    tell_or_stop(notification::progress{consumed_, total_});
    next_record_ = 1;
    begin_empty_records();
}

std::streamsize payload_extractor::write_record(const char* data, std::streamsize n) {
    if (next_record_ - 1 >= records_.size())
        throw_compress_error(compress_error::unexpected);  // bytes beyond the last file
    if (!remaining_)
        begin_record();
    const auto take = static_cast<std::streamsize>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), *remaining_));
    if (!skipped_) {
        pending_.insert(pending_.end(), data, data + take);
        if (pending_.size() >= write_size)
            write_pending();
    }
    *remaining_ -= static_cast<std::uint64_t>(take);
    consumed_ += static_cast<std::uint64_t>(take);
    tell_or_stop(notification::progress{consumed_, total_});
    if (*remaining_ == 0) {
        finish_record();
        begin_empty_records();
    }
    return take;
}

void payload_extractor::begin_record() {
    const auto& record = records_[next_record_ - 1];
    // Checked before the callback, which journals the file and makes its folders. A failure of
    // either names the file; a stop does not.
    checking_ = &record;
    refuse_overlong_names(record.target);
    if (!record.checked_below.empty())
        refuse_linked(record.checked_below, record.target);
    const auto answer = tell(notification::file_begins{&record});
    checking_ = nullptr;
    if (answer == notification::result::stop)
        throw_compress_error(compress_error::interrupted);
    remaining_ = record.size;
    skipped_ = answer == notification::result::skip;
    if (!skipped_) {
        file_ = open_target(record.target, record.checked_below);
    }
}

void payload_extractor::finish_record() {
    const auto& record = records_[next_record_ - 1];
    if (!skipped_) {
        write_pending();
        // Read back through the handle it was written through: the name may lead elsewhere now.
        const auto crc = crc_of_held_file(file_.get());
        file_.reset();
        if (crc != record.crc)
            throw_compress_error(compress_error::invalid_checksum);
        tell_or_stop(notification::file_done{&record});
    }
    ++next_record_;
    remaining_.reset();
    skipped_ = false;
}

void payload_extractor::write_pending() {
    for (std::size_t written = 0; written < pending_.size();) {
        DWORD piece = 0;
        if (!::WriteFile(file_.get(), pending_.data() + written, static_cast<DWORD>(pending_.size() - written), &piece, nullptr))
            vd::throw_system_error();
        written += piece;
    }
    pending_.clear();
}

// Records without content get no bytes of their own: they are created (or skipped) as soon
// as their turn comes, so an empty file is never lost, last in the payload or not.
void payload_extractor::begin_empty_records() {
    while (next_record_ - 1 < records_.size() && records_[next_record_ - 1].size == 0) {
        begin_record();
        finish_record();
    }
}

bool extract_payload(std::istream& stream, std::wstring install_folder, std::wstring samples_folder,
                     std::wstring temporary_folder, extraction_callback callback) {
    std::wstring text;
    try {
        callback(notification::start{});
        payload_extractor extractor(std::move(install_folder), std::move(samples_folder), std::move(temporary_folder));
        extractor.set_callback(callback);
        try {
            clear_runtime_errors();
            std::streamsize read = 0;
            try {
                read = decompress(stream, extractor);
            } catch (...) {
                extractor.rethrow_failure();
                throw;
            }
            extractor.rethrow_failure();
            if (!extractor.complete())
                throw_compress_error(compress_error::unexpected);
            callback(notification::finished{static_cast<std::uint64_t>(read), extractor.total()});
            return true;
        } catch (...) {
            if (const auto* record = extractor.record_in_progress())
                text = record->target;
            throw;
        }
    } catch (const std::exception& e) {
        auto [code, message] = describe_extraction_failure(e, std::move(text));
        callback(notification::error{code, std::move(message)});
        return false;
    }
}

bool verify_payload(std::istream& stream) {
    try {
        io::null_sink nothing;
        decompress(stream, nothing);
    } catch (...) {
        return false;
    }
    return stream.rdstate() == std::ios::goodbit &&
           std::istream::traits_type::eq_int_type(stream.rdbuf()->sgetc(), std::istream::traits_type::eof());
}
