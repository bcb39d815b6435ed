#include "Oru/OruViewer/OruQuestionText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "Oru/OruViewer/OruProgramStart.h"
#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/Gdi/PlatShape.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatSpoof.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"

namespace oru {

namespace {

// ---- what the question and the log show ----------------------------------------------

// How a text is shown: in the log (blanks as blanks), bare in the question
// (a link, a document), as an argument within double quotes, or as the
// path of the program (nothing but printable ASCII).
enum class TShownAs : std::uint8_t { Log, Bare, Argument, Program };

constexpr char16_t kBlankMark = u'\u2423';

// Characters that show nothing, or something else than they are: spaces
// other than the blank, joiners, direction marks and overrides, fillers,
// variation selectors and tags.
bool Invisible(char32_t c) {
  return (c >= 0x80 && c <= 0xA0) || c == 0xAD || c == 0x34F || c == 0x61C || c == 0x115F || c == 0x1160 ||
         c == 0x1680 || c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F) || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x2800 || c == 0x3000 ||
         c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || c == 0xFFA0 || (c >= 0xFFF0 && c <= 0xFFFB) ||
         c == 0xFFFE || c == 0xFFFF || (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0x1D173 && c <= 0x1D17A) ||
         (c >= 0xE0000 && c <= 0xE0FFF);
}

// The question's own marks: the blank's and the control characters'
// pictures (their whole block) and the "[" that begins a code point.
bool IsMark(char32_t c) { return c == u'[' || (c >= 0x2400 && c <= 0x243F); }

WideString CodeText(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "[U+%04X]", unsigned(c));
  return plat::FromUtf8(buf);
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Half a surrogate pair stays a code point of its own.
std::vector<char32_t> CodePoints(std::u16string_view text) {
  std::vector<char32_t> cps;
  cps.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      cps.push_back(0x10000 + ((char32_t(text[i]) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else {
      cps.push_back(text[i]);
    }
  }
  return cps;
}

// The code points of bytes handed to the system. A byte outside a valid
// UTF-8 sequence becomes U+DC80 to U+DCFF, which no valid sequence gives:
// names that differ only there are still shown apart.
std::vector<char32_t> CodePointsOfBytes(std::string_view bytes) {
  std::vector<char32_t> cps;
  cps.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int n = b < 0x80                  ? 1
                  : b >= 0xC2 && b <= 0xDF ? 2
                  : b >= 0xE0 && b <= 0xEF ? 3
                  : b >= 0xF0 && b <= 0xF4 ? 4
                                           : 0;
    char32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    bool valid = n > 0 && i + std::size_t(n) <= bytes.size();
    for (int k = 1; valid && k < n; ++k) {
      const auto t = static_cast<unsigned char>(bytes[i + std::size_t(k)]);
      valid = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    // Over-long forms, surrogates and code points past U+10FFFF are no
    // valid sequence either.
    valid = valid && !(n == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) &&
            !(n == 4 && (c < 0x10000 || c > 0x10FFFF));
    if (valid) {
      cps.push_back(c);
      i += std::size_t(n);
    } else {
      cps.push_back(0xDC00 + b);
      ++i;
    }
  }
  return cps;
}

#include "Oru/OruViewer/OruQuestionGlyphs.inc"

// The font the question's lines are drawn in: a character beyond ASCII
// shows as itself only where the table made from that face says it draws
// clearly apart from every other (a glyph with ink, unlike any ASCII one and
// any other of the table); a mark only where it has a glyph and shows on
// what it stands on.
class TQuestionFont {
public:
  TQuestionFont() : known_(ink_.Ready() && QuestionFaceIsKnown(ink_)) {}
  bool Draws(char32_t c) const {
    if (!known_) return false;
    if (plat::IsCombiningMark(c)) return ink_.HasGlyph(c);
    const auto* run = std::upper_bound(std::begin(kShownAsThemselves), std::end(kShownAsThemselves), c,
                                       [](char32_t x, const char32_t(&r)[2]) { return x < r[0]; });
    return run != std::begin(kShownAsThemselves) && c <= (*(run - 1))[1];
  }
  // Whether the mark at the end of Cluster (a letter and its marks) changes
  // clearly what the rest of it draws.
  bool MarkShows(std::u32string_view cluster) const {
    return known_ && !cluster.empty() &&
           PixelsApart(ink_.Of(cluster.substr(0, cluster.size() - 1)), ink_.Of(cluster)) >= kPixelsApart;
  }

private:
  TQuestionInk ink_;
  bool known_;
};

}  // namespace

TQuestionInk::TQuestionInk() : dc_(plat::CreateCompatibleDC(nullptr)) {
  if (!dc_) return;
  plat::BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = kCellWidth;
  info.bmiHeader.biHeight = -kCellHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  bitmap_ = reinterpret_cast<plat::HGDIOBJ>(
      plat::CreateDIBSection(dc_, &info, plat::DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap_ || !bits) return;
  oldBitmap_ = plat::SelectObject(dc_, bitmap_);
  oldFont_ = plat::SelectObject(dc_, plat::GetStockObject(plat::DEFAULT_GUI_FONT));
  plat::SetBkMode(dc_, plat::TRANSPARENT);
  // The dialog's colours: its text on its face.
  plat::SetTextColor(dc_, plat::GetSysColor(plat::COLOR_WINDOWTEXT));
  const std::uint32_t face = plat::GetSysColor(plat::COLOR_BTNFACE);
  background_ = 0xFF000000u | ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
  bits_ = static_cast<std::uint32_t*>(bits);
}

TQuestionInk::~TQuestionInk() {
  if (!dc_) return;
  if (oldFont_) plat::SelectObject(dc_, oldFont_);
  if (oldBitmap_) plat::SelectObject(dc_, oldBitmap_);
  if (bitmap_) plat::DeleteObject(bitmap_);
  plat::DeleteDC(dc_);
}

WideString TQuestionInk::Face() const {
  char16_t name[64] = {};
  return dc_ && plat::GetTextFaceW(dc_, 64, name) > 0 ? WideString(name) : WideString();
}

std::int32_t TQuestionInk::Height() const {
  plat::TEXTMETRICW metrics{};
  return dc_ && plat::GetTextMetricsW(dc_, &metrics) ? metrics.tmHeight : 0;
}

bool TQuestionInk::HasGlyph(char32_t c) const { return dc_ && plat::HasGlyph(dc_, c); }

std::vector<std::uint8_t> TQuestionInk::Of(std::u32string_view text) const {
  std::vector<std::uint8_t> ink(std::size_t(kCellWidth) * kCellHeight, 0);
  if (!bits_) return ink;
  std::fill(bits_, bits_ + ink.size(), background_);
  WideString units;
  for (const char32_t c : text) {
    if (c >= 0x10000 && c <= 0x10FFFF) {
      units += char16_t(0xD800 + ((c - 0x10000) >> 10));
      units += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += char16_t(c > 0xFFFF ? 0xFFFD : c);
    }
  }
  if (!units.empty()) plat::ExtTextOutW(dc_, kTextX, kTextY, 0, nullptr, units.c_str(), plat::UINT(units.size()), nullptr);
  for (std::size_t i = 0; i < ink.size(); ++i) {
    int most = 0;
    for (int shift = 0; shift < 24; shift += 8)
      most = std::max(most, std::abs(int((bits_[i] >> shift) & 0xFF) - int((background_ >> shift) & 0xFF)));
    ink[i] = std::uint8_t(most);
  }
  return ink;
}

int PixelsApart(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  int apart = int(std::max(a.size(), b.size()) - n);
  for (std::size_t i = 0; i < n; ++i) apart += std::abs(int(a[i]) - int(b[i])) > kInkApart;
  return apart;
}

bool QuestionFaceIsKnown(const TQuestionInk& ink) {
  return ink.Face() == WideString(kQuestionFace) && ink.Height() == kQuestionFaceHeight;
}

namespace {

// The text shown so that two texts that differ never look the same: the
// blank as "␣" (in the log as itself), control characters as their
// pictures, and as "[U+XXXX]" invisible characters, the marks themselves
// where they stand in the text, every character that does not read as
// itself (in the question also one its font has no glyph for), and in a
// program's path anything but printable ASCII.
WideString ShownText(const std::vector<char32_t>& cps, TShownAs as) {
  std::vector<bool> reads;
  if (as == TShownAs::Log) {
    reads = plat::ReadsAsItself(std::u32string_view(cps.data(), cps.size()));
  } else if (as != TShownAs::Program) {
    const TQuestionFont font;
    const std::u32string_view text(cps.data(), cps.size());
    reads = plat::ReadsAsItself(text, [&font](char32_t c) { return font.Draws(c); });
    // A mark that its letter hides (a dot on a letter that has one) reads
    // as nothing; the marks after it then stand on no readable mark.
    std::size_t base = 0;
    for (std::size_t i = 0; i < cps.size(); ++i) {
      if (!plat::IsCombiningMark(cps[i])) {
        base = i;
        continue;
      }
      if (reads[i] && (i == 0 || !reads[i - 1] || !font.MarkShows(text.substr(base, i + 1 - base)))) reads[i] = false;
    }
  }
  WideString out;
  out.reserve(cps.size());
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const char32_t c = cps[i];
    if (c == u' ') {
      out += as == TShownAs::Log ? u' ' : kBlankMark;
    } else if (as == TShownAs::Program) {
      if (c > 0x20 && c < 0x7F && c != u'[' && c != u'"') out += char16_t(c);
      else out += CodeText(c);
    } else if (c < 0x20) {
      out += char16_t(0x2400 + c);  // the control pictures
    } else if (c == 0x7F) {
      out += u'\u2421';
    } else if (IsMark(c) || (c == u'"' && as == TShownAs::Argument) || Invisible(c) || !reads[i]) {
      out += CodeText(c);
    } else if (c >= 0x10000) {
      out += char16_t(0xD800 + ((c - 0x10000) >> 10));
      out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

// A show's text in the log, one line whatever it holds, shown as the
// question shows it but with its blanks.

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The host a link names ("scheme://user@host:port/..."; for the web's
// schemes also with other slashes or none, as browsers read them), its
// percent escapes decoded; empty for a link that names none, for an
// address in brackets and for a "file:" link.
std::string LinkHost(const std::string& link) {
  const std::size_t colon = link.find(':');
  if (colon == std::string::npos) return {};
  std::string scheme = link.substr(0, colon);
  for (char& c : scheme)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  if (scheme == "file") return {};
  const bool web = scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ws" || scheme == "wss";
  std::size_t a = colon + 1;
  if (web) {
    while (a < link.size() && (link[a] == '/' || link[a] == '\\')) ++a;
  } else {
    if (link.compare(a, 2, "//") != 0) return {};
    a += 2;
  }
  const std::size_t b = std::min(link.size(), link.find_first_of(web ? "/\\?#" : "/?#", a));
  std::string host = link.substr(a, b - a);
  const std::size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  if (!host.empty() && host[0] == '[') return {};
  host = host.substr(0, host.find(':'));
  std::string decoded;
  for (std::size_t i = 0; i < host.size(); ++i) {
    if (host[i] == '%' && i + 2 < host.size() && HexValue(char16_t(static_cast<unsigned char>(host[i + 1]))) >= 0 &&
        HexValue(char16_t(static_cast<unsigned char>(host[i + 2]))) >= 0) {
      decoded += char(HexValue(char16_t(static_cast<unsigned char>(host[i + 1]))) * 16 +
                      HexValue(char16_t(static_cast<unsigned char>(host[i + 2]))));
      i += 2;
    } else {
      decoded += host[i];
    }
  }
  return decoded;
}

// What the question shows for a start: the program that would run (its
// path with links followed) and each argument it gets in double quotes; a
// document's path; a link as the opener gets it. Empty when nothing would
// start.
WideString StartText(const plat::TShellStart& plan) {
  using TKind = plat::TShellStart::TKind;
  switch (plan.Kind) {
    case TKind::Link: {
      const WideString link = WithoutAttachments(plat::FromUtf8(plan.Target));
      WideString text = ShownText(CodePoints(link), TShownAs::Bare);
      // The name the browser looks up, after a blank (the link's own
      // blanks show as "␣").
      const std::string host = LinkHost(plat::ToUtf8(link));
      if (std::any_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        std::string ascii;
        // Shown as any text is: IDNA lets control characters through.
        text += plat::HostNameToAscii(host, ascii)
                    ? u" (host " + ShownText(CodePoints(plat::FromUtf8(ascii)), TShownAs::Bare) + u")"
                    : WideString(u" (host with no ASCII form)");
      }
      return text;
    }
    case TKind::Document: return ShownText(CodePointsOfBytes(plan.Target), TShownAs::Bare);
    case TKind::Program: break;
    default: return {};
  }
  // Where the file the plan opened lies: what would start, whatever the
  // path leads to by now.
  const std::string real = plan.Run.Files.empty() ? plat::RealPath(plan.Target) : plan.Run.Files.front()->RealPath();
  WideString text = ShownText(CodePointsOfBytes(real.empty() ? plan.Target : real), TShownAs::Program);
  for (std::size_t i = 1; i < plan.Argv.size(); ++i)
    text += u" \"" + ShownText(CodePointsOfBytes(plan.Argv[i]), TShownAs::Argument) + u"\"";
  return text;
}

}  // namespace

WideString Logged(const WideString& text) { return ShownText(CodePoints(text), TShownAs::Log); }

WideString LoggedStart(const WideString& commandLine) {
  constexpr std::size_t kShown = 1000;
  if (commandLine.size() <= kShown) return Logged(commandLine);
  std::size_t cut = kShown;
  if (IsLow(commandLine[cut])) --cut;  // never half a pair
  return Logged(commandLine.substr(0, cut)) + u"\u2026 (" + plat::FromUtf8(std::to_string(commandLine.size())) +
         u" characters)";
}

WideString QuestionText(const WideString& command, const WideString& folder) {
  return StartText(PlanCommand(command, folder));
}

WideString QuestionText(const plat::TShellStart& plan) { return StartText(plan); }

WideString VisibleCommand(const WideString& command) { return ShownText(CodePoints(command), TShownAs::Bare); }

std::vector<TQuestionLine> QuestionLines(const std::vector<WideString>& texts, int maxWidth,
                                         const std::function<int(const WideString&)>& width) {
  std::vector<TQuestionLine> lines;
  for (const WideString& shown : texts) {
    bool continued = false;
    std::size_t pos = 0;
    while (pos < shown.size()) {
      // The longest piece from Pos that fits (one character at least).
      std::size_t lo = 1, hi = shown.size() - pos;
      while (lo < hi) {
        const std::size_t mid = lo + (hi - lo + 1) / 2;
        if (width(shown.substr(pos, mid)) <= maxWidth) lo = mid;
        else hi = mid - 1;
      }
      std::size_t n = lo;
      // Never half a surrogate pair.
      if (pos + n < shown.size() && IsLow(shown[pos + n])) n = n > 1 ? n - 1 : n + 1;
      if (pos + n < shown.size()) {
        // After a blank, a folder separator or a comma in the later half.
        for (std::size_t k = n; k > n / 2; --k) {
          const char16_t c = shown[pos + k - 1];
          if (c == u' ' || c == kBlankMark || c == u'/' || c == u'\\' || c == u',') {
            n = k;
            break;
          }
        }
      }
      lines.push_back({shown.substr(pos, n), continued});
      continued = true;
      pos += n;
    }
  }
  return lines;
}

}  // namespace oru
