#pragma once
// A small reader for the rich text that word processors save, enough to show
// the information text of the start page: paragraphs with alignment, bold,
// italic, underline, font sizes, colours, \'xx and \u escapes, line breaks and
// tabs. Lists and tables are degraded to plain paragraphs, pictures, fields
// results aside, and every destination it does not know is skipped. It never
// fails on bad input: it reads what it can and returns HTML that
// QTextDocument::setHtml understands. Plain C++ so that it can be fuzzed
// without a GUI.
#include <string>
#include <string_view>

namespace wizard {

struct RtfLimits {
  // Groups nested deeper than this are read as plain text of the enclosing
  // group, so hostile nesting cannot exhaust the stack or the memory.
  int maxDepth = 256;
};

// The HTML body (a sequence of <p> elements) for `rtf`. Text that does not
// start with "{\rtf" is taken as plain Windows-1252 text, one paragraph per
// line, as a rich-text box shows such a file.
std::string RtfToHtml(std::string_view rtf, const RtfLimits& limits = {});

}  // namespace wizard
