#include "hostenv/MandantStyle.h"

#include <charconv>
#include <exception>

#include "hostenv/DirText.h"
#include "hostenv/IniFile.h"
#include "hostenv/Options.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace hostenv {

const std::array<TStyleColorDefRec, StyleColorDefCount> StyleColorDefs = {{
    {"ZEMPA001", 0xE8E8E8, 0xF3E6D5, false, false, false},
    {"ZEMPA002", 0xE8E8E8, 0xF3E6D5, false, false, false},
    {"ZEMPA003", 0xE8E8E8, 0xF3E6D5, false, false, false},
    {"LUNA", 0xFDEEE3, 0xD1F9FF, true, false, true},
    {"OBSIDIAN", 0x535353, 0xC8FCFF, false, false, true},
    {"SILVER", 0xEAE7E3, 0xC8FCFF, true, false, true},
    {"ZEMPA101", 0xEDF1F3, 0xF3E6D5, true, false, false},
    // The remaining slots are free: empty name, no colours, no defaults.
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false}, {"", 0, 0, false, false, false},
    {"", 0, 0, false, false, false},
}};

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string WithoutBlanks(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += c;
  return out;
}

std::string_view WithoutBom(std::string_view s) {
  if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
  return s;
}

}  // namespace

std::optional<std::string> DeclaredStyleName(std::string_view text) {
  text = WithoutBom(text);
  std::string_view line = text.substr(0, text.find('\n'));
  line = TrimBlanks(line);
  if (line.substr(0, 2) != "/*" || line.size() < 4 || line.substr(line.size() - 2) != "*/")
    return std::nullopt;
  line = TrimBlanks(line.substr(2, line.size() - 4));
  if (!platform::EqualsNoCase(line.substr(0, 6), "style:")) return std::nullopt;
  line = TrimBlanks(line.substr(6));
  if (line.empty() || line.size() > 64) return std::nullopt;
  for (char c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == '*' || c == '/') return std::nullopt;
  return std::string(line);
}

std::optional<TColor> ParseColor(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t v = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  // Hex texts may use all 32 bits ($FF000005); decimal ones stay in range.
  if (base == 16 ? v > 0xFFFFFFFFull : v > 0x7FFFFFFFull + (negative ? 1 : 0)) return std::nullopt;
  std::int64_t s = base == 16 ? static_cast<std::int64_t>(static_cast<std::int32_t>(v))
                              : static_cast<std::int64_t>(v);
  if (negative) s = -s;
  return static_cast<TColor>(static_cast<std::int32_t>(s));
}

// --- the style manager -------------------------------------------------------

bool TStyleManager::IsValidStyle(const std::string& path, std::string& declaredName) {
  std::string text;
  if (!platform::ReadWholeFile(path, text)) return false;
  auto name = DeclaredStyleName(text);
  if (!name) return false;
  declaredName = *name;
  return true;
}

bool TStyleManager::IsLoaded(const std::string& name) const {
  return FLoaded.count(platform::AsciiUpper(name)) > 0;
}

bool TStyleManager::TrySetStyle(const std::string& name) {
  const std::string key = platform::AsciiUpper(name);
  if (key == SystemStyleName) {
    SetSystemStyle();
    return true;
  }
  auto it = FLoaded.find(key);
  if (it == FLoaded.end()) return false;
  FActive = FNames[key];
  Activated(FActive, it->second);
  return true;
}

bool TStyleManager::LoadAndActivate(const std::string& path) {
  std::string text;
  if (!platform::ReadWholeFile(path, text)) return false;
  auto name = DeclaredStyleName(text);
  if (!name) return false;
  const std::string key = platform::AsciiUpper(*name);
  FLoaded[key] = std::string(WithoutBom(text));
  FNames[key] = *name;
  return TrySetStyle(*name);
}

void TStyleManager::SetSystemStyle() {
  FActive = SystemStyleName;
  Activated(FActive, std::string());
}

bool TStyleManager::ActiveIsSystemStyle() const {
  return platform::EqualsNoCase(FActive, SystemStyleName);
}

void TStyleManager::Activated(const std::string&, const std::string&) {}

namespace {
TStyleManager* gManager = nullptr;
}

TStyleManager& StyleManager() {
  static TStyleManager plain;
  return gManager ? *gManager : plain;
}

void SetStyleManager(TStyleManager* manager) { gManager = manager; }

// --- the style state ---------------------------------------------------------

TZeMandantStyle& MandantStyle() {
  static TZeMandantStyle style;
  return style;
}

std::string TZeMandantStyle::StyleSection(std::string_view AStyleName) const {
  std::string_view name = AStyleName.empty() ? std::string_view(FStyleName) : AStyleName;
  if (name.empty()) return std::string();
  return platform::AsciiUpper(WithoutBlanks(name));
}

const TStyleColorDefRec* TZeMandantStyle::Row(std::string_view AStyleName) const {
  const std::string section = StyleSection(AStyleName);
  // An empty section matches nothing, not the free slots.
  if (section.empty()) return nullptr;
  for (const auto& rec : StyleColorDefs)
    if (section == rec.N) return &rec;
  return nullptr;
}

bool TZeMandantStyle::HighlightDefault(bool AEnabled, std::string_view AStyleName) const {
  const TStyleColorDefRec* r = Row(AStyleName);
  return r != nullptr && (AEnabled ? r->DE : r->DD);
}

bool TZeMandantStyle::BrowserSelectDefault(std::string_view AStyleName) const {
  const TStyleColorDefRec* r = Row(AStyleName);
  return r != nullptr && r->DB;
}

void TZeMandantStyle::ReadStyleIni(const TCustomIniFile* ini) {
  const std::string section = StyleSection({});
  auto readBool = [&](const char* key, bool def) {
    return ini && !section.empty() ? ini->ReadBool(section, key, def) : def;
  };
  auto readColor = [&](const char* key, TColor def) {
    if (!ini || section.empty()) return def;
    auto c = ParseColor(ini->ReadString(section, key, ""));
    return c ? *c : def;
  };
  FHighlightDisabledEdits = readBool("HighlightDisabledEdits", HighlightDefault(false, {}));
  FHighlightEnabledEdits = readBool("HighlightEnabledEdits", HighlightDefault(true, {}));
  FDisabledEditColor = clDefaultDisabledEdit;
  FEnabledEditColor = clWindow;
  if (const TStyleColorDefRec* r = Row({})) {
    FDisabledEditColor = r->D;
    FEnabledEditColor = r->E;
  }
  FDisabledEditColor = readColor("DisabledEditColor", FDisabledEditColor);
  FEnabledEditColor = readColor("EnabledEditColor", FEnabledEditColor);
  FBrowserSelectedNoColor = readBool("BrowserSelectedNoColor", BrowserSelectDefault({}));
}

void TZeMandantStyle::SetMandantStyle(TZeOptions& options, bool AIsDLLMode) {
  TStyleManager& manager = StyleManager();
  try {
    const bool wasEnabled = FStylingEnabled;
    FStylingEnabled = false;
    FStyleName.clear();
    FLastStyleFile.clear();

    std::string name = "Zempa 001";
    if (TZeIniFile* main = options.ZempaIni()) name = main->ReadString("Konstanten", "StyleName", name);
    if (TrimBlanks(name).empty()) {
      if (wasEnabled) manager.SetSystemStyle();
      return;
    }

    const std::string styleDir = AddBackslash(options.GetDirEntry(deStyle));
    // "style.ini" comes with the options; a settings object that has none
    // (tools that never refreshed) still finds the file.
    std::unique_ptr<TIniFile> ownStyleIni;
    const TCustomIniFile* styleIni = options.StyleIni();
    if (styleIni == nullptr && platform::FindNoCase(styleDir, "style.ini")) {
      ownStyleIni = std::make_unique<TIniFile>(
          platform::JoinPath(styleDir, *platform::FindNoCase(styleDir, "style.ini")));
      styleIni = ownStyleIni.get();
    }
    FUseRibbons = styleIni ? styleIni->ReadInteger("Konstanten", "UseRibbons", 2) : 0;

    const std::string fileName = WithoutBlanks(name) + ".qss";
    const auto found = platform::FindNoCase(styleDir, fileName);
    FLastStyleFile = platform::JoinPath(styleDir, found ? *found : fileName);
    if (!found) return;  // the current look stays, styling disabled
    {
      try {
        std::string declared;
        const bool valid = manager.IsValidStyle(FLastStyleFile, declared);
        if (valid) {
          if (manager.IsLoaded(declared))
            manager.TrySetStyle(declared);
          else
            manager.LoadAndActivate(FLastStyleFile);
        }
        FStylingEnabled = manager.ActiveEnabled() && !manager.ActiveIsSystemStyle();
        FStyleName = valid ? declared : std::string();
        ReadStyleIni(styleIni);
      } catch (const std::exception&) {
        // A broken style leaves the fields as far as they were read.
      }
    }
    const bool menus = styleIni ? styleIni->ReadBool("Konstanten", "MenuStyling", false) : false;
    manager.SetMenuStyling(menus);
    if (AIsDLLMode) manager.SetPopupMenuStyling(false);
  } catch (const std::exception&) {
    // The style is a matter of looks: no error of it may stop the program.
  }
}

}  // namespace hostenv
