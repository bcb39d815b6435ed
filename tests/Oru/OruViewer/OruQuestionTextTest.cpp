// What the question shows of a command: every command whole as it would
// start, so that two commands that differ never look the same, each
// character as itself only where it cannot be misread.
#include <gtest/gtest.h>

#include "tests/Oru/OruViewer/ShowStartsKit.h"

using namespace oru;
using namespace orutest;

TEST(QuestionText, TheQuestionShowsEveryCommandWhole) {
  EXPECT_EQ(VisibleCommand(u"a b\tc\r\n\x7f"), u"a\u2423b\u2409c\u240D\u240A\u2421");
  EXPECT_EQ(VisibleCommand(u"x\u202Ey\u00A0z\u200B"), u"x[U+202E]y[U+00A0]z[U+200B]");
  EXPECT_EQ(VisibleCommand(u"\U0001F600 \U000E0041"), u"\U0001F600\u2423[U+E0041]");
  EXPECT_EQ(VisibleCommand(WideString(1, char16_t(0xD800)) + u"a"), u"[U+D800]a");

  // The blanks that pushed a second command out of sight: it has a line of
  // its own. Lines break after a blank or a "/", never inside a pair.
  const auto count = [](const WideString& s) { return int(s.size()); };
  const std::vector<WideString> commands =
      SplitCommands(u"/usr/bin/evince readme.pdf" + WideString(150, u' ') + u",/usr/bin/cmake -E rm -f FILE, " +
                    WideString(45, u'x') + u"\U0001F600y");
  std::vector<WideString> shown;
  for (const WideString& c : commands) shown.push_back(VisibleCommand(c));
  const std::vector<TQuestionLine> lines = QuestionLines(shown, 20, count);
  std::vector<WideString> whole;
  for (const TQuestionLine& l : lines) {
    EXPECT_LE(l.Text.size(), 20u);
    EXPECT_FALSE(l.Text.empty());
    if (l.Continued) whole.back() += l.Text;
    else whole.push_back(l.Text);
  }
  ASSERT_EQ(whole.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(whole[i], VisibleCommand(commands[i]));
  EXPECT_EQ(lines[0].Text, u"/usr/bin/evince\u2423");
  EXPECT_EQ(lines[2].Text, u"/usr/bin/cmake\u2423-E\u2423");
  for (const TQuestionLine& l : lines) EXPECT_FALSE(l.Text.back() >= 0xD800 && l.Text.back() <= 0xDBFF);

  // A list longer than the screen holds is never asked: nothing starts.
  WideString many;
  for (int i = 0; i < 500; ++i) many += u"http://127.0.0.1:9/" + plat::FromUtf8(std::to_string(i)) + u",";
  TAnswers answers({true});
  EXPECT_FALSE(zm::MakeRef<TOruStartDialog>(many)->Whole());
  EXPECT_FALSE(AskToStart(nullptr, many));
  EXPECT_TRUE(answers.Asked.empty());
  zm::TRef<TOruStartDialog> two = zm::MakeRef<TOruStartDialog>(u"/usr/bin/true a, /usr/bin/true b");
  EXPECT_TRUE(two->Whole());
  EXPECT_EQ(two->LineCount(), 2);
}

// Each pair is drawn by the question as the user sees it: a program whose
// name holds "␣" and a program with an argument; a literal "[U+200B]" and
// the character; folders of right-to-left letters and digits in either
// order (which bidirectional layout draws alike); Cyrillic letters in a
// Latin word; one argument holding a blank and two; the picture of a line
// end and the line end; a Cyrillic letter in the program's path. Then words
// wholly of look-alikes (Cyrillic, Greek, Hebrew, mathematical letters), a
// letter and its decomposed form, look-alike punctuation, a private-use
// character and an unassigned one, characters the font has no glyph for,
// characters the font draws alike, and links whose hosts look alike.
TEST(QuestionText, TwoCommandsThatDifferNeverLookTheSame) {
  zmtest::TTempDir dir;
  Executable(dir, "eog", "#!/bin/true\n");
  Executable(dir, "eog\u2423holiday.jpg", "#!/bin/true\n");
  Executable(dir, "\u0435og", "#!/bin/true\n");
  const WideString eog = plat::FromUtf8((dir.Path() / "eog").string());
  const WideString cyrillicEog = plat::FromUtf8((dir.Path() / "\u0435og").string());
  const std::vector<std::pair<WideString, WideString>> pairs = {
      {eog + u"\u2423holiday.jpg", eog + u" holiday.jpg"},
      {eog + u" [U+200B]", eog + u" \u200B"},
      {eog + u" /tmp/t/\u05D0\u05D1/12/PWN", eog + u" /tmp/t/12/\u05D0\u05D1/PWN"},
      {eog + u" /tmp/t/\u05D0\u05D1/\u05D2\u05D3/../../PWN", eog + u" /tmp/t/\u05D2\u05D3/\u05D0\u05D1/../../PWN"},
      {eog + u" PWN-\u0430\u0435", eog + u" PWN-ae"},
      {eog + u" \"a b\"", eog + u" a b"},
      {eog + u" \"a\u240Ab\"", eog + u" \"a\nb\""},
      {cyrillicEog + u" x", eog + u" x"},
      {eog + u" " + dir.Wide("ape"), eog + u" " + dir.Wide("\u0430\u0440\u0435")},
      {eog + u" ABE", eog + u" \u0391\u0392\u0395"},
      {eog + u" caf\u00E9", eog + u" cafe\u0301"},
      {eog + u" /tmp/a/b", eog + u" /tmp/a\u2215b"},
      {eog + u" --x", eog + u" \u2010\u2010x"},
      {eog + u" \uE000", eog + u" \u0378"},
      {eog + u" apple", eog + u" \U0001D5BA\U0001D5C9\U0001D5C9\U0001D5C5\U0001D5BE"},
      {eog + u" o", eog + u" \u03BF"},
      {eog + u" l", eog + u" \u05D5"},
      {eog + u" \u4E2D\u6587", eog + u" \u65E5\u672C"},
      {eog + u" Q", eog + u" \u051A"},
      {eog + u" \u0427", eog + u" \uA78D"},
      {u"https://apple.com/", u"https://\u0430\u0440\u0440\u04CF\u0435.com/"},
      {u"https://xn--80ak6aa92e.com/", u"https://\u0430\u0440\u0440\u04CF\u0435.com/"},
      {u"https://apple.com/caf\u00E9", u"https://apple.com/cafe\u0301"},
  };
  TQuestionPixels question;
  const std::vector<std::uint32_t> once = question.Of(pairs[0].second);
  ASSERT_FALSE(once.empty());
  EXPECT_EQ(question.Of(pairs[0].second), once);  // the same command looks the same
  for (const auto& [a, b] : pairs) {
    const std::vector<std::uint32_t> first = question.Of(a), second = question.Of(b);
    ASSERT_FALSE(first.empty()) << plat::ToUtf8(a);
    ASSERT_FALSE(second.empty()) << plat::ToUtf8(b);
    EXPECT_NE(first, second) << plat::ToUtf8(a) << " | " << plat::ToUtf8(b);
  }
}

TEST(QuestionText, TheQuestionNamesWhatWouldRunAndTheLogWritesWhatItShows) {
  zmtest::TTempDir dir;
  const std::string eog = std::filesystem::canonical(Executable(dir, "real/eog", "#!/bin/true\n")).string();
  std::filesystem::create_directories(dir.Path() / "bin");
  std::filesystem::create_symlink(eog, dir.Path() / "bin" / "viewer");
  Executable(dir, "bin/\u00E9og", "#!/bin/true\n");
  const std::string picture = dir.Write("pictures/holiday.jpg", "\xFF\xD8\xFF\xE0");
  const std::string bin = std::filesystem::canonical(dir.Path() / "bin").string();
  const auto text = [](const std::string& utf8) { return plat::ToUtf8(QuestionText(plat::FromUtf8(utf8), {})); };

  // The program by the path that runs; each argument in its quotes, marks
  // and invisible characters as code points; letters as they are where they
  // cannot be misread, look-alikes (Cyrillic о, п ..., the katakana タ,
  // Hebrew ב, which the question's font draws nearly as כ) and what that
  // font has no glyph for (Han) as code points.
  EXPECT_EQ(text(bin + "/viewer [x] \u2423 \u200B PWN-\u0430\u0435 \u05D0\u05D1 \u6771\u4EAC\u30BF\u30EF\u30FC "
                       "\u043E\u0442\u043F\u0443\u0441\u043A.jpg"),
            eog + " \"[U+005B]x]\" \"[U+2423]\" \"[U+200B]\" \"PWN-[U+0430][U+0435]\" \"\u05D0[U+05D1]\" "
                  "\"[U+6771][U+4EAC][U+30BF][U+30EF][U+30FC]\" \"[U+043E][U+0442][U+043F][U+0443][U+0441][U+043A].jpg\"");
  // A quote makes the parameters one argument, as the start passes them.
  EXPECT_EQ(text(bin + "/viewer -x \"b c\""), eog + " \"-x\u2423b\u2423c\"");
  EXPECT_EQ(text(bin + "/\u00E9og"), bin + "/[U+00E9]og");
  EXPECT_EQ(text(picture), picture);
  EXPECT_EQ(text("mailto:a@b?attach=/etc/shadow&subject=x"), "mailto:a@b?subject=x");
  EXPECT_EQ(text(bin + "/nothing x"), "");

  // Not found: not asked, but logged; a found command beside it is asked
  // for alone. The log writes what the question showed.
  auto* log = new TStartLog;
  zm::SetLog(log);
  TAnswers answers({});
  TStartAnswers show;
  EXPECT_FALSE(ShowMayStart(nullptr, show, u"/usr/bin/touch\u2423/tmp/PWN", {}, true));
  EXPECT_TRUE(answers.Asked.empty());
  EXPECT_EQ(log->Taken(), std::vector<std::string>{"Not started (not found): /usr/bin/touch[U+2423]/tmp/PWN"});
  const std::string line = "/usr/bin/touch\u2423/tmp/PWN, " + bin + "/viewer \u200B\u202Ex";
  EXPECT_FALSE(ShowMayStart(nullptr, show, plat::FromUtf8(line), {}, true));
  const std::string shown = eog + " \"[U+200B][U+202E]x\"";
  EXPECT_EQ(answers.Asked, std::vector<std::vector<std::string>>{{shown}});
  EXPECT_EQ(log->Taken(), (std::vector<std::string>{"Start question: " + shown + ": Don't start",
                                                    "Not started: /usr/bin/touch[U+2423]/tmp/PWN, " + bin +
                                                        "/viewer [U+200B][U+202E]x"}));
  zm::SetLog(nullptr);
}

// A character shows as itself only where it cannot be misread: letters of
// any script the question's font draws clearly apart from every other, in
// NFC, each its own skeleton; anything else as its code point, in the
// question and in the log alike. Letters with accents differ from the plain
// ones in a few pixels at the question's size: they show as code points. A
// link's host beyond ASCII is followed by the name a browser looks up.
TEST(QuestionText, EachCharacterShowsAsItselfOnlyWhereItCannotBeMisread) {
  EXPECT_EQ(VisibleCommand(u"Gr\u00FC\u00DFe caf\u00E9 \u03BB \u05D0\u05D1 \u0436"),
            u"Gr[U+00FC]\u00DFe\u2423caf[U+00E9]\u2423\u03BB\u2423\u05D0[U+05D1]\u2423\u0436");
  EXPECT_EQ(VisibleCommand(u"\u0430 \u03BF \u05D5 \u2215 \u2010 \U0001D5BA cafe\u0301"),
            u"[U+0430]\u2423[U+03BF]\u2423[U+05D5]\u2423[U+2215]\u2423[U+2010]\u2423[U+1D5BA]\u2423cafe[U+0301]");
  // Letters the question's font has no glyph for; the twins it draws alike.
  EXPECT_EQ(VisibleCommand(u"\u4E2D\u6587 Q\u051A"), u"[U+4E2D][U+6587]\u2423Q[U+051A]");

  zmtest::TTempDir dir;
  const std::string eog = std::filesystem::canonical(Executable(dir, "eog", "#!/bin/true\n")).string();
  const auto text = [](const std::string& utf8) { return plat::ToUtf8(QuestionText(plat::FromUtf8(utf8), {})); };
  EXPECT_EQ(text(eog + " \u00DCbersicht.jpg \u00A0x"), eog + " \"[U+00DC]bersicht.jpg\" \"[U+00A0]x\"");
  EXPECT_EQ(text("https://\u0430\u0440\u0440\u04CF\u0435.com/caf\u00E9"),
            "https://[U+0430][U+0440][U+0440][U+04CF][U+0435].com/caf[U+00E9] (host xn--80ak6aa92e.com)");
  EXPECT_EQ(text("http://user@M\u00FCnchen.de:8080/x"), "http://user@M[U+00FC]nchen.de:8080/x (host xn--mnchen-3ya.de)");
  // Percent-encoded, with a browser's other slashes: the host it looks up.
  EXPECT_EQ(text("HTTPS:\\\\%D0%B0pple.com\\x"), "HTTPS:\\\\%D0%B0pple.com\\x (host xn--pple-43d.com)");
  EXPECT_EQ(text("https://a\u200Db.com/"), "https://a[U+200D]b.com/ (host with no ASCII form)");
  EXPECT_EQ(text("https://apple.com/\u0430"), "https://apple.com/[U+0430]");
  EXPECT_EQ(text("mailto:a@\u0430pple.com"), "mailto:a@[U+0430]pple.com");

  // The log writes the command as the question would, its blanks as blanks.
  auto* log = new TStartLog;
  zm::SetLog(log);
  TStartAnswers show;
  EXPECT_FALSE(ShowMayStart(nullptr, show, u"/nothing/\u0430pple \u4E2D", {}, true));
  EXPECT_EQ(log->Taken(), std::vector<std::string>{"Not started (not found): /nothing/[U+0430]pple \u4E2D"});
  zm::SetLog(nullptr);
}

// No two characters the question shows as themselves draw alike in its
// font: every character it has a glyph for, drawn alone.
TEST(QuestionText, NoTwoCharactersShownAsThemselvesDrawAlike) {
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  plat::BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = 48;
  info.bmiHeader.biHeight = -40;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  auto bitmap = reinterpret_cast<plat::HGDIOBJ>(plat::CreateDIBSection(dc, &info, plat::DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_NE(bits, nullptr);
  plat::HGDIOBJ oldBitmap = plat::SelectObject(dc, bitmap);
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, plat::GetStockObject(plat::DEFAULT_GUI_FONT));
  plat::SetBkMode(dc, plat::TRANSPARENT);
  std::map<std::vector<std::uint32_t>, char32_t> drawn;
  std::vector<std::string> alike;
  int shown = 0;
  for (char32_t c = 0x21; c <= 0x10FFFF; ++c) {
    if (!plat::HasGlyph(dc, c)) continue;
    const WideString one = c < 0x10000 ? WideString(1, char16_t(c))
                                       : WideString{char16_t(0xD800 + ((c - 0x10000) >> 10)),
                                                    char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))};
    if (VisibleCommand(one) != one) continue;
    ++shown;
    auto* px = static_cast<std::uint32_t*>(bits);
    std::fill(px, px + 48 * 40, 0xFFFFFFFFu);
    plat::ExtTextOutW(dc, 12, 8, 0, nullptr, one.c_str(), plat::UINT(one.size()), nullptr);
    plat::SIZE size{};
    plat::GetTextExtentPoint32W(dc, one.c_str(), int(one.size()), &size);
    std::vector<std::uint32_t> key(px, px + 48 * 40);
    key.push_back(std::uint32_t(size.cx));
    const auto [it, added] = drawn.emplace(std::move(key), c);
    if (!added) alike.push_back(std::to_string(unsigned(it->second)) + " " + std::to_string(unsigned(c)));
  }
  plat::SelectObject(dc, oldFont);
  plat::SelectObject(dc, oldBitmap);
  plat::DeleteObject(bitmap);
  plat::DeleteDC(dc);
  EXPECT_GT(shown, 1000);  // Greek, Cyrillic, Georgian, Armenian, Hebrew, Arabic, symbols ...
  EXPECT_EQ(alike, std::vector<std::string>{});
}

namespace {

// How many pixels of two questions' lines differ by more than 40 of 255 in
// a colour channel (lines of other sizes: all their pixels).
int QuestionPixelsApart(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  if (a.size() != b.size()) return int(std::max(a.size(), b.size()));
  int apart = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    int most = 0;
    for (int shift = 0; shift < 24; shift += 8)
      most = std::max(most, std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)));
    apart += most > 40;
  }
  return apart;
}

}  // namespace

// The look-alikes that the question drew alike before, each pair drawn by
// the real dialog: an empty glyph, an Armenian letter drawn as L, a dot
// above i hidden in its own, a dotless j, Lisu and Latin letters drawn
// alike and others of the kind; each pair now draws clearly apart. A mark
// that shows too little on its letter is shown as its code point.
TEST(QuestionText, LookAlikesOfTheFontDrawApart) {
  if (!QuestionFaceIsKnown(TQuestionInk())) GTEST_SKIP() << "the question's font is not DejaVu Sans";
  const std::vector<std::pair<WideString, WideString>> pairs = {
      {u"ab", u"a\uFFFCb"},        {u"LOG", u"\u053COG"},   {u"file", u"fi\u0307le"}, {u"jam", u"\u0237am"},
      {u"x\uA780", u"x\uA4F6"},    {u"x\u07C3", u"x\u2132"}, {u"x\u1401", u"x\u2207"}, {u"\u0427", u"\uA78D"},
      {u"tell", u"tel\u0307l"},    {u"\u03BB", u"\u03BB\u0301"}};
  TQuestionPixels question;
  const WideString same = u"https://example.org/" + pairs[0].second;
  EXPECT_EQ(QuestionPixelsApart(question.Of(same), question.Of(same)), 0);
  for (const auto& [a, b] : pairs) {
    const std::vector<std::uint32_t> first = question.Of(u"https://example.org/" + a),
                                      second = question.Of(u"https://example.org/" + b);
    ASSERT_FALSE(first.empty());
    EXPECT_GE(QuestionPixelsApart(first, second), kPixelsApart) << plat::ToUtf8(a) << " | " << plat::ToUtf8(b);
  }
  EXPECT_EQ(VisibleCommand(u"\u03BB\u0301 i\u0307 \u0456\u0307 \uFFFC"), u"\u03BB[U+0301]\u2423i[U+0307]\u2423[U+0456][U+0307]\u2423[U+FFFC]");
}
