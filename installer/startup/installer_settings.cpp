#include "installer/startup/installer_settings.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/language/language_state.hpp"
#include "installer/startup/installer_texts.hpp"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <fmt/xchar.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Stelvane, major version 8: every product name, key and value name is formed from it.
constexpr std::uint32_t stelvane_product_code = 0x308;

constexpr int french = static_cast<int>(vd::ui_language_french);
constexpr int english = static_cast<int>(vd::ui_language_english);

} // namespace

// The mutex first, so that the product code, set last, is what marks a finished object.
installer_settings::installer_settings()
    : mutex(vd::instance_mutex_name(vd::application_id()).c_str(), false, true) {
    vd::product_code = stelvane_product_code;
}

installer_settings& installer_settings::instance() {
    static installer_settings settings;
    return settings;
}

// Languages the installer does not translate read English; within a translated one an entry
// that is missing, empty or "#" falls back to English, then French.
std::wstring installer_settings::load_string(unsigned id) const {
    int language = static_cast<int>(vd::language_state::instance().language);
    if (!has_translation(language))
        language = english;
    std::wstring_view text = find_resource_string(language, id);
    if (text.empty() && language != french) {
        if (language != english)
            text = find_resource_string(english, id);
        if (text.empty())
            text = find_resource_string(french, id);
    }
    return std::wstring(text);
}

std::wstring installer_settings::title(bool with_product) const {
    std::wstring text = load_string(1000);
    if (with_product) {
        text += L" \u2013 ";
        text += product_name(false);
    }
    return text;
}

bool installer_settings::make_work_folder(std::wstring& error_text) {
    std::error_code ec;
    const auto temporary = fs::temp_directory_path(ec);
    if (ec) {
        error_text = fmt::format(L"{:08x} ({})", static_cast<unsigned>(ec.value()), L"temp_directory_path");
        return false;
    }
    const auto id = boost::uuids::to_wstring(boost::uuids::random_generator()());
    work_folder = (temporary / (L"vandrel_{" + id + L"}")).wstring();
    return true;
}
