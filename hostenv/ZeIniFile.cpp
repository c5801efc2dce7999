#include "hostenv/ZeIniFile.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "hostenv/DirText.h"
#include "hostenv/Locations.h"
#include "hostenv/Registry.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/UserDialog.h"

namespace hostenv {
namespace {

constexpr int kWriteAttempts = 5;
constexpr std::size_t kSectionBuffer = 65536;

std::string ResolvedPath(const std::string& path) {
  return platform::ResolveNoCase(platform::NativeSeparators(path));
}

std::string ChooseFile(const std::string& fileName, bool isTerminal, bool copyIfTerminal,
                       bool isPackage) {
  std::string base = isPackage ? ZeRegistry().ProgPath() : HostProgramDirectory();
  base = AddBackslash(platform::NativeSeparators(base));
  if (isTerminal) {
    const std::string appData = GetSpecialFolder(CSIDL_APPDATA);
    if (!appData.empty()) {
      const std::string perUser = AddBackslash(appData + "ZempaPro");
      if (!platform::FileExists(ResolvedPath(perUser + fileName))) {
        // Failures here are not reported: the object then starts from a
        // per-user file that does not exist and reads give defaults.
        platform::MakeDirectories(perUser);
        const std::string shared = ResolvedPath(base + fileName);
        if (copyIfTerminal && platform::FileExists(shared))
          platform::CopyFileAtomic(shared, perUser + fileName);
      }
      base = perUser;
    }
  }
  return base + fileName;
}

}  // namespace

int TZeIniFile::RetryPauseMillis = 200;

TZeIniFile::TZeIniFile(std::string path) : TIniFile(ResolvedPath(path)) {}

std::unique_ptr<TZeIniFile> TZeIniFile::CreateEx(const std::string& FileName, bool IsTerminal,
                                                 bool CopyIfTerminal, bool IsPackage) {
  return std::make_unique<TZeIniFile>(ChooseFile(FileName, IsTerminal, CopyIfTerminal, IsPackage));
}

std::unique_ptr<TZeCtrlIniFile> TZeCtrlIniFile::CreateEx(const std::string& FileName,
                                                         bool IsTerminal, bool CopyIfTerminal,
                                                         bool IsPackage) {
  return std::make_unique<TZeCtrlIniFile>(
      ChooseFile(FileName, IsTerminal, CopyIfTerminal, IsPackage));
}

void TZeIniFile::WriteString(std::string_view section, std::string_view ident,
                             std::string_view value) {
  if (section.empty() || ident.empty()) return;
  std::string message;
  int code = 0;
  for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
    try {
      TIniFile::WriteString(section, ident, value);
      return;
    } catch (const EIniFileException& e) {
      message = e.what();
      code = e.ErrorCode();
    }
    if (attempt < kWriteAttempts)
      std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseMillis));
  }
  if (code != 0) message = CannotWriteTextWithCode(FFileName, code);
  platform::CurrentUserDialog().ShowMessage(platform::MessageKind::Error, "Fehler", message);
}

void TZeIniFile::WriteStringPlain(std::string_view section, std::string_view ident,
                                  std::string_view value) {
  TIniFile::WriteString(section, ident, value);
}

void TZeIniFile::WriteDouble(std::string_view section, std::string_view ident, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string text = buf;
  for (char& c : text) {
    if (c == '.') c = ',';
  }
  WriteString(section, ident, text);
}

std::string TZeIniFile::ReadAnsiString(std::string_view section, std::string_view ident,
                                       std::string_view defaultValue) const {
  return platform::Utf8ToWin1252Lossy(ReadString(section, ident, defaultValue));
}

void TZeIniFile::WriteSection(std::string_view section, const std::vector<std::string>& strings) {
  if (section.empty()) return;
  const std::string s = ToFile(section);
  Modify([&](TIniDocument& doc) {
    doc.EraseSection(s);
    for (const auto& line : strings) doc.Write(s, ToFile(line), "");
    return true;
  });
}

std::vector<std::string> TZeIniFile::ReadSectionValues(std::string_view section) const {
  // The host reads the section into a fixed buffer: every line ends in a
  // zero and the block in a second one, so 65,534 characters fit.
  std::vector<std::string> out;
  std::size_t used = 0;
  for (const auto& line : Load().SectionLines(ToFile(section))) {
    const std::size_t room = kSectionBuffer - 2 - used;
    if (room == 0) break;
    const std::string part = line.substr(0, room);
    out.push_back(FromFile(part));
    used += part.size();
    if (used < kSectionBuffer - 2) ++used;  // the line's zero
    if (part.size() < line.size()) break;
  }
  return out;
}

void TZeIniFile::WriteSectionValues(std::string_view section, const std::vector<std::string>& strings) {
  if (section.empty()) return;
  try {
    WriteSectionBlock(section, strings);
  } catch (const EIniFileException& e) {
    if (e.ErrorCode() != 0)
      throw EIniFileException(CannotWriteTextWithCode(FFileName, e.ErrorCode()), e.ErrorCode());
  }
}

}  // namespace hostenv
