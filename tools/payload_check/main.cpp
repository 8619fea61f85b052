// payload_check [--quiet] PAYLOAD INSTALL_FOLDER
// Tries a stored payload outside the installer, the way the installer extracts it: a dry run
// on the first notification, then the extraction with INSTALL_FOLDER as <InstallPath> (and as
// <Temporary>; the other templates resolve to their shell folders), every file journalled
// before it is written, and a failed extraction rolled back, so that the folders it touched
// are as they were. Prints one line per notification (--quiet leaves out the progress lines)
// and exits 0 only when the extraction succeeded. The last lines give the time of each phase
// and the working set, for benchmarks.
#include "installer/journal/uninstall_log.hpp"
#include "installer/payload/compress_error.hpp"
#include "installer/payload/extraction_failure.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "foundation/errors/error_text.hpp"
#include "foundation/text/conversions.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <windows.h>
#include <psapi.h>

namespace {

using clock_type = std::chrono::steady_clock;

std::string utf8(const std::wstring& text) { return vd::wide_to_utf8(text); }

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

PROCESS_MEMORY_COUNTERS memory_counters() {
    PROCESS_MEMORY_COUNTERS memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    return memory;
}

// What a code means, in words: the system's text of a Win32 code, the category's message of
// any other.
std::string code_message(const std::error_code& code) {
    if (code.category() == std::system_category())
        return utf8(vd::system_message_text(static_cast<DWORD>(code.value()), 0));
    return code.message();
}

class checker {
public:
    checker(std::istream& payload, bool quiet) : payload_(payload), quiet_(quiet) {}

    // As the installer does: the whole payload is decoded once before anything is written.
    notification::result operator()(const notification::start&) {
        std::puts("start");
        const auto started = clock_type::now();
        const bool verified = verify_payload(payload_);
        verify_seconds_ = seconds_since(started);
        if (!verified)
            throw std::system_error(make_error_code(compress_error::verification_failed));
        payload_.clear();
        payload_.seekg(0);
        return notification::result::proceed;
    }
    notification::result operator()(const notification::finished& n) {
        std::printf("finished %llu %llu\n", static_cast<unsigned long long>(n.done), static_cast<unsigned long long>(n.total));
        return notification::result::proceed;
    }
    notification::result operator()(const notification::file_begins& n) {
        std::printf("file_begins %s\n", utf8(n.file->target).c_str());
        journal_.add_file(n.file->target, static_cast<std::int32_t>(n.file->kind), false, n.file->checked_below);
        return notification::result::proceed;
    }
    notification::result operator()(const notification::file_done& n) {
        journal_.set_result(true, L"");
        std::printf("file_done %s\n", utf8(n.file->target).c_str());
        return notification::result::proceed;
    }
    notification::result operator()(const notification::progress& n) {
        if (!quiet_)
            std::printf("progress %llu %llu\n", static_cast<unsigned long long>(n.done), static_cast<unsigned long long>(n.total));
        return notification::result::proceed;
    }
    notification::result operator()(const notification::error& n) {
        journal_.set_result(false, L"");
        std::printf("error %s: %s%s%s\n", utf8(extraction_code_text(n.code)).c_str(), code_message(n.code).c_str(),
                    n.text.empty() ? "" : " -- ", utf8(n.text).c_str());
        return notification::result::stop;
    }

    uninstall_log& journal() noexcept { return journal_; }
    double verify_seconds() const noexcept { return verify_seconds_; }

private:
    std::istream& payload_;
    bool quiet_;
    uninstall_log journal_;
    double verify_seconds_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    const bool quiet = argc > 1 && std::strcmp(argv[1], "--quiet") == 0;
    if (argc - quiet != 3) {
        std::fputs("usage: payload_check [--quiet] PAYLOAD INSTALL_FOLDER\n", stderr);
        return 2;
    }
    const std::filesystem::path payload = argv[1 + quiet];
    const std::wstring install_folder = std::filesystem::absolute(argv[2 + quiet]).wstring();

    std::ifstream stream(payload, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "payload_check: cannot open %s\n", argv[1 + quiet]);
        return 2;
    }

    const auto idle = memory_counters().WorkingSetSize;
    checker check(stream, quiet);
    const auto started = clock_type::now();
    const bool extracted = extract_payload(stream, install_folder, L"", L"", [&check](notification n) {
        return std::visit(check, static_cast<const notification::variant&>(n));
    });
    const double extract_seconds = seconds_since(started) - check.verify_seconds();
    if (extracted) {
        check.journal().delete_backups();
    } else {
        for (const auto& entry : check.journal().rollback())
            std::printf("not undone %s%s%s\n", utf8(entry.path).c_str(), entry.backup.empty() ? "" : " -- backup ",
                        utf8(entry.backup).c_str());
    }

    std::printf("verify %.3f s\n", check.verify_seconds());
    std::printf("extract %s %.3f s\n", extracted ? "ok" : "failed", extract_seconds);
    const auto memory = memory_counters();
    std::printf("working set before verification %.1f MiB\n", idle / 1048576.0);
    std::printf("peak working set %.1f MiB\n", memory.PeakWorkingSetSize / 1048576.0);
    return extracted ? 0 : 1;
}
