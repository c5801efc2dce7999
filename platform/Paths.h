#pragma once
// Paths on disk. Names the host forms or reads from settings (KONTO.DBF,
// Konto.ini, zempa01.ini, ...) are matched without regard to case against
// what is on disk, so an installation copied from Windows works as it is.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr char kPathSep = '/';

// Turns every "\" and "/" into the platform separator (settings values may
// use either).
std::string NativeSeparators(std::string_view path);

// a + separator + b, without doubling a separator.
std::string JoinPath(std::string_view a, std::string_view b);

std::string FileNamePart(std::string_view path);     // after the last separator
std::string DirectoryPart(std::string_view path);    // up to and with the last separator
std::string ExtensionPart(std::string_view path);    // ".dbf", or empty
std::string ChangeExtension(std::string_view path, std::string_view ext);

// The entry of `dir` whose name equals `name` without regard to ASCII case;
// an exact match wins over a case-insensitive one. Nullopt when none.
std::optional<std::string> FindNoCase(std::string_view dir, std::string_view name);

// `path` with its last component matched without regard to case on disk
// when an exact match does not exist (the directory part is matched the same
// way, component by component). When nothing matches, `path` as given, so
// that new files get the name as the system forms it.
std::string ResolveNoCase(std::string_view path);

bool FileExists(std::string_view path);       // a regular file (links followed)
bool DirectoryExists(std::string_view path);
bool IsRegularFile(std::string_view path);

// Entries of a directory (names only, "." and ".." left out); empty on error.
std::vector<std::string> ListDirectory(std::string_view dir);

std::string CurrentDirectory();

}  // namespace platform
