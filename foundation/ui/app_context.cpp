#include "foundation/ui/app_context.hpp"

#include <utility>

#include "foundation/language/version_info.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/ui/window.hpp"

namespace vd {

namespace {

struct hooks {
    app_context::caption_hook caption;
    app_context::icon_hook icon;
    app_context::module_hook module;
    app_context::quiet_hook quiet;
    app_context::owner_hook owner;
    app_context::modal_hook modal;
};

hooks& installed() {
    static hooks instance;
    return instance;
}

} // namespace

std::wstring app_context::caption() {
    if (const auto& hook = installed().caption)
        return hook();
    std::wstring text = module_version_info().version_text();
    if (text.empty())
        text = module_path().stem().wstring();
    return text;
}

HICON app_context::icon() {
    const auto& hook = installed().icon;
    return hook ? hook() : nullptr;
}

HMODULE app_context::module_handle() {
    const auto& hook = installed().module;
    return hook ? hook() : ::GetModuleHandleW(nullptr);
}

bool app_context::quiet_mode() {
    const auto& hook = installed().quiet;
    return hook ? hook() : false;
}

modal_owner app_context::owner_window() {
    const auto& hook = installed().owner;
    return hook ? hook() : modal_owner{active_window(), nullptr};
}

void app_context::notify_modal(bool closed) {
    if (const auto& hook = installed().modal)
        hook(closed);
}

void app_context::set_caption(caption_hook hook) { installed().caption = std::move(hook); }
void app_context::set_icon(icon_hook hook) { installed().icon = std::move(hook); }
void app_context::set_module_handle(module_hook hook) { installed().module = std::move(hook); }
void app_context::set_quiet_mode(quiet_hook hook) { installed().quiet = std::move(hook); }
void app_context::set_owner_window(owner_hook hook) { installed().owner = std::move(hook); }
void app_context::set_modal_notification(modal_hook hook) { installed().modal = std::move(hook); }

} // namespace vd
