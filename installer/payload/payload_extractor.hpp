// Turns the payload into files: a Boost.Iostreams sink at the end of the bzip2 decompression
// chain that gathers the header, works out every file's target, writes each file as its bytes
// arrive, reads it back for its CRC-32 and reports every step to a callback.
#pragma once

#include "installer/payload/notification.hpp"
#include "installer/payload/payload_file.hpp"
#include "foundation/streams/memstream.hpp"
#include "foundation/system/unique_any.hpp"

#include <boost/iostreams/categories.hpp>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class payload_extractor {
public:
    using char_type = char;
    using category = boost::iostreams::sink_tag;

    struct shared_folder {
        std::wstring folder;
        bool granted = false;
    };

    payload_extractor(std::wstring install_folder, std::wstring samples_folder, std::wstring temporary_folder);
    payload_extractor(const payload_extractor&) = delete;
    payload_extractor& operator=(const payload_extractor&) = delete;

    void set_callback(extraction_callback callback) { callback_ = std::move(callback); }

    // Takes all n bytes (a sink that took fewer could lose the rest at the chain's final
    // flush), crossing record boundaries as needed. After a failure it drops what it gets.
    std::streamsize write(const char* data, std::streamsize n);

    // Every byte of the payload has arrived: header_size plus the sum of the sizes.
    bool complete() const noexcept { return total_ != 0 && consumed_ == total_; }
    std::uint64_t total() const noexcept { return total_; }
    const std::vector<payload_file>& records() const noexcept { return records_; }

    // Boost's chain swallows a sink's exception while it flushes and closes, and may report
    // another in its place: the failure that really ended the extraction is kept here.
    void rethrow_failure() const;

    // The record whose bytes are being written, from its file_begins until its file_done
    // has been answered, or whose target is being looked at and journalled before that (until
    // its file_begins is answered); null between records.
    const payload_file* record_in_progress() const noexcept;

    // Folder templates and shared folders.
    std::filesystem::path expand_folder_template(const std::wstring& folder_template);
    void add_shared_folder(const std::filesystem::path& folder);
    // The target opened to be written, its folders made; below a folder users may change
    // (checked_below), through checked handles (linked_folders.hpp). Truncated.
    vd::unique_file open_target(const std::filesystem::path& target, const std::wstring& checked_below = {});
    void grant_shared_folders(const std::filesystem::path& folder, const std::wstring& checked_below = {});
    // The listed folders, in the order first listed.
    std::vector<shared_folder> shared_folders() const;

private:
    std::streamsize gather_header(const char* data, std::streamsize n);
    void header_complete();
    std::streamsize write_record(const char* data, std::streamsize n);
    void begin_record();
    void finish_record();
    void begin_empty_records();
    void write_pending();
    notification::result tell(notification message);
    void tell_or_stop(notification message);
    std::filesystem::path template_base(const std::wstring& name);
    std::size_t shared_node_of(const std::filesystem::path& folder);
    std::size_t shared_child(std::size_t parent, const std::wstring& name, bool add);
    void list_shared(std::size_t node);
    struct listed_above {
        std::size_t listed = 0;  // index in listed_
        std::size_t length = 0;  // of the folder's text in the normal form it was found in
    };
    struct folders_above {
        std::vector<listed_above> listed;
        // The length of the text of the folder that everything below it is checked against:
        // the one above the outermost listed folder, or the outermost base that users may
        // write below.
        std::optional<std::size_t> checked_below;
    };
    folders_above shared_folders_above(const std::filesystem::path& form);
    // Below a shared folder or a folder that users may write below, nothing is created,
    // written or granted through a link (see linked_folders.hpp): the folder checked against,
    // or empty.
    std::wstring checked_base_of(const std::filesystem::path& file);
    void guard_below(const std::filesystem::path& folder);

    std::wstring install_folder_;
    std::wstring samples_folder_;
    std::wstring temporary_folder_;
    std::vector<payload_file> records_;
    std::uint64_t header_size_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t total_ = 0;
    std::unique_ptr<vd::memstream> header_;
    vd::unique_file file_;
    const payload_file* checking_ = nullptr;
    // The decompressor hands over at most 4096 bytes at a time, and std::filebuf passes a
    // piece of that size straight to the system: gathered here first, a file's bytes reach
    // the file system in a few large writes instead of thousands of small ones.
    std::vector<char> pending_;
    extraction_callback callback_;
    std::uint32_t next_record_ = 0;
    std::optional<std::uint64_t> remaining_;
    bool skipped_ = false;
    bool failed_ = false;
    std::exception_ptr failure_;
    static constexpr std::size_t no_listing = static_cast<std::size_t>(-1);
    // The shared folders, as a tree of the elements of their normal forms (node 0 above every
    // root): listing a folder below one already known, and finding the listed folders above a
    // file's folder, take a step per element, however deep the folders and however many.
    struct shared_node {
        std::size_t parent = 0;
        std::wstring name;
        std::size_t listed = no_listing;
        // Users may make and change what lies below this folder.
        bool guards_below = false;
    };
    struct listed_folder {
        std::size_t node = 0;
        bool granted = false;
    };
    std::vector<shared_node> shared_nodes_;
    // A node's parent and the form of its name -> the node.
    std::unordered_map<std::string, std::size_t> shared_children_;
    std::vector<listed_folder> listed_;
    std::size_t ungranted_ = 0;
};

// Extracts the stored payload that the stream stands at. True when every file was written
// and verified (or skipped) and the byte counts add up; false after notification::error.
bool extract_payload(std::istream& stream, std::wstring install_folder, std::wstring samples_folder,
                     std::wstring temporary_folder, extraction_callback callback);

// A dry run: decompresses the whole stream, writing nothing. Leaves the stream at its end.
bool verify_payload(std::istream& stream);
