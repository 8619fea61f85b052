// What an installation leaves on the machine, read back the way an outsider sees it: the
// payload's files by their own records, the links through the shell, the registry values, the
// journal's lines and the stand-in's registration log. Nothing here uses the installer's own
// code for the reading; the payload's layout alone comes from the test support.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>

#include <string>
#include <tuple>
#include <vector>

#include <windows.h>
#include <shtypes.h>

#include "support/payload_support.hpp"

namespace e2e {

// The payload the installer carries, read from its resource 260/134.
testing_support::parsed_payload payload_of(const std::filesystem::path& setup);

// A copy of the installer whose payload resource holds stored instead.
void write_setup_with_payload(const std::filesystem::path& setup, const std::filesystem::path& copy,
                              const std::string& stored);

std::filesystem::path known_folder(const KNOWNFOLDERID& id);

// Where a record lands: its folder template resolved for an installation into the folder, with
// the samples folder of that name on the public desktop. A record of the work folder has no
// lasting place: empty.
std::filesystem::path target_of(const payload_file& record, const std::filesystem::path& install_folder,
                                const std::wstring& samples_name);

std::uint32_t file_crc(const std::filesystem::path& file);

// The link's target as the shell reads it.
std::wstring link_target(const std::filesystem::path& link);

// The two links an installation makes.
std::filesystem::path start_menu_link();
std::filesystem::path desktop_link();

// A registry key's values by name: type, then data.
using registry_values = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;
registry_values values_of(HKEY root, const std::wstring& subkey);
std::wstring string_value(const registry_values& values, const std::wstring& name);
std::optional<DWORD> dword_value(const registry_values& values, const std::wstring& name);

// A file tree's files by path: size, CRC-32 and attributes; empty for a missing folder.
using tree_snapshot = std::map<std::wstring, std::tuple<std::uintmax_t, std::uint32_t, DWORD>>;
tree_snapshot snapshot(const std::filesystem::path& folder);

// Removes what tells a later run that the product is installed: its Uninstall key and the
// program path value.
void forget_installation();

// Removes a tree whose files may be read-only; nothing for a missing one.
void remove_tree(const std::filesystem::path& folder);

// A journal file: whether it begins with the UTF-16 LE mark and uses CR LF only, and its lines.
struct journal_file {
    bool utf16_with_mark = false;
    bool crlf_only = false;
    std::vector<std::wstring> lines;
};
journal_file read_journal(const std::filesystem::path& file);

struct journal_line {
    std::size_t index;
    unsigned code;
    bool done;
    std::wstring text;
};
// An entry line "0007:0101:1 -- text"; nothing for anything else.
std::optional<journal_line> parse_journal_line(const std::wstring& line);

// The lines of the stand-in's Registration.log, UTF-8 with CR LF.
std::vector<std::wstring> registration_lines(const std::filesystem::path& install_folder);

// The lines of a UTF-8 file with CR LF.
std::vector<std::wstring> utf8_lines(const std::filesystem::path& file);

// Whether a process (an installer) owns the installer's mutex now.
bool installer_mutex_held();

// The system's own temporary folder, where the installer makes its own.
std::filesystem::path system_temp_folder();

// What an installation must not leave in a temporary folder: its work folder and the journal's
// backups, in the user's temporary folder (by name), or in the system's or the installer's own
// there (by path).
std::vector<std::wstring> installation_leftovers();

// The installers' own temporary folders in the system's: one while an installer runs, none once
// it has ended.
std::vector<std::wstring> installer_temp_folders();

} // namespace e2e
