#include "hostenv/IniFile.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "hostenv/DirText.h"
#include "platform/Encoding.h"
#include "platform/FileLock.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/RawFile.h"

namespace hostenv {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Windows-1252 letters fold like the host's case-insensitive comparison.
unsigned char FoldCase(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
  }
}

bool IsSectionLine(std::string_view t) { return !t.empty() && t.front() == '['; }
bool IsCommentLine(std::string_view t) { return !t.empty() && t.front() == ';'; }

std::string_view SectionNameOf(std::string_view t) {
  t.remove_prefix(1);
  const auto close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  return TrimBlanks(t);
}

// Key of a key line, or nullopt for comments, blank lines and lines without "=".
std::optional<std::string_view> KeyOf(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  if (t.empty() || IsCommentLine(t) || IsSectionLine(t)) return std::nullopt;
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return TrimBlanks(t.substr(0, eq));
}

std::string ValueOf(std::string_view line) {
  std::string_view v = TrimBlanks(line.substr(line.find('=') + 1));
  // A value in matching quotes reads without them.
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string Utf8Cut(std::string_view s, std::size_t maxChars) {
  std::size_t chars = 0, i = 0;
  while (i < s.size()) {
    if (chars == maxChars) return std::string(s.substr(0, i));
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    i += len;
    ++chars;
  }
  return std::string(s);
}

// Serialises the read-change-write of one settings file between processes,
// so that two modules writing different keys at once both keep their value.
// The lock lives on the file itself; a writer that finds the file replaced
// by another one's rename locks the new file instead.
class TWriteLock {
 public:
  explicit TWriteLock(const std::string& path) : path_(path), existed_(platform::FileExists(path)) {
    // Each retry means another writer finished meanwhile, so this ends.
    for (;;) {
      if (!lock_.Acquire(path, platform::LockKind::Exclusive, true)) return;  // the write will report it
      if (platform::DescriptorIsPath(lock_.Fd(), path)) return;
      lock_.Release();
    }
  }
  // The lock created an empty file that the failed write did not fill.
  void WriteFailed() {
    if (!existed_ && lock_.Held() && platform::FileSize(path_) == 0) platform::RemoveFile(path_);
  }

 private:
  std::string path_;
  bool existed_;
  platform::FileLock lock_;
};

}  // namespace

std::string CannotWriteText(const std::string& path) {
  return "In " + path + " kann nicht geschrieben werden";
}

std::string CannotWriteTextWithCode(const std::string& path, int errorCode) {
  return CannotWriteText(path) + "\r\n\r\nWindows meldet folgenden Fehler:\r\n" +
         platform::ErrorText(errorCode) + "\r\n(Fehlercode " + std::to_string(errorCode) + ")";
}

// ---------------------------------------------------------------------------
// TIniDocument

TIniDocument::TIniDocument(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto nl = bytes.find_first_of("\r\n", pos);
    if (nl == std::string_view::npos) {
      FLines.push_back({std::string(bytes.substr(pos)), ""});
      break;
    }
    std::size_t eolLen = 1;
    if (bytes[nl] == '\r' && nl + 1 < bytes.size() && bytes[nl + 1] == '\n') eolLen = 2;
    FLines.push_back({std::string(bytes.substr(pos, nl - pos)), std::string(bytes.substr(nl, eolLen))});
    pos = nl + eolLen;
  }
}

std::string TIniDocument::Bytes() const {
  std::string out;
  for (const auto& l : FLines) {
    out += l.text;
    out += l.eol;
  }
  return out;
}

bool TIniDocument::SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

TIniDocument::Range TIniDocument::FindSection(std::string_view section) const {
  Range r;
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    const std::string_view t = TrimBlanks(FLines[i].text);
    if (!IsSectionLine(t)) continue;
    if (r.header != std::string::npos) {
      r.end = i;
      return r;
    }
    if (SameName(SectionNameOf(t), section)) {
      r.header = i;
      r.begin = i + 1;
    }
  }
  if (r.header != std::string::npos) r.end = FLines.size();
  return r;
}

std::string TIniDocument::NewLineEol() const {
  for (const auto& l : FLines) {
    if (!l.eol.empty()) return l.eol;
  }
  return "\r\n";
}

void TIniDocument::EnsureLastLineEnded() {
  if (!FLines.empty() && FLines.back().eol.empty()) FLines.back().eol = NewLineEol();
}

std::optional<std::string> TIniDocument::Read(std::string_view section, std::string_view key) const {
  const Range r = FindSection(section);
  if (r.header == std::string::npos) return std::nullopt;
  for (std::size_t i = r.begin; i < r.end; ++i) {
    const auto k = KeyOf(FLines[i].text);
    if (k && SameName(*k, key)) return ValueOf(FLines[i].text);
  }
  return std::nullopt;
}

void TIniDocument::Write(std::string_view sectionIn, std::string_view keyIn, std::string_view valueIn) {
  // A line break inside a name or value would start lines of its own (a
  // Mandant name could add a section): it is written as a blank.
  const std::string section = OneLine(sectionIn), key = OneLine(keyIn), value = OneLine(valueIn);
  const std::string eol = NewLineEol();
  const Range r = FindSection(section);
  if (r.header == std::string::npos) {
    EnsureLastLineEnded();
    FLines.push_back({"[" + std::string(section) + "]", eol});
    FLines.push_back({std::string(key) + "=" + std::string(value), eol});
    return;
  }
  std::size_t lastContent = r.header;
  for (std::size_t i = r.begin; i < r.end; ++i) {
    std::string& text = FLines[i].text;
    const auto k = KeyOf(text);
    if (k && SameName(*k, key)) {
      std::size_t valueStart = text.find('=') + 1;
      while (valueStart < text.size() && IsBlank(text[valueStart])) ++valueStart;
      text = text.substr(0, valueStart) + std::string(value);
      return;
    }
    if (!TrimBlanks(text).empty()) lastContent = i;
  }
  if (FLines[lastContent].eol.empty()) FLines[lastContent].eol = eol;
  FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1),
                {std::string(key) + "=" + std::string(value), eol});
}

bool TIniDocument::DeleteKey(std::string_view section, std::string_view key) {
  const Range r = FindSection(section);
  if (r.header == std::string::npos) return false;
  for (std::size_t i = r.begin; i < r.end; ++i) {
    const auto k = KeyOf(FLines[i].text);
    if (k && SameName(*k, key)) {
      FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool TIniDocument::EraseSection(std::string_view section) {
  // A section that a file holds twice goes entirely: otherwise the second
  // copy would become visible and a rewrite of the section would mix the two.
  bool erased = false;
  for (Range r = FindSection(section); r.header != std::string::npos; r = FindSection(section)) {
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(r.header),
                 FLines.begin() + static_cast<std::ptrdiff_t>(r.end));
    erased = true;
  }
  return erased;
}

bool TIniDocument::SectionExists(std::string_view section) const {
  return FindSection(section).header != std::string::npos;
}

std::vector<std::string> TIniDocument::Sections() const {
  std::vector<std::string> names;
  for (const auto& l : FLines) {
    const std::string_view t = TrimBlanks(l.text);
    if (!IsSectionLine(t)) continue;
    const std::string_view n = SectionNameOf(t);
    bool seen = false;
    for (const auto& have : names) seen = seen || SameName(have, n);
    if (!seen) names.emplace_back(n);
  }
  return names;
}

std::vector<std::string> TIniDocument::SectionKeys(std::string_view section) const {
  std::vector<std::string> keys;
  const Range r = FindSection(section);
  if (r.header == std::string::npos) return keys;
  for (std::size_t i = r.begin; i < r.end; ++i) {
    if (const auto k = KeyOf(FLines[i].text)) keys.emplace_back(*k);
  }
  return keys;
}

std::vector<std::string> TIniDocument::SectionLines(std::string_view section) const {
  std::vector<std::string> lines;
  const Range r = FindSection(section);
  if (r.header == std::string::npos) return lines;
  for (std::size_t i = r.begin; i < r.end; ++i) {
    const std::string_view t = TrimBlanks(FLines[i].text);
    if (!t.empty() && !IsCommentLine(t)) lines.emplace_back(t);
  }
  return lines;
}

void TIniDocument::ReplaceSection(std::string_view sectionIn, const std::vector<std::string>& lines) {
  const std::string section = OneLine(sectionIn);
  const std::string eol = NewLineEol();
  std::vector<Line> body;
  for (const auto& l : lines) body.push_back({OneLine(l), eol});
  const Range r = FindSection(section);
  if (r.header == std::string::npos) {
    EnsureLastLineEnded();
    FLines.push_back({"[" + std::string(section) + "]", eol});
    FLines.insert(FLines.end(), body.begin(), body.end());
    return;
  }
  // Blank lines that separate the section from the next one stay.
  std::size_t keepFrom = r.end;
  while (keepFrom > r.begin && TrimBlanks(FLines[keepFrom - 1].text).empty()) --keepFrom;
  if (FLines[r.header].eol.empty()) FLines[r.header].eol = eol;
  FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(r.begin),
               FLines.begin() + static_cast<std::ptrdiff_t>(keepFrom));
  FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(r.begin), body.begin(), body.end());
}

// ---------------------------------------------------------------------------
// TCustomIniFile

bool TCustomIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  for (const auto& k : ReadSection(section)) {
    if (TIniDocument::SameName(k, ident)) return true;
  }
  return false;
}

std::string TCustomIniFile::ReadStringCut(std::string_view section, std::string_view ident,
                                          std::string_view defaultValue, std::size_t maxChars) const {
  return Utf8Cut(ReadString(section, ident, defaultValue), maxChars);
}

std::int32_t TCustomIniFile::ReadInteger(std::string_view section, std::string_view ident,
                                         std::int32_t defaultValue) const {
  const std::string s = TrimText(ReadString(section, ident, ""));
  if (s.empty()) return defaultValue;
  std::string_view v = s;
  int base = 10;
  bool negative = false;
  if (v.front() == '-' || v.front() == '+') {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  if (!v.empty() && v.front() == '$') {
    base = 16;
    v.remove_prefix(1);
  } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  std::int64_t n = 0;
  const auto res = std::from_chars(v.data(), v.data() + v.size(), n, base);
  if (v.empty() || res.ec != std::errc() || res.ptr != v.data() + v.size()) return defaultValue;
  if (negative) n = -n;
  if (n < INT32_MIN || n > INT32_MAX) return defaultValue;
  return static_cast<std::int32_t>(n);
}

void TCustomIniFile::WriteInteger(std::string_view section, std::string_view ident, std::int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBool(std::string_view section, std::string_view ident, bool defaultValue) const {
  const std::string v = ReadString(section, ident, defaultValue ? "T" : "F");
  if (v.empty()) return false;
  switch (v.front()) {
    case '1': case 'J': case 'T': case 'Y': case 'j': case 't': case 'y':
      return true;
    default:
      return false;
  }
}

void TCustomIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

std::optional<double> ParseLenientDouble(std::string_view text) {
  std::string collected;
  bool separatorSeen = false;
  for (const char c : text) {
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      collected += c;
    } else if ((c == ',' || c == '.') && !separatorSeen) {
      collected += '.';
      separatorSeen = true;
    } else if (c == '-' && collected.empty()) {
      collected += c;
    } else {
      return std::nullopt;
    }
  }
  const bool hasDigit = collected.find_first_of("0123456789") != std::string::npos;
  if (!hasDigit) throw std::invalid_argument("'" + collected + "' ist kein gültiger Gleitkommawert");
  // Our own text with a full stop: strtod of the "C" locale reads it.
  double value = 0;
  const char* first = collected.data();
  if (*first == '-') ++first;
  const auto res = std::from_chars(first, collected.data() + collected.size(), value);
  if (res.ec != std::errc()) throw std::invalid_argument("'" + collected + "' ist kein gültiger Gleitkommawert");
  return collected.front() == '-' ? -value : value;
}

double TCustomIniFile::ReadDouble(std::string_view section, std::string_view ident,
                                  double defaultValue) const {
  const std::string v = ReadString(section, ident, "");
  if (v.empty()) return defaultValue;
  const auto d = ParseLenientDouble(v);
  return d ? *d : defaultValue;
}

// ---------------------------------------------------------------------------
// TIniFile

TIniFile::TIniFile(std::string fileName, TEncoding encoding)
    : TCustomIniFile(std::move(fileName)), FEncoding(encoding) {}

std::string TIniFile::ToFile(std::string_view utf8) const {
  return FEncoding == TEncoding::Utf8 ? std::string(utf8) : platform::Utf8ToWin1252Lossy(utf8);
}

std::string TIniFile::FromFile(std::string_view bytes) const {
  return FEncoding == TEncoding::Utf8 ? std::string(bytes) : platform::Win1252ToUtf8(bytes);
}

TIniDocument TIniFile::Load() const {
  std::string bytes;
  if (!platform::ReadWholeFile(FFileName, bytes)) return TIniDocument();
  return TIniDocument(bytes);
}

void TIniFile::Store(const TIniDocument& doc) {
  int err = 0;
  if (!platform::WriteFileAtomic(FFileName, doc.Bytes(), nullptr, &err)) {
    FLastWriteError = err;
    throw EIniFileException(CannotWriteText(FFileName), err);
  }
  FLastWriteError = 0;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view ident,
                                 std::string_view defaultValue) const {
  const auto v = Load().Read(ToFile(section), ToFile(ident));
  return v ? FromFile(*v) : std::string(defaultValue);
}

void TIniFile::Modify(const std::function<bool(TIniDocument&)>& change) {
  TWriteLock lock(FFileName);
  TIniDocument doc = Load();
  if (!change(doc)) return;
  try {
    Store(doc);
  } catch (const EIniFileException&) {
    lock.WriteFailed();
    throw;
  }
}

void TIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value) {
  Modify([&](TIniDocument& doc) {
    doc.Write(ToFile(section), ToFile(ident), ToFile(value));
    return true;
  });
}

void TIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  Modify([&](TIniDocument& doc) { return doc.DeleteKey(ToFile(section), ToFile(ident)); });
}

void TIniFile::EraseSection(std::string_view section) {
  Modify([&](TIniDocument& doc) { return doc.EraseSection(ToFile(section)); });
}

bool TIniFile::SectionExists(std::string_view section) const {
  return Load().SectionExists(ToFile(section));
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> out;
  for (const auto& s : Load().Sections()) out.push_back(FromFile(s));
  return out;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> out;
  for (const auto& s : Load().SectionKeys(ToFile(section))) out.push_back(FromFile(s));
  return out;
}

std::vector<std::string> TIniFile::ReadSectionValues(std::string_view section) const {
  std::vector<std::string> out;
  for (const auto& s : Load().SectionLines(ToFile(section))) out.push_back(FromFile(s));
  return out;
}

void TIniFile::WriteSectionBlock(std::string_view section, const std::vector<std::string>& lines) {
  std::vector<std::string> converted;
  for (const auto& l : lines) converted.push_back(ToFile(l));
  Modify([&](TIniDocument& doc) {
    doc.ReplaceSection(ToFile(section), converted);
    return true;
  });
}

// ---------------------------------------------------------------------------
// TMemIniFile

TMemIniFile::TMemIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)) {
  std::string bytes;
  if (platform::ReadWholeFile(FFileName, bytes)) FDoc = TIniDocument(bytes);
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view ident,
                                    std::string_view defaultValue) const {
  const auto v = FDoc.Read(platform::Utf8ToWin1252Lossy(section), platform::Utf8ToWin1252Lossy(ident));
  return v ? platform::Win1252ToUtf8(*v) : std::string(defaultValue);
}

void TMemIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value) {
  FDoc.Write(platform::Utf8ToWin1252Lossy(section), platform::Utf8ToWin1252Lossy(ident),
             platform::Utf8ToWin1252Lossy(value));
}

void TMemIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  FDoc.DeleteKey(platform::Utf8ToWin1252Lossy(section), platform::Utf8ToWin1252Lossy(ident));
}

void TMemIniFile::EraseSection(std::string_view section) {
  FDoc.EraseSection(platform::Utf8ToWin1252Lossy(section));
}

bool TMemIniFile::SectionExists(std::string_view section) const {
  return FDoc.SectionExists(platform::Utf8ToWin1252Lossy(section));
}

std::vector<std::string> TMemIniFile::ReadSections() const {
  std::vector<std::string> out;
  for (const auto& s : FDoc.Sections()) out.push_back(platform::Win1252ToUtf8(s));
  return out;
}

std::vector<std::string> TMemIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> out;
  for (const auto& s : FDoc.SectionKeys(platform::Utf8ToWin1252Lossy(section)))
    out.push_back(platform::Win1252ToUtf8(s));
  return out;
}

std::vector<std::string> TMemIniFile::ReadSectionValues(std::string_view section) const {
  std::vector<std::string> out;
  for (const auto& s : FDoc.SectionLines(platform::Utf8ToWin1252Lossy(section)))
    out.push_back(platform::Win1252ToUtf8(s));
  return out;
}

void TMemIniFile::UpdateFile() {
  int err = 0;
  if (!platform::WriteFileAtomic(FFileName, FDoc.Bytes(), nullptr, &err))
    throw EIniFileException(CannotWriteText(FFileName), err);
}

}  // namespace hostenv
