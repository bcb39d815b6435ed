// The command lines a show asks to start, as written by anyone: split,
// checked and shown without a fault; what the question lists is the whole
// command, every character visible, and reads back to exactly the command
// (two commands that differ never look the same): every character left as
// itself reads as itself (no look-alike, in NFC, a mark only on a letter),
// everything else is a code point; a link's host has an ASCII form of
// ASCII only; a mail link keeps nothing that attaches.
#include <cstddef>
#include <cstdint>

#include "Oru/OruViewer/OruRunProgram.h"
#include "Platform/PlatSpoof.h"
#include "Platform/PlatUtf8.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {

// The text a shown one stands for: "␣" a blank, the control pictures their
// characters, "[U+XXXX]" its code point; anything else itself.
zm::WideString ReadBack(const zm::WideString& shown) {
  zm::WideString text;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char16_t c = shown[i];
    if (c == u'\u2423') {
      text += u' ';
    } else if (c >= 0x2400 && c < 0x2420) {
      text += char16_t(c - 0x2400);
    } else if (c == u'\u2421') {
      text += char16_t(0x7F);
    } else if (c == u'[') {
      const std::size_t end = shown.find(u']', i);
      Check(end != zm::WideString::npos && shown.compare(i, 3, u"[U+") == 0);
      std::uint32_t cp = 0;
      for (std::size_t k = i + 3; k < end; ++k) {
        const char16_t h = shown[k];
        Check((h >= u'0' && h <= u'9') || (h >= u'A' && h <= u'F'));
        cp = cp * 16 + std::uint32_t(h <= u'9' ? h - u'0' : h - u'A' + 10);
      }
      if (cp >= 0x10000) {
        text += char16_t(0xD800 + ((cp - 0x10000) >> 10));
        text += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        text += char16_t(cp);
      }
      i = end;
    } else {
      text += c;
    }
  }
  return text;
}

std::u32string CodePoints(const zm::WideString& text) {
  std::u32string cps;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cps += char32_t(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      cps += char32_t(c);
    }
  }
  return cps;
}

// Every character the text shows as itself reads as itself there.
void CheckReadsAsItself(const zm::WideString& shown) {
  for (bool reads : plat::ReadsAsItself(CodePoints(shown))) Check(reads);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru;
  if (size > 1 << 12) return 0;
  // Two bytes a character (UTF-16, low byte first), so that any code unit can occur.
  zm::WideString line;
  for (std::size_t i = 0; i + 1 < size; i += 2) line.push_back(char16_t(data[i] | data[i + 1] << 8));

  const std::vector<zm::WideString> commands = SplitCommands(line);
  std::vector<zm::WideString> shownCommands;
  for (const zm::WideString& c : commands) {
    Check(!c.empty() && c.size() <= line.size());
    zm::WideString file, params;
    SplitCommand(c, file, params);
    (void)IsAllowedCommand(c);
    (void)NeedsStartAnswer(c);
    // Only paths the text names are looked at; nothing starts.
    (void)StartsRefusedProgram(c, zm::WideString());
    const zm::WideString shown = VisibleCommand(c);
    for (char16_t ch : shown) Check(ch > u' ' && ch != 0x7F && !(ch >= 0x200B && ch <= 0x200F));
    Check(ReadBack(shown) == c);
    CheckReadsAsItself(shown);
    shownCommands.push_back(shown);
    // The program and its arguments: blanks only between them, nothing
    // that turns the line's direction; each piece reads as itself.
    const zm::WideString question = QuestionText(c, zm::WideString());
    for (char16_t ch : question)
      Check(ch >= u' ' && ch != 0x7F && !(ch >= 0x200B && ch <= 0x200F) && !(ch >= 0x202A && ch <= 0x202E) &&
            !(ch >= 0x2066 && ch <= 0x2069));
    for (std::size_t a = 0; a < question.size();) {
      std::size_t b = question.find(u' ', a);
      if (b == zm::WideString::npos) b = question.size();
      CheckReadsAsItself(question.substr(a, b - a));
      a = b + 1;
    }
  }
  // Lines of at most 7 characters: together they are each command, shown.
  const std::vector<TQuestionLine> lines =
      QuestionLines(shownCommands, 7, [](const zm::WideString& s) { return int(s.size()); });
  std::size_t next = 0;
  zm::WideString joined;
  for (std::size_t i = 0; i <= lines.size(); ++i) {
    if (i == lines.size() || !lines[i].Continued) {
      if (i > 0) Check(next > 0 && joined == shownCommands[next - 1]);
      if (i == lines.size()) break;
      joined.clear();
      ++next;
    }
    Check(!lines[i].Text.empty() && lines[i].Text.size() <= 7);
    joined += lines[i].Text;
  }
  Check(next == commands.size());

  // Any host name: its ASCII form is ASCII, and stays as it is.
  std::string ascii, again;
  if (plat::HostNameToAscii(plat::ToUtf8(line), ascii)) {
    for (char ch : ascii) Check(static_cast<unsigned char>(ch) < 0x80);
    Check(plat::HostNameToAscii(ascii, again) && again == ascii);
  }

  const zm::WideString mail = WithoutAttachments(line);
  Check(mail.size() <= line.size());
  Check(WithoutAttachments(mail) == mail);
  return 0;
}
