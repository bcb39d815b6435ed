// Writes the table of the characters beyond ASCII that the start question
// shows as themselves, made from the face its lines are drawn in (DejaVu
// Sans at the question's size, the dialog's colours):
//   <source root>/Oru/OruViewer/OruQuestionGlyphs.inc
// A character is in it when it reads as itself by Unicode's rules alone
// (plat::ReadsAsItself; marks, which read by what they stand on, are left
// to the question), its glyph has ink, and it draws clearly apart (at least
// kPixelsApart pixels differing by more than kInkApart of 255) from every
// printable ASCII character, from the question's own marks ("␣" and the
// control pictures) and from every character already in the table. The
// characters Unicode recommends for identifiers are taken first, the others
// after them, each group in code point order: of two that draw alike the
// one in common use stays.
//
// Usage: zm_gen_question_glyphs [--check] <source root>
// The table is committed; the build target question_glyphs writes it again,
// and with --check (a test) it only reports whether it is current (exit 77,
// skipped, when the system's face is not the one it was made from).
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Oru/OruViewer/OruModules.h"
#include "Oru/OruViewer/OruRunProgram.h"
#include "Platform/PlatSpoof.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmModules.h"

namespace {

constexpr const char* kGlyphTablePath = "/Oru/OruViewer/OruQuestionGlyphs.inc";
constexpr std::size_t kPixels = std::size_t(oru::TQuestionInk::kCellWidth) * oru::TQuestionInk::kCellHeight;
constexpr std::size_t kWords = (kPixels + 63) / 64;

// A drawing and, to rule out most pairs at once, where it surely differs:
// pixels of little ink (at most 20) and of much (above 60), which differ
// by more than 40 wherever one meets the other.
struct TDrawn {
  char32_t C = 0;
  std::vector<std::uint8_t> Ink;
  std::array<std::uint64_t, kWords> Faint{}, Strong{};
};

TDrawn Draw(const oru::TQuestionInk& ink, char32_t c) {
  TDrawn d;
  d.C = c;
  d.Ink = ink.Of(std::u32string_view(&c, 1));
  for (std::size_t i = 0; i < kPixels; ++i) {
    if (d.Ink[i] <= 20) d.Faint[i / 64] |= std::uint64_t(1) << (i % 64);
    if (d.Ink[i] > 60) d.Strong[i / 64] |= std::uint64_t(1) << (i % 64);
  }
  return d;
}

bool Alike(const TDrawn& a, const TDrawn& b) {
  int surely = 0;
  for (std::size_t w = 0; w < kWords && surely < oru::kPixelsApart; ++w)
    surely += std::popcount((a.Faint[w] & b.Strong[w]) | (a.Strong[w] & b.Faint[w]));
  return surely < oru::kPixelsApart && oru::PixelsApart(a.Ink, b.Ink) < oru::kPixelsApart;
}

std::string Hex(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", unsigned(c));
  return buf;
}

std::string MakeTable(const oru::TQuestionInk& ink) {
  std::vector<TDrawn> references;
  for (char32_t c = 0x21; c < 0x7F; ++c) references.push_back(Draw(ink, c));
  for (char32_t c = 0x2400; c <= 0x2421; ++c) references.push_back(Draw(ink, c));
  references.push_back(Draw(ink, 0x2423));

  std::vector<char32_t> common, others;
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || !ink.HasGlyph(c) || plat::IsCombiningMark(c)) continue;
    if (!plat::ReadsAsItself(std::u32string_view(&c, 1))[0]) continue;
    (plat::RecommendedInIdentifiers(c) ? common : others).push_back(c);
  }
  std::vector<TDrawn> kept;
  std::vector<char32_t> shown;
  for (const std::vector<char32_t>* group : {&common, &others})
    for (const char32_t c : *group) {
      TDrawn d = Draw(ink, c);
      if (std::none_of(d.Ink.begin(), d.Ink.end(), [](std::uint8_t v) { return v > oru::kInkApart; })) continue;
      const auto alike = [&d](const TDrawn& o) { return Alike(d, o); };
      if (std::any_of(references.begin(), references.end(), alike) || std::any_of(kept.begin(), kept.end(), alike))
        continue;
      shown.push_back(c);
      kept.push_back(std::move(d));
    }
  std::sort(shown.begin(), shown.end());

  std::ostringstream out;
  out << "// The characters beyond ASCII that the start question shows as themselves:\n"
         "// written by tools/GenQuestionGlyphs.cpp (\"cmake --build <dir> --target\n"
         "// question_glyphs\") from the face below at the question's size; not to be\n"
         "// edited. " << shown.size() << " characters.\n"
      << "inline constexpr char16_t kQuestionFace[] = u\"" << plat::ToUtf8(ink.Face()) << "\";\n"
      << "inline constexpr int kQuestionFaceHeight = " << ink.Height() << ";\n"
      << "// The first and last of each run, in order.\n"
      << "inline constexpr char32_t kShownAsThemselves[][2] = {\n";
  std::string line = "   ";
  for (std::size_t i = 0; i < shown.size();) {
    std::size_t j = i;
    while (j + 1 < shown.size() && shown[j + 1] == shown[j] + 1) ++j;
    const std::string run = " {" + Hex(shown[i]) + ", " + Hex(shown[j]) + "},";
    if (line.size() + run.size() > 116) {
      out << line << "\n";
      line = "   ";
    }
    line += run;
    i = j + 1;
  }
  out << line << "\n};\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::cerr << "usage: zm_gen_question_glyphs [--check] <source root>\n";
    return 2;
  }
  const std::string path = std::string(argv[check ? 2 : 1]) + kGlyphTablePath;
  zm::TModuleRunner modules(oru::ProgramModules());
  const oru::TQuestionInk ink;
  if (!ink.Ready()) {
    std::cerr << "zm_gen_question_glyphs: nothing can be drawn\n";
    return 1;
  }
  if (ink.Face() != u"DejaVu Sans") {
    std::cerr << "zm_gen_question_glyphs: the question's font is " << plat::ToUtf8(ink.Face())
              << ", not DejaVu Sans (fonts-dejavu-core): the table is made from that face\n";
    return check ? 77 : 1;
  }
  const std::string table = MakeTable(ink);
  if (check) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream was;
    was << in.rdbuf();
    if (was.str() != table) {
      std::cerr << "zm_gen_question_glyphs: " << path << " is not what the face gives; run the question_glyphs target\n";
      return 1;
    }
    return 0;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << table;
  if (!out) {
    std::cerr << "zm_gen_question_glyphs: cannot write " << path << "\n";
    return 1;
  }
  return 0;
}
