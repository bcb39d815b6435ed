// The command lines a show asks to start, as written by anyone: split,
// checked and shown without a fault; what the question lists is the whole
// command, every character visible; a mail link keeps nothing that attaches.
#include <cstddef>
#include <cstdint>

#include "Oru/OruViewer/OruRunProgram.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

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
  }
  // Lines of at most 7 characters: together they are each command, shown.
  const std::vector<TQuestionLine> lines =
      QuestionLines(commands, 7, [](const zm::WideString& s) { return int(s.size()); });
  std::size_t next = 0;
  zm::WideString joined;
  for (std::size_t i = 0; i <= lines.size(); ++i) {
    if (i == lines.size() || !lines[i].Continued) {
      if (i > 0) Check(next > 0 && joined == VisibleCommand(commands[next - 1]));
      if (i == lines.size()) break;
      joined.clear();
      ++next;
    }
    Check(!lines[i].Text.empty() && lines[i].Text.size() <= 7);
    joined += lines[i].Text;
  }
  Check(next == commands.size());

  const zm::WideString mail = WithoutAttachments(line);
  Check(mail.size() <= line.size());
  Check(WithoutAttachments(mail) == mail);
  return 0;
}
