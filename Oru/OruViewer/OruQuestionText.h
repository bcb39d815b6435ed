#pragma once
// What the start question shows of a command line, and the log of it: each
// command as it would start, every character either as itself where it
// cannot be misread or as its code point, so that two command lines that
// differ never look the same.
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/zmTypes.h"

namespace plat {
struct TShellStart;
}

namespace oru {

using zm::WideString;

// A text as the question shows it, so that two texts that differ never
// look the same: each blank as "␣", control characters (line ends, tabs)
// as their pictures, and as "[U+XXXX]" other invisible characters
// (direction marks, zero-width and unusual spaces), the question's own
// marks where the text holds them ("[", "␣" and the other pictures), and
// every character that does not read as itself (plat::ReadsAsItself: a
// look-alike in the confusables data as Cyrillic "а" or "∕", a letter
// written apart from its mark, a mark on no letter ...) or that the
// question's font does not draw as its own (no glyph, as Han in DejaVu
// Sans; or one it draws exactly as another's).
WideString VisibleCommand(const WideString& command);

// A text drawn as the question draws its lines (in its font and colours),
// pixel by pixel: each pixel's difference from the background by the
// largest of its colour channels (0 to 255), in a cell of kCellWidth x
// kCellHeight with the text at (kTextX, kTextY). Made on the thread that
// uses it.
class TQuestionInk {
public:
  static constexpr int kCellWidth = 80, kCellHeight = 40, kTextX = 20, kTextY = 10;
  TQuestionInk();
  ~TQuestionInk();
  TQuestionInk(const TQuestionInk&) = delete;
  TQuestionInk& operator=(const TQuestionInk&) = delete;
  // False when nothing can be drawn.
  bool Ready() const { return bits_ != nullptr; }
  // The face the question's font resolves to, and its cell height.
  WideString Face() const;
  std::int32_t Height() const;
  bool HasGlyph(char32_t c) const;
  std::vector<std::uint8_t> Of(std::u32string_view text) const;

private:
  plat::HDC dc_ = nullptr;
  plat::HGDIOBJ bitmap_ = nullptr, oldBitmap_ = nullptr, oldFont_ = nullptr;
  std::uint32_t* bits_ = nullptr;
  std::uint32_t background_ = 0;
};
// Two texts draw clearly apart when at least this many pixels differ by
// more than kInkApart of 255.
inline constexpr int kPixelsApart = 12;
inline constexpr int kInkApart = 40;
// How many pixels of two drawings differ by more than kInkApart.
int PixelsApart(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
// Whether the question's font is the face the table of characters shown as
// themselves was made for (OruQuestionGlyphs.inc); only then does any
// character beyond ASCII show as itself.
bool QuestionFaceIsKnown(const TQuestionInk& ink);

// One command as the question shows it: the path of the program that
// would run (links followed; every character outside printable ASCII as
// "[U+XXXX]") followed by each argument it gets, in double quotes (a quote
// in it as "[U+0022]"); a document's path, or a link as the desktop's
// opener gets it, as VisibleCommand shows them. A link whose host holds
// anything beyond ASCII (also percent-encoded) is followed by a blank and
// "(host NAME)", NAME the ASCII form a browser looks up, or by "(host with
// no ASCII form)". Empty when the command would start nothing (the program
// is not found).
WideString QuestionText(const WideString& command, const WideString& folder);
// The same of a start already planned.
WideString QuestionText(const plat::TShellStart& plan);

// One line of the question's list.
struct TQuestionLine {
  WideString Text;
  bool Continued = false;  // goes on with the command of the line above
};
// Each text (as shown) broken into lines no wider than MaxWidth as Width
// measures them, after a blank, "␣", "/", "\" or "," where one fits, else
// where it must; nothing is left out.
std::vector<TQuestionLine> QuestionLines(const std::vector<WideString>& texts, int maxWidth,
                                         const std::function<int(const WideString&)>& width);

// A show's text in the log, one line whatever it holds, shown as the
// question shows it but with its blanks.
WideString Logged(const WideString& text);
// A command line in the log: Logged, but of a long one only its first 1,000
// characters, followed by how many it holds.
WideString LoggedStart(const WideString& commandLine);

}  // namespace oru
