#pragma once
// The Mandant's visual style. A Mandant names its style in its main settings
// file ("Konstanten"/"StyleName"); the style file "<name without blanks>.qss"
// in the style directory is a Qt style sheet whose first line declares the
// style's name:
//
//   /* Style: Zempa 001 */
//
// "style.ini" in the same directory and a fixed colour table give the edit
// colours and highlighting that other windows of the suite query. The look
// itself is switched by a style manager: the wizard installs one that sets
// the sheet on the application; without it the plain manager only keeps
// track of the active style, so tools run the same code headless.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace hostenv {

class TZeOptions;
class TCustomIniFile;

// Colours as the host stores them: $00BBGGRR, or $FF0000nn for system colour nn.
using TColor = std::int32_t;
inline constexpr TColor clDefaultDisabledEdit = 0xE8E8E8;
inline constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);

struct TStyleColorDefRec {
  const char* N;  // style section
  TColor D;       // colour of disabled edit fields
  TColor E;       // colour of enabled edit fields
  bool DD;        // highlight disabled edit fields by default
  bool DE;        // highlight enabled edit fields by default
  bool DB;        // default of BrowserSelectedNoColor
};
inline constexpr int StyleColorDefCount = 26;
extern const std::array<TStyleColorDefRec, StyleColorDefCount> StyleColorDefs;

enum TThemingState { tsNoManifest, tsNoXP, tsXPClassic, tsXPThemed };

// The name a style file declares on its first line; nullopt when the text is
// no style file of ours.
std::optional<std::string> DeclaredStyleName(std::string_view fileText);

// The name of the system style: no style sheet at all.
inline constexpr const char* SystemStyleName = "WINDOWS";

// The style manager: which styles are loaded, which one is active.
class TStyleManager {
 public:
  virtual ~TStyleManager() = default;
  // True with the declared name when `path` is a readable style file.
  virtual bool IsValidStyle(const std::string& path, std::string& declaredName);
  virtual bool IsLoaded(const std::string& name) const;
  // Activates a loaded style (names compare without regard to case); false
  // when none of that name is loaded. Never reports to the user.
  virtual bool TrySetStyle(const std::string& name);
  // Loads the style file and makes it the active style; false when it cannot.
  virtual bool LoadAndActivate(const std::string& path);
  virtual void SetSystemStyle();
  const std::string& ActiveName() const { return FActive; }
  // A style sheet is active (the system style is "enabled" too, but is the
  // system style).
  bool ActiveEnabled() const { return true; }
  bool ActiveIsSystemStyle() const;
  virtual void SetMenuStyling(bool on) { FMenuStyling = on; }
  virtual void SetPopupMenuStyling(bool on) { FPopupMenuStyling = on; }
  bool MenuStyling() const { return FMenuStyling; }
  bool PopupMenuStyling() const { return FPopupMenuStyling; }

 protected:
  // Called with the sheet of the style that became active ("" for the system
  // style); the Qt manager applies it to the application.
  virtual void Activated(const std::string& name, const std::string& sheet);

 private:
  std::map<std::string, std::string> FLoaded;  // upper-cased name -> sheet
  std::map<std::string, std::string> FNames;   // upper-cased name -> declared name
  std::string FActive = SystemStyleName;
  bool FMenuStyling = true;
  bool FPopupMenuStyling = true;
};

// The process-wide manager; SetStyleManager(nullptr) restores the plain one.
TStyleManager& StyleManager();
void SetStyleManager(TStyleManager* manager);

// The style state of the options: the fields and queries the suite's windows
// use. One process-wide object, MandantStyle().
class TZeMandantStyle {
 public:
  // Applies the active Mandant's style (main settings file of `options`,
  // style directory and "style.ini" from there). Never throws.
  void SetMandantStyle(TZeOptions& options, bool AIsDLLMode);

  bool StylingEnabled() const { return FStylingEnabled; }
  const std::string& StyleName() const { return FStyleName; }
  // AStyleName, else the active name, without blanks and upper-cased.
  std::string StyleSection(std::string_view AStyleName) const;
  bool HighlightDefault(bool AEnabled, std::string_view AStyleName) const;
  bool BrowserSelectDefault(std::string_view AStyleName) const;
  bool HighlightDisabledEdits() const { return FStylingEnabled && FHighlightDisabledEdits; }
  bool HighlightEnabledEdits() const { return FStylingEnabled && FHighlightEnabledEdits; }
  TColor DisabledEditsColor() const { return FDisabledEditColor; }
  TColor EnabledEditsColor() const { return FEnabledEditColor; }
  bool BrowserSelectedFarbig() const { return !(FStylingEnabled && FBrowserSelectedNoColor); }
  // "UseRibbons" of "style.ini" when it was opened, else 0.
  int UseRibbons() const { return FUseRibbons; }
  bool UseClientRibbons() const { return UseRibbons() == 2; }
  TThemingState ThemingState() const { return tsNoManifest; }

  // The style file tried by the last SetMandantStyle ("" when none).
  const std::string& LastStyleFile() const { return FLastStyleFile; }

 private:
  const TStyleColorDefRec* Row(std::string_view AStyleName) const;
  void ReadStyleIni(const TCustomIniFile* styleIni);

  bool FStylingEnabled = false;
  std::string FStyleName;
  bool FHighlightDisabledEdits = false;
  bool FHighlightEnabledEdits = false;
  TColor FDisabledEditColor = clDefaultDisabledEdit;
  TColor FEnabledEditColor = clWindow;
  bool FBrowserSelectedNoColor = false;
  int FUseRibbons = 0;
  std::string FLastStyleFile;
};

TZeMandantStyle& MandantStyle();

// A colour value as "style.ini" writes it: decimal, "$hex" or "0xhex",
// optionally negative. Nullopt when it is none of these.
std::optional<TColor> ParseColor(std::string_view text);

}  // namespace hostenv
