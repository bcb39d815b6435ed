#pragma once
// Builds ini text the way the player's documents are written: UTF-8 with a
// byte-order mark, CR LF after every line, "[section]" lines, "name=value"
// lines, "object Name:Type" ... "end" blocks indented by two blanks a level.
#include <string>
#include <string_view>

namespace oru {

class TIniText {
public:
  TIniText& Section(std::string_view name);
  // The value is written as given.
  TIniText& Key(std::string_view name, std::string_view value);
  TIniText& Key(std::string_view name, long long value);
  // The value is escaped as string values are: "\" doubled, each line break
  // (CR, LF, CR LF, LF CR) as "\n", other control characters dropped.
  TIniText& Text(std::string_view name, std::string_view value);
  TIniText& Object(std::string_view name, std::string_view type);
  TIniText& End();
  // A line written as given, at the current indentation.
  TIniText& Line(std::string_view raw);
  TIniText& EmptyLine();

  // The whole text, with the byte-order mark when asked.
  std::string Bytes(bool bom = true) const;
  int Depth() const { return depth_; }

  static std::string EscapeValue(std::string_view value);

private:
  void Put(std::string_view line);

  std::string text_;
  int depth_ = 0;
};

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace oru
