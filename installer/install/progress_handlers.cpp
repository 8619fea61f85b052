// dlg_install, continued: the extraction's callback. File by file it decides what to write and
// what to skip, journals what is written, and keeps the status list, the hint and the progress
// bar up to date.
#include "installer/wizard/dlg_install.hpp"

#include "foundation/ui/window.hpp"
#include "installer/payload/compress_error.hpp"
#include "installer/payload/extraction_failure.hpp"
#include "installer/payload/linked_folders.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/message_pump.hpp"

#include <fmt/xchar.h>

#include <algorithm>
#include <filesystem>
#include <istream>

#include <commctrl.h>

namespace {

// Users may read, change and delete the shared files; the grant is not inherited.
constexpr std::uint32_t shared_file_access = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;

// Through a handle of the file itself: a link or a second name put in its place is refused,
// and fails the file, instead of passing the grant on to whatever it leads to.
void grant_users(const payload_file& record) {
    grant_users_on_file(record.checked_below, record.target, shared_file_access);
}

// The previous installation wrote this shared file, and it counts as installed.
bool previously_installed(const uninstall_log& journal, const std::wstring& target) {
    return std::ranges::any_of(journal.previous_entries, [&](const uninstall_log::entry& item) {
        return item.kind == entry_kind::file && item.done && std::filesystem::path(item.path) == std::filesystem::path(target);
    });
}

} // namespace

dlg_install::handler_context& dlg_install::context() const {
    if (!context_)
        throw std::logic_error("no installation is running");
    return *context_;
}

void dlg_install::append_status_word(bool ok) {
    append_status(installer_settings::instance().load_string(ok ? 1011 : 1012) + L"\r\n");
}

void dlg_install::end_step(bool ok) {
    append_status_word(ok);
    flush_status();
}

notification::result dlg_install::on_notification(notification message) {
    const auto& alternatives = static_cast<const notification::variant&>(message);
    const auto answer = std::visit(
        [this](const auto& n) -> notification::result {
            using type = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<type, notification::start>)
                return on_start();
            else if constexpr (std::is_same_v<type, notification::finished>) {
                flush_status();
                return notification::result::proceed;
            }
            else if constexpr (std::is_same_v<type, notification::file_begins>)
                return on_file_begins(*n.file);
            else if constexpr (std::is_same_v<type, notification::file_done>)
                return on_file_done(*n.file);
            else if constexpr (std::is_same_v<type, notification::progress>)
                return on_progress(n.done, n.total);
            else
                return on_error(n.code, n.text);
        },
        alternatives);
    // Looking into an empty queue and setting the cursor again are a round trip to the server
    // each under Wine, some 50 us: for every 4 KB that doubles the time of the inflating. While
    // the bytes flow, the wizard takes its messages 50 times a second, alive all the same.
    auto& installation = context();
    const DWORD now = ::GetTickCount();
    if (std::holds_alternative<notification::progress>(alternatives) && now - installation.last_pump < progress_pump_ms)
        return answer;
    installation.last_pump = now;
    if (now - status_flushed_at_ >= status_flush_ms)
        flush_status();
    pump_messages();
    ::SetCursor(installation.wait_cursor);
    return answer;
}

// Nothing is written before the whole payload has been decoded once.
notification::result dlg_install::on_start() {
    const auto text = installer_settings::instance().load_string(1114);
    set_window_text(hint(), text);
    append_status(text);
    auto& payload = context().payload;
    if (!verify_payload(payload))
        throw std::system_error(make_error_code(compress_error::verification_failed));
    payload.clear();
    payload.seekg(0);
    end_step(true);
    return notification::result::proceed;
}

notification::result dlg_install::on_file_begins(const payload_file& record) {
    auto& settings = installer_settings::instance();
    auto& journal = settings.journal;
    bool backup_by_copy = false;
    switch (static_cast<payload_kind>(record.kind)) {
    case payload_kind::main_program:
        context().program_path = record.target;
        break;
    case payload_kind::uninstaller:
        context().uninstaller_path = record.target;
        break;
    case payload_kind::shared:
        backup_by_copy = true;
        if (settings.state != 0 && previously_installed(journal, record.target)) {
            grant_users(record);
            return notification::result::skip;
        }
        // Already there: kept as it is, and journalled as done, which the uninstaller relies
        // on; nothing overwrites it, so nothing needs a copy. A folder of its name is no such
        // file: the journal fails it with its line.
        if (std::filesystem::exists(record.target) && !std::filesystem::is_directory(record.target)) {
            journal.add_file(record.target, static_cast<std::int32_t>(payload_kind::shared), true, record.checked_below);
            journal.set_result(true, L"");
            grant_users(record);
            return notification::result::skip;
        }
        break;
    case payload_kind::sample:
        if (settings.state == 2)
            return notification::result::skip;
        break;
    case payload_kind::setup_only:
        context().removal_list.push_back(record.target);
        break;
    default:
        break;
    }

    // The line comes first, so that a file the journal refuses (one that cannot be put aside)
    // still shows which file failed.
    const auto text = fmt::format(fmt::runtime(settings.load_string(1115)), record.target);
    set_window_text(hint(), text);
    append_status(text);
    if (record.kind != static_cast<std::uint32_t>(payload_kind::setup_only))
        journal.add_file(record.target, static_cast<std::int32_t>(record.kind), backup_by_copy, record.checked_below);
    return notification::result::proceed;
}

notification::result dlg_install::on_file_done(const payload_file& record) {
    if (record.kind == static_cast<std::uint32_t>(payload_kind::shared))
        grant_users(record);
    if (record.kind != static_cast<std::uint32_t>(payload_kind::setup_only))
        installer_settings::instance().journal.set_result(true, L"");
    append_status_word(true);
    return notification::result::proceed;
}

// The bar reaches 100 only when everything has arrived.
notification::result dlg_install::on_progress(std::uint64_t done, std::uint64_t total) {
    int percent = static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0 + 0.5);
    if (percent == 100 && done < total)
        percent = 99;
    // The bar hears of a new percentage only: some 300 times a percent on a large payload, the
    // message would cost a tenth of the installation under Wine.
    if (context_ && context_->shown_percent == percent)
        return notification::result::proceed;
    ::SendMessageW(progress_bar(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    if (context_)
        context_->shown_percent = percent;
    return notification::result::proceed;
}

// The text (the target) is not shown in the hint: the code tells the causes apart.
notification::result dlg_install::on_error(const std::error_code& code, const std::wstring& target) {
    auto& settings = installer_settings::instance();
    // A file refused before it was announced (one below a linked shared folder) has no line of
    // its own yet: it gets one, so that the list says which file failed.
    if (!target.empty() && status_line_ended())
        append_status(fmt::format(fmt::runtime(settings.load_string(1115)), target));
    settings.journal.set_result(false, L"");
    end_step(false);
    set_window_text(hint(), fmt::format(fmt::runtime(settings.load_string(1121)), extraction_code_text(code)));
    return notification::result::stop;
}
