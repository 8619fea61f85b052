// payload_check [--quiet] PAYLOAD INSTALL_FOLDER
// Verifies a stored payload in a dry run, then extracts it with INSTALL_FOLDER as
// <InstallPath> (and as <Temporary>); the other templates resolve to their shell folders.
// Prints one line per notification (--quiet leaves out the progress lines) and exits 0 only
// when the extraction succeeded. The last lines give the time of each phase and the peak
// working set, for benchmarks.
#include "installer/payload/payload_extractor.hpp"
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

std::string describe(const payload_file* file) {
    return file ? vd::wide_to_utf8(file->target) : std::string("?");
}

struct printer {
    bool quiet;

    void operator()(const notification::start&) const { std::puts("start"); }
    void operator()(const notification::finished& n) const {
        std::printf("finished %llu %llu\n", static_cast<unsigned long long>(n.done), static_cast<unsigned long long>(n.total));
    }
    void operator()(const notification::file_begins& n) const { std::printf("file_begins %s\n", describe(n.file).c_str()); }
    void operator()(const notification::file_done& n) const { std::printf("file_done %s\n", describe(n.file).c_str()); }
    void operator()(const notification::progress& n) const {
        if (!quiet)
            std::printf("progress %llu %llu\n", static_cast<unsigned long long>(n.done), static_cast<unsigned long long>(n.total));
    }
    void operator()(const notification::error& n) const {
        std::printf("error %s:%d %s\n", n.code.category().name(), n.code.value(), vd::wide_to_utf8(n.text).c_str());
    }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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
        std::fprintf(stderr, "payload_check: cannot open %s\n", payload.string().c_str());
        return 2;
    }

    auto started = std::chrono::steady_clock::now();
    const bool verified = verify_payload(stream);
    std::printf("verify %s %.3f s\n", verified ? "ok" : "failed", seconds_since(started));
    if (!verified)
        return 1;

    stream.clear();
    stream.seekg(0);
    started = std::chrono::steady_clock::now();
    const bool extracted = extract_payload(stream, install_folder, L"", L"", [quiet](notification n) {
        std::visit(printer{quiet}, static_cast<const notification::variant&>(n));
        return notification::result::proceed;
    });
    std::printf("extract %s %.3f s\n", extracted ? "ok" : "failed", seconds_since(started));

    PROCESS_MEMORY_COUNTERS memory{};
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory))
        std::printf("peak working set %.1f MiB\n", memory.PeakWorkingSetSize / 1048576.0);
    return extracted ? 0 : 1;
}
