#pragma once
// Our INI code, with the semantics of the host's profile-file functions:
// sections and keys compared without regard to case, the first match wins,
// a missing file, section or key gives the default, and a write changes only
// the line it concerns (or adds one), keeping every other byte, comment and
// the order of the file. Files are Windows-1252 (the store of TZeRegistry is
// UTF-8) and keep their line ending, CR LF for new files. Each write replaces
// the file atomically.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hostenv {

// A settings-file error; the message is the German text the user sees.
class EIniFileException : public std::runtime_error {
 public:
  EIniFileException(const std::string& message, int errorCode)
      : std::runtime_error(message), FErrorCode(errorCode) {}
  int ErrorCode() const { return FErrorCode; }  // errno, 0 when none

 private:
  int FErrorCode;
};

// "In %s kann nicht geschrieben werden", as the suite reports a failed
// write, and the same extended by the system's error text and code.
std::string CannotWriteText(const std::string& path);
std::string CannotWriteTextWithCode(const std::string& path, int errorCode);

// The lines of one INI file as bytes (Windows-1252 or UTF-8, untouched).
// Knows nothing of files; TIniFile and TMemIniFile build on it.
class TIniDocument {
 public:
  TIniDocument() = default;
  explicit TIniDocument(std::string_view bytes);

  std::string Bytes() const;

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  // Changes the value of the first matching key, keeping the key's spelling
  // and the blanks around "="; adds key (and section) when missing.
  void Write(std::string_view section, std::string_view key, std::string_view value);
  bool DeleteKey(std::string_view section, std::string_view key);
  bool EraseSection(std::string_view section);
  bool SectionExists(std::string_view section) const;
  std::vector<std::string> Sections() const;
  std::vector<std::string> SectionKeys(std::string_view section) const;
  // Non-blank, non-comment lines of the section as they stand (trimmed).
  std::vector<std::string> SectionLines(std::string_view section) const;
  // Replaces the body of the section (created when missing) by `lines`.
  void ReplaceSection(std::string_view section, const std::vector<std::string>& lines);

  // Case-insensitive comparison of Windows-1252 text as the host does it.
  static bool SameName(std::string_view a, std::string_view b);

 private:
  struct Line {
    std::string text;  // without terminator
    std::string eol;   // "\r\n", "\n", "\r" or "" (last line)
  };
  // [begin, end) line range of a section's body; npos begin when missing.
  struct Range {
    std::size_t header = std::string::npos;
    std::size_t begin = 0, end = 0;
  };
  Range FindSection(std::string_view section) const;
  std::string NewLineEol() const;
  void EnsureLastLineEnded();

  std::vector<Line> FLines;
};

// The reading rules shared by every settings class.
class TCustomIniFile {
 public:
  virtual ~TCustomIniFile() = default;

  const std::string& FileName() const { return FFileName; }

  virtual std::string ReadString(std::string_view section, std::string_view ident,
                                 std::string_view defaultValue) const = 0;
  virtual void WriteString(std::string_view section, std::string_view ident,
                           std::string_view value) = 0;
  virtual void DeleteKey(std::string_view section, std::string_view ident) = 0;
  virtual void EraseSection(std::string_view section) = 0;
  virtual bool SectionExists(std::string_view section) const = 0;
  virtual std::vector<std::string> ReadSections() const = 0;
  virtual std::vector<std::string> ReadSection(std::string_view section) const = 0;
  virtual std::vector<std::string> ReadSectionValues(std::string_view section) const = 0;

  bool ValueExists(std::string_view section, std::string_view ident) const;
  // At most maxChars characters of the value, as a fixed buffer cuts it.
  std::string ReadStringCut(std::string_view section, std::string_view ident,
                            std::string_view defaultValue, std::size_t maxChars) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view ident,
                           std::int32_t defaultValue) const;
  void WriteInteger(std::string_view section, std::string_view ident, std::int32_t value);
  // True when the value begins with 1, J, T, Y, j, t or y; missing gives default.
  virtual bool ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const;
  void WriteBool(std::string_view section, std::string_view ident, bool value);
  // Lenient reading of "12,50", "-3.75", " 7 "; see ParseLenientDouble.
  double ReadDouble(std::string_view section, std::string_view ident, double defaultValue) const;

 protected:
  explicit TCustomIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
  std::string FFileName;
};

// The lenient number reading of the settings classes. Nullopt when the value
// ends in a character that does not belong to a number (give the default);
// throws EConvertError-like std::invalid_argument when what was collected is
// no number at all (nothing, a lone "-" or a lone separator).
std::optional<double> ParseLenientDouble(std::string_view text);

// A settings file on disk: every read and write goes to the file at once.
class TIniFile : public TCustomIniFile {
 public:
  enum class TEncoding { Windows1252, Utf8 };
  explicit TIniFile(std::string fileName, TEncoding encoding = TEncoding::Windows1252);

  std::string ReadString(std::string_view section, std::string_view ident,
                         std::string_view defaultValue) const override;
  // Throws EIniFileException "In <file> kann nicht geschrieben werden".
  void WriteString(std::string_view section, std::string_view ident,
                   std::string_view value) override;
  void DeleteKey(std::string_view section, std::string_view ident) override;
  void EraseSection(std::string_view section) override;
  bool SectionExists(std::string_view section) const override;
  std::vector<std::string> ReadSections() const override;
  std::vector<std::string> ReadSection(std::string_view section) const override;
  std::vector<std::string> ReadSectionValues(std::string_view section) const override;
  // Replaces the section's body by the lines (key=value), in one write.
  void WriteSectionBlock(std::string_view section, const std::vector<std::string>& lines);

  // The file as a document; an unreadable or missing file reads as empty.
  TIniDocument Load() const;

 protected:
  // errno of the last failed write (0 when it succeeded).
  int FLastWriteError = 0;
  void Store(const TIniDocument& doc);
  // Load, change and store under the file's write lock; `change` returns
  // false when nothing needs writing.
  void Modify(const std::function<bool(TIniDocument&)>& change);
  std::string ToFile(std::string_view utf8) const;
  std::string FromFile(std::string_view bytes) const;

 private:
  TEncoding FEncoding;
};

// The whole file read into memory when created; reads only touch memory.
class TMemIniFile : public TCustomIniFile {
 public:
  explicit TMemIniFile(std::string fileName);

  std::string ReadString(std::string_view section, std::string_view ident,
                         std::string_view defaultValue) const override;
  // Changes memory only; UpdateFile writes it.
  void WriteString(std::string_view section, std::string_view ident,
                   std::string_view value) override;
  void DeleteKey(std::string_view section, std::string_view ident) override;
  void EraseSection(std::string_view section) override;
  bool SectionExists(std::string_view section) const override;
  std::vector<std::string> ReadSections() const override;
  std::vector<std::string> ReadSection(std::string_view section) const override;
  std::vector<std::string> ReadSectionValues(std::string_view section) const override;
  void UpdateFile();

 private:
  TIniDocument FDoc;
};

}  // namespace hostenv
