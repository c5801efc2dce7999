// The Mandant's style on a real installation in a temporary folder: which
// style file is tried, what the style manager is asked, the colours and
// defaults from the table and from style.ini.
#include <gtest/gtest.h>

#include <filesystem>

#include "hostenv/Locations.h"
#include "hostenv/MandantStyle.h"
#include "hostenv/Options.h"
#include "hostenv/Registry.h"
#include "hostenv/tests/TestSupport.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"

namespace hostenv {
namespace {

using test::WriteBytes;

// Records what the style code makes active.
class RecordingStyleManager : public TStyleManager {
 public:
  RecordingStyleManager() { SetStyleManager(this); }
  ~RecordingStyleManager() override { SetStyleManager(nullptr); }
  std::vector<std::string> activated;

 protected:
  void Activated(const std::string& name, const std::string& sheet) override {
    activated.push_back(name + (sheet.empty() ? "" : ":sheet"));
  }
};

class StyleTest : public ::testing::Test {
 protected:
  test::TempDir root;
  test::ScopedXdg xdg{root.Path()};
  std::string prog = root / "zempa/";
  std::string styles = prog + "Style/";
  RecordingStyleManager manager;
  TZeMandantStyle style;

  void SetUp() override {
    std::filesystem::create_directories(styles);
    SetHostProgramDirectory(prog);
    CreateZeRegistry();
    CreateZeOptions();
  }
  void TearDown() override {
    ReleaseZeOptions();
    ReleaseZeRegistry();
    SetHostProgramDirectory("");
  }
  void Main(const std::string& body) {
    WriteBytes(prog + "ZEMPA.INI", body);
    ZeOptions().SetZempaIni(std::make_unique<TZeIniFile>(prog + "ZEMPA.INI"));
  }
  void Apply() { style.SetMandantStyle(ZeOptions(), false); }
};

TEST_F(StyleTest, DefaultStyleFileAndTableColours) {
  WriteBytes(styles + "zempa001.QSS", "/* Style: Zempa 001 */\nQWidget{}\n");
  Main("[Konstanten]\r\n");
  Apply();
  EXPECT_EQ(style.LastStyleFile(), styles + "zempa001.QSS");  // found without regard to case
  EXPECT_TRUE(style.StylingEnabled());
  EXPECT_EQ(style.StyleName(), "Zempa 001");
  EXPECT_EQ(style.StyleSection(""), "ZEMPA001");
  EXPECT_EQ(style.DisabledEditsColor(), 0xE8E8E8);
  EXPECT_EQ(style.EnabledEditsColor(), 0xF3E6D5);
  EXPECT_FALSE(style.HighlightDisabledEdits());
  EXPECT_TRUE(style.BrowserSelectedFarbig());
  EXPECT_EQ(manager.activated, (std::vector<std::string>{"Zempa 001:sheet"}));
  // Applied again: the loaded style is reused by name, not read anew.
  WriteBytes(styles + "zempa001.QSS", "/* Style: Zempa 001 */\nQLabel{}\n");
  Apply();
  EXPECT_EQ(manager.activated.size(), 2u);
  EXPECT_EQ(style.ThemingState(), tsNoManifest);
}

TEST_F(StyleTest, EmptyStyleNameSwitchesToSystemOnlyWhenStyled) {
  Main("[Konstanten]\r\nStyleName=\r\n");
  Apply();
  EXPECT_TRUE(manager.activated.empty());  // styling was off: nothing changes
  EXPECT_FALSE(style.StylingEnabled());

  WriteBytes(styles + "Dunkel.qss", "/* Style: Dunkel */\n");
  Main("[Konstanten]\r\nStyleName=Dunkel\r\n");
  Apply();
  EXPECT_TRUE(style.StylingEnabled());
  Main("[Konstanten]\r\nStyleName=\r\n");
  Apply();
  EXPECT_EQ(manager.activated.back(), SystemStyleName);
  EXPECT_TRUE(manager.ActiveIsSystemStyle());
  EXPECT_FALSE(style.StylingEnabled());
  EXPECT_EQ(style.StyleName(), "");
}

TEST_F(StyleTest, DeclaredNameDecidesTheSectionAndStyleIniOverrides) {
  // The file is found by the Mandant's name; the colours by the declared one.
  WriteBytes(styles + "Blau.qss", "\xEF\xBB\xBF/*  style:  Lu na  */\n");
  WriteBytes(styles + "style.ini", "[LUNA]\r\nEnabledEditColor=$00112233\r\n"
                                   "[Konstanten]\r\nMenuStyling=Ja\r\nUseRibbons=1\r\n");
  Main("[Konstanten]\r\nStyleName=B lau\r\n");
  Apply();
  EXPECT_EQ(style.StyleName(), "Lu na");
  EXPECT_EQ(style.DisabledEditsColor(), 0xFDEEE3);
  EXPECT_EQ(style.EnabledEditsColor(), 0x112233);
  EXPECT_TRUE(style.HighlightDisabledEdits());
  EXPECT_FALSE(style.HighlightEnabledEdits());
  EXPECT_FALSE(style.BrowserSelectedFarbig());
  EXPECT_TRUE(manager.MenuStyling());
  EXPECT_EQ(style.UseRibbons(), 1);
  EXPECT_FALSE(style.UseClientRibbons());
}

TEST_F(StyleTest, UnknownSectionKeepsDefaultColours) {
  WriteBytes(styles + "Hausfarben.qss", "/* Style: Hausfarben */\n");
  WriteBytes(styles + "style.ini", "[HAUSFARBEN]\r\nHighlightDisabledEdits=1\r\n");
  Main("[Konstanten]\r\nStyleName=Hausfarben\r\n");
  Apply();
  EXPECT_EQ(style.DisabledEditsColor(), clDefaultDisabledEdit);
  EXPECT_EQ(style.EnabledEditsColor(), clWindow);
  EXPECT_EQ(static_cast<std::uint32_t>(style.EnabledEditsColor()), 0xFF000005u);
  EXPECT_TRUE(style.HighlightDisabledEdits());
  EXPECT_FALSE(manager.MenuStyling());
}

TEST_F(StyleTest, MissingOrInvalidFileLeavesTheLookAndStylingOff) {
  WriteBytes(styles + "style.ini", "[ZEMPA001]\r\nHighlightDisabledEdits=1\r\n");
  Main("[Konstanten]\r\n");
  Apply();  // no Zempa001.qss
  EXPECT_FALSE(style.StylingEnabled());
  EXPECT_FALSE(style.HighlightDisabledEdits());  // off whatever style.ini says
  EXPECT_TRUE(manager.activated.empty());

  WriteBytes(styles + "Kaputt.qss", "QWidget { color: red; }\n");  // no declaration
  Main("[Konstanten]\r\nStyleName=Kaputt\r\n");
  Apply();
  EXPECT_TRUE(manager.activated.empty());
  EXPECT_EQ(style.StyleName(), "");
}

TEST(StyleText, DeclarationsAndColours) {
  EXPECT_EQ(DeclaredStyleName("/* Style: Zempa 001 */\r\nX{}"), "Zempa 001");
  EXPECT_EQ(DeclaredStyleName("/*Style:Dunkel*/"), "Dunkel");
  EXPECT_FALSE(DeclaredStyleName("\n/* Style: Dunkel */"));  // not the first line
  EXPECT_FALSE(DeclaredStyleName("/* Style: */"));
  EXPECT_FALSE(DeclaredStyleName("/* Stil: Dunkel */"));
  EXPECT_FALSE(DeclaredStyleName("/* Style: a/b */"));
  EXPECT_FALSE(DeclaredStyleName(""));
  EXPECT_EQ(ParseColor("$FF000005"), clWindow);
  EXPECT_EQ(ParseColor("0x00E8E8E8"), 0xE8E8E8);
  EXPECT_EQ(ParseColor(" 15263976 "), 15263976);
  EXPECT_EQ(ParseColor("-16777211"), clWindow);
  EXPECT_FALSE(ParseColor("$1FFFFFFFF"));
  EXPECT_FALSE(ParseColor("2147483648"));
  EXPECT_FALSE(ParseColor("blau"));
  EXPECT_FALSE(ParseColor("$"));
  TZeMandantStyle s;
  EXPECT_TRUE(s.HighlightDefault(false, "Sil ver"));
  EXPECT_FALSE(s.HighlightDefault(true, "Silver"));
  EXPECT_TRUE(s.BrowserSelectDefault("obsidian"));
  EXPECT_FALSE(s.BrowserSelectDefault(""));  // empty matches no free slot
}

TEST(StyleText, ShippedStyleFilesDeclareTheirNames) {
  const std::string dir = std::string(UST_SOURCE_DIR) + "/wizard/styles/";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".qss") continue;
    ++count;
    const auto name = DeclaredStyleName(test::ReadBytes(entry.path().string()));
    ASSERT_TRUE(name) << entry.path();
    std::string compact;
    for (char c : *name)
      if (c != ' ') compact += c;
    // The file is found by the declared name without blanks.
    EXPECT_TRUE(platform::EqualsNoCase(compact + ".qss", entry.path().filename().string()));
  }
  EXPECT_GE(count, 2);
}

}  // namespace
}  // namespace hostenv
