#include "e2e/file_holder.hpp"

#include <string_view>

#include <windows.h>

namespace e2e {

file_holder::file_holder(std::filesystem::path file, std::string awaited)
    : file_(std::move(file)), awaited_(std::move(awaited)), watcher_([this] { watch(); }) {}

file_holder::~file_holder() {
    release();
}

bool file_holder::release() {
    stop_ = true;
    if (watcher_.joinable())
        watcher_.join();
    const bool was_held = static_cast<bool>(held_);
    held_.reset();
    return was_held;
}

// The file is looked at sharing everything, so that the installer's own work on it never fails
// for the look; only the hold, taken from the look, refuses its deletion.
void file_holder::watch() {
    std::string bytes(awaited_.size() + 1, '\0');
    while (!stop_ && !held_) {
        const vd::unique_file look(::CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD read = 0;
        if (look && ::ReadFile(look.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            std::string_view(bytes.data(), read) == awaited_)
            held_.reset(::ReOpenFile(look.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
        else
            ::Sleep(1);
    }
}

} // namespace e2e
