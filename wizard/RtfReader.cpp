#include "wizard/RtfReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "platform/Encoding.h"

namespace wizard {
namespace {

// Windows-1252 bytes 0x80-0x9F; the five undefined ones map to the C1
// control of the same number, which the text output drops.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t FromCp1252(unsigned char c) {
  if (c >= 0x80 && c < 0xA0) return kCp1252High[c - 0x80];
  return c;
}


void AppendEscaped(std::string& out, char32_t cp) {
  switch (cp) {
    case '&': out += "&amp;"; return;
    case '<': out += "&lt;"; return;
    case '>': out += "&gt;"; return;
    case '"': out += "&quot;"; return;
    default: break;
  }
  if (cp == '\t') {
    out += '\t';
    return;
  }
  // Control characters, surrogates and non-characters have no place in the
  // document; they come only from broken or hostile input.
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF ||
      cp == 0xFFFE || cp == 0xFFFF)
    return;
  platform::AppendUtf8(out, cp);
}

enum class Dest { Text, Skip, ColorTable };
enum class Align { Left, Center, Right, Justify };

struct Format {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int fontHalfPoints = 24;  // RTF's default size is 12 point
  int color = 0;            // index into the colour table, 0 is "automatic"
  bool operator==(const Format&) const = default;
};

// Paragraph spacing and indents in twips (1/1440 inch).
struct ParaSpacing {
  int before = 0, after = 0, left = 0, firstLine = 0;
};

struct State {
  Format fmt;
  Align align = Align::Left;
  ParaSpacing spacing;
  Dest dest = Dest::Text;
  int ucSkip = 1;  // bytes that stand in for each \u character
};

struct Color {
  bool automatic = true;
  int r = 0, g = 0, b = 0;
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Destinations whose content is not text of the document. Everything marked
// with \* is skipped as well.
bool IsSkippedDestination(std::string_view w) {
  static constexpr std::string_view kNames[] = {
      "fonttbl",   "stylesheet", "info",      "pict",       "header",     "headerl",
      "headerr",   "headerf",    "footer",    "footerl",    "footerr",    "footerf",
      "footnote",  "object",     "objdata",   "themedata",  "colorschememapping",
      "latentstyles", "datastore", "xmlnstbl", "listtable", "listoverridetable",
      "rsidtbl",   "generator",  "filetbl",   "revtbl",     "pgdsctbl",   "private",
      "fldinst",   "annotation", "atnid",     "atnauthor",  "bkmkstart",  "bkmkend",
      "template",  "xe",         "tc",        "txe",        "pn",         "shppict",
      "nonshppict", "mmathPr",   "userprops", "docvar",     "oldcprops",  "oldpprops",
      "oldtprops", "oldsprops",  "listpicture", "protusertbl", "wgrffmtfilter"};
  for (auto n : kNames)
    if (w == n) return true;
  return false;
}

class Reader {
 public:
  Reader(std::string_view in, const RtfLimits& limits) : in_(in), limits_(limits) {}

  std::string Run() {
    stack_.reserve(64);
    State st;
    while (pos_ < in_.size()) {
      char c = in_[pos_++];
      switch (c) {
        case '{':
          if (static_cast<int>(stack_.size()) < limits_.maxDepth) {
            stack_.push_back(st);
          } else {
            ++unpushed_;
          }
          pendingSkip_ = 0;
          break;
        case '}':
          if (unpushed_ > 0) {
            --unpushed_;
          } else if (!stack_.empty()) {
            st = stack_.back();
            stack_.pop_back();
          }
          pendingSkip_ = 0;
          break;
        case '\\':
          ControlSequence(st);
          break;
        case '\r':
        case '\n':
          break;
        default:
          if (st.dest == Dest::ColorTable) {
            if (c == ';') {
              colors_.push_back(curColor_);
              curColor_ = Color{};
            }
          } else if (ConsumeSkip() || st.dest == Dest::Skip) {
          } else if (c == '\t') {
            Text(st, '\t');
          } else {
            Text(st, FromCp1252(static_cast<unsigned char>(c)));
          }
          break;
      }
    }
    if (!para_.empty()) EndParagraph(st);
    return std::move(out_);
  }

 private:
  bool ConsumeSkip() {
    if (pendingSkip_ > 0) {
      --pendingSkip_;
      return true;
    }
    return false;
  }

  void ControlSequence(State& st) {
    if (pos_ >= in_.size()) return;
    char c = in_[pos_];
    if (!IsLetter(c)) {
      ++pos_;
      ControlSymbol(st, c);
      return;
    }
    size_t start = pos_;
    while (pos_ < in_.size() && IsLetter(in_[pos_]) && pos_ - start < 32) ++pos_;
    std::string_view word = in_.substr(start, pos_ - start);
    bool hasParam = false;
    bool negative = false;
    long long param = 0;
    if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() && IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    int digits = 0;
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      if (digits < 10) param = param * 10 + (in_[pos_] - '0');
      ++digits;
      ++pos_;
    }
    hasParam = digits > 0;
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    if (negative) param = -param;
    if (param > 2147483647LL) param = 2147483647LL;
    if (param < -2147483647LL) param = -2147483647LL;
    ControlWord(st, word, hasParam, static_cast<int>(param));
  }

  void ControlSymbol(State& st, char c) {
    switch (c) {
      case '\'': {
        int hi = pos_ < in_.size() ? HexValue(in_[pos_]) : -1;
        int lo = pos_ + 1 < in_.size() ? HexValue(in_[pos_ + 1]) : -1;
        if (hi < 0 || lo < 0) return;
        pos_ += 2;
        if (ConsumeSkip()) return;
        if (st.dest == Dest::Text) Text(st, FromCp1252(static_cast<unsigned char>(hi * 16 + lo)));
        return;
      }
      case '*':
        st.dest = Dest::Skip;
        return;
      case '\\':
      case '{':
      case '}':
        if (ConsumeSkip()) return;
        if (st.dest == Dest::Text) Text(st, static_cast<unsigned char>(c));
        return;
      case '~':
        if (!ConsumeSkip() && st.dest == Dest::Text) Text(st, 0x00A0);
        return;
      case '_':
        if (!ConsumeSkip() && st.dest == Dest::Text) Text(st, 0x2011);
        return;
      case '\r':
      case '\n':  // "\" before a line end is a paragraph mark
        if (st.dest == Dest::Text) EndParagraph(st);
        return;
      case '\t':
        if (st.dest == Dest::Text) Text(st, '\t');
        return;
      default:  // \- optional hyphen, \: index entries and anything unknown
        return;
    }
  }

  void ControlWord(State& st, std::string_view w, bool hasParam, int param) {
    // Control words in place of \u fallback text count as one character each.
    if (pendingSkip_ > 0 && w != "bin") {
      --pendingSkip_;
      return;
    }
    auto on = [&] { return !hasParam || param != 0; };
    if (st.dest == Dest::ColorTable) {
      int v = param < 0 ? 0 : (param > 255 ? 255 : param);
      if (w == "red") curColor_.r = v, curColor_.automatic = false;
      else if (w == "green") curColor_.g = v, curColor_.automatic = false;
      else if (w == "blue") curColor_.b = v, curColor_.automatic = false;
      return;
    }
    if (w == "bin") {
      // Binary data follows the word directly; it is never text.
      size_t n = hasParam && param > 0 ? static_cast<size_t>(param) : 0;
      pos_ += std::min(n, in_.size() - pos_);
      return;
    }
    if (w == "colortbl") {
      st.dest = Dest::ColorTable;
      colors_.clear();
      curColor_ = Color{};
      return;
    }
    if (IsSkippedDestination(w)) {
      st.dest = Dest::Skip;
      return;
    }
    if (w == "uc") {
      st.ucSkip = hasParam && param >= 0 ? (param > 16 ? 16 : param) : 1;
      return;
    }
    if (w == "u") {
      if (!hasParam) return;
      int v = param < 0 ? param + 65536 : param;
      if (st.dest == Dest::Text) Unicode(st, static_cast<char32_t>(v));
      pendingSkip_ = st.ucSkip;
      return;
    }
    if (st.dest != Dest::Text) return;

    if (w == "par" || w == "sect" || w == "page" || w == "row") {
      EndParagraph(st);
    } else if (w == "line") {
      Raw(st, "<br />");
    } else if (w == "tab" || w == "cell" || w == "nestcell") {
      Text(st, '\t');
    } else if (w == "pard") {
      st.align = Align::Left;
      st.spacing = ParaSpacing{};
    } else if (w == "sb" || w == "sa" || w == "li" || w == "fi") {
      // Bounded so that hostile values cannot push the text out of sight.
      const int v = !hasParam ? 0 : std::clamp(param, w == "fi" ? -14400 : 0, 14400);
      if (w == "sb") st.spacing.before = v;
      if (w == "sa") st.spacing.after = v;
      if (w == "li") st.spacing.left = v;
      if (w == "fi") st.spacing.firstLine = v;
    } else if (w == "ql") {
      st.align = Align::Left;
    } else if (w == "qc") {
      st.align = Align::Center;
    } else if (w == "qr") {
      st.align = Align::Right;
    } else if (w == "qj") {
      st.align = Align::Justify;
    } else if (w == "plain") {
      st.fmt = Format{};
    } else if (w == "b") {
      st.fmt.bold = on();
    } else if (w == "i") {
      st.fmt.italic = on();
    } else if (w == "ul" || w == "uld" || w == "uldb" || w == "ulw" || w == "uldash" ||
               w == "ulth" || w == "ulwave") {
      st.fmt.underline = on();
    } else if (w == "ulnone") {
      st.fmt.underline = false;
    } else if (w == "fs") {
      st.fmt.fontHalfPoints = !hasParam ? 24 : (param < 2 ? 2 : (param > 400 ? 400 : param));
    } else if (w == "cf") {
      st.fmt.color = hasParam && param > 0 ? param : 0;
    } else if (w == "emdash") {
      Text(st, 0x2014);
    } else if (w == "endash") {
      Text(st, 0x2013);
    } else if (w == "bullet") {
      Text(st, 0x2022);
    } else if (w == "lquote") {
      Text(st, 0x2018);
    } else if (w == "rquote") {
      Text(st, 0x2019);
    } else if (w == "ldblquote") {
      Text(st, 0x201C);
    } else if (w == "rdblquote") {
      Text(st, 0x201D);
    } else if (w == "emspace" || w == "enspace" || w == "qmspace") {
      Text(st, ' ');
    }
  }

  void Unicode(State& st, char32_t v) {
    if (v >= 0xD800 && v < 0xDC00) {
      highSurrogate_ = v;
      return;
    }
    if (v >= 0xDC00 && v < 0xE000) {
      if (highSurrogate_ != 0) {
        Text(st, 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (v - 0xDC00));
        highSurrogate_ = 0;
      }
      return;
    }
    Text(st, v);
  }

  void OpenSpan(const Format& f) {
    char buf[64];
    para_ += "<span style=\"";
    int half = f.fontHalfPoints;
    std::snprintf(buf, sizeof buf, "font-size:%d%spt;", half / 2, (half % 2) ? ".5" : "");
    para_ += buf;
    if (f.bold) para_ += "font-weight:bold;";
    if (f.italic) para_ += "font-style:italic;";
    if (f.underline) para_ += "text-decoration:underline;";
    if (f.color > 0 && static_cast<size_t>(f.color) < colors_.size() &&
        !colors_[static_cast<size_t>(f.color)].automatic) {
      const Color& c = colors_[static_cast<size_t>(f.color)];
      std::snprintf(buf, sizeof buf, "color:#%02x%02x%02x;", c.r, c.g, c.b);
      para_ += buf;
    }
    para_ += "\">";
    spanOpen_ = true;
    spanFmt_ = f;
  }

  void CloseSpan() {
    if (spanOpen_) para_ += "</span>";
    spanOpen_ = false;
  }

  void Text(const State& st, char32_t cp) {
    highSurrogate_ = 0;
    if (!spanOpen_ || !(spanFmt_ == st.fmt)) {
      CloseSpan();
      OpenSpan(st.fmt);
    }
    AppendEscaped(para_, cp);
    hasText_ = true;
  }

  void Raw(const State& st, std::string_view html) {
    if (!spanOpen_ || !(spanFmt_ == st.fmt)) {
      CloseSpan();
      OpenSpan(st.fmt);
    }
    para_ += html;
    hasText_ = true;
  }

  void EndParagraph(const State& st) {
    CloseSpan();
    char buf[160];
    // 15 twips make one pixel at 96 dots per inch.
    std::snprintf(buf, sizeof buf,
                  "<p style=\"margin-top:%dpx;margin-bottom:%dpx;margin-left:%dpx;text-indent:%dpx;"
                  "white-space:pre-wrap;",
                  st.spacing.before / 15, st.spacing.after / 15, st.spacing.left / 15,
                  st.spacing.firstLine / 15);
    out_ += buf;
    switch (st.align) {
      case Align::Left: break;
      case Align::Center: out_ += "text-align:center;"; break;
      case Align::Right: out_ += "text-align:right;"; break;
      case Align::Justify: out_ += "text-align:justify;"; break;
    }
    out_ += "\">";
    if (hasText_) {
      out_ += para_;
    } else {
      // An empty paragraph still takes a line of the current size.
      std::snprintf(buf, sizeof buf, "<span style=\"font-size:%dpt;\">&nbsp;</span>",
                    st.fmt.fontHalfPoints / 2);
      out_ += buf;
    }
    out_ += "</p>";
    para_.clear();
    hasText_ = false;
  }

  std::string_view in_;
  RtfLimits limits_;
  size_t pos_ = 0;
  std::vector<State> stack_;
  int unpushed_ = 0;
  int pendingSkip_ = 0;
  char32_t highSurrogate_ = 0;
  std::vector<Color> colors_;
  Color curColor_;
  std::string out_;
  std::string para_;
  bool hasText_ = false;
  bool spanOpen_ = false;
  Format spanFmt_;
};

std::string PlainTextToHtml(std::string_view text) {
  std::string out;
  std::string line;
  auto flush = [&] {
    out += "<p style=\"margin-top:0px;margin-bottom:0px;white-space:pre-wrap;\">";
    out += line.empty() ? std::string("&nbsp;") : line;
    out += "</p>";
    line.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      flush();
    } else if (c == '\n') {
      flush();
    } else {
      AppendEscaped(line, FromCp1252(static_cast<unsigned char>(c)));
    }
  }
  if (!line.empty()) flush();
  return out;
}

}  // namespace

std::string RtfToHtml(std::string_view rtf, const RtfLimits& limits) {
  size_t start = 0;
  while (start < rtf.size() && (rtf[start] == ' ' || rtf[start] == '\r' || rtf[start] == '\n' ||
                                rtf[start] == '\t'))
    ++start;
  if (rtf.substr(start, 5) != "{\\rtf") return PlainTextToHtml(rtf);
  RtfLimits l = limits;
  if (l.maxDepth < 1) l.maxDepth = 1;
  return Reader(rtf.substr(start), l).Run();
}

}  // namespace wizard
