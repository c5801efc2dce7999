#pragma once
// The suite's settings-file classes: the right copy of a file (program
// directory, registry program path, or the user's own copy in a remote
// session), string writes that retry and report in the suite's words, and
// section operations.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostenv/IniFile.h"

namespace hostenv {

class TZeIniFile : public TIniFile {
 public:
  // Works on exactly this path (resolved without regard to case on disk).
  explicit TZeIniFile(std::string path);

  // FileName is a bare file name. Base directory: the registry's ProgPath
  // when IsPackage, else the program directory. In a remote session the
  // user's own copy in <per-user folder>/ZempaPro/ is used, copied from the
  // base directory first when CopyIfTerminal and no copy exists yet.
  static std::unique_ptr<TZeIniFile> CreateEx(const std::string& FileName, bool IsTerminal,
                                              bool CopyIfTerminal, bool IsPackage);

  // Empty section or ident: nothing. A failed write is tried five times,
  // 200 ms apart; then the error is shown through the user dialog and the
  // caller goes on.
  void WriteString(std::string_view section, std::string_view ident,
                   std::string_view value) override;
  // The plain write without retries; throws EIniFileException.
  void WriteStringPlain(std::string_view section, std::string_view ident, std::string_view value);
  // German number text ("12,5"), as the host's locale writes it.
  void WriteDouble(std::string_view section, std::string_view ident, double value);
  // The value as Windows-1252 bytes.
  std::string ReadAnsiString(std::string_view section, std::string_view ident,
                             std::string_view defaultValue) const;
  // Erases the section and writes each line as a key with an empty value.
  void WriteSection(std::string_view section, const std::vector<std::string>& strings);
  // key=value lines of the section; the whole block is cut at 65,536 characters.
  std::vector<std::string> ReadSectionValues(std::string_view section) const override;
  // Replaces the section by the lines in one write; throws EIniFileException
  // with the system's error text and code when it fails.
  void WriteSectionValues(std::string_view section, const std::vector<std::string>& strings);

  // Pause between write attempts (tests shorten it).
  static int RetryPauseMillis;
};

// The control file "ZETEMP.INI". Its window-placement operations are not
// needed by this program.
class TZeCtrlIniFile : public TZeIniFile {
 public:
  using TZeIniFile::TZeIniFile;
  static std::unique_ptr<TZeCtrlIniFile> CreateEx(const std::string& FileName, bool IsTerminal,
                                                  bool CopyIfTerminal, bool IsPackage);
};

// Read many options quickly: the file is read once when created.
class TZeMemIniFile : public TMemIniFile {
 public:
  using TMemIniFile::TMemIniFile;
};

}  // namespace hostenv
