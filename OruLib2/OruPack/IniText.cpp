#include "OruLib2/OruPack/IniText.h"

namespace oru {

void TIniText::Put(std::string_view line) {
  text_.append(static_cast<std::size_t>(depth_ * 2), ' ');
  text_ += line;
  text_ += "\r\n";
}

TIniText& TIniText::Section(std::string_view name) {
  depth_ = 0;
  text_ += "[";
  text_ += name;
  text_ += "]\r\n";
  return *this;
}

TIniText& TIniText::Key(std::string_view name, std::string_view value) {
  std::string line(name);
  line += "=";
  line += value;
  Put(line);
  return *this;
}

TIniText& TIniText::Key(std::string_view name, long long value) { return Key(name, std::to_string(value)); }

TIniText& TIniText::Text(std::string_view name, std::string_view value) { return Key(name, EscapeValue(value)); }

TIniText& TIniText::Object(std::string_view name, std::string_view type) {
  std::string line = "object";
  if (!name.empty() || !type.empty()) {
    line += " ";
    line += name;
    if (!type.empty()) {
      line += ":";
      line += type;
    }
  }
  Put(line);
  ++depth_;
  return *this;
}

TIniText& TIniText::End() {
  if (depth_ > 0) --depth_;
  Put("end");
  return *this;
}

TIniText& TIniText::Line(std::string_view raw) {
  Put(raw);
  return *this;
}

TIniText& TIniText::EmptyLine() {
  text_ += "\r\n";
  return *this;
}

std::string TIniText::Bytes(bool bom) const { return bom ? std::string(kUtf8Bom) + text_ : text_; }

std::string TIniText::EscapeValue(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r' || c == '\n') {
      // CR, LF, CR LF and LF CR are each one line break.
      if (i + 1 < value.size() && (value[i + 1] == '\r' || value[i + 1] == '\n') && value[i + 1] != value[i]) ++i;
      out += "\\n";
    } else if (c >= 32) {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace oru
