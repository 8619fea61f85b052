// Folder templates of payload records ("<CommonData>\Vandrel", "<InstallPath>", ...) and the
// shell folders behind them. The template expansion itself is a member of payload_extractor,
// which holds the three given folders and the list of shared folders.
#pragma once

#include <filesystem>
#include <optional>

// A shell folder by its CSIDL number, or the fallback's when the first is empty; compress
// error 7 when both are empty.
std::filesystem::path shell_folder_path(int csidl, std::optional<int> fallback = std::nullopt);

// Throws std::system_error ERROR_FILENAME_EXCED_RANGE when a name on target's path is longer
// than any file system of Windows keeps one (255 characters).
void refuse_overlong_names(const std::filesystem::path& target);
