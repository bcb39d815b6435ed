#pragma once
// The platform's own UTF-8 <-> UTF-16 converter for names and texts that
// cross to the OS. Bad sequences become U+FFFD; surrogate pairs become one
// 4-byte sequence (never the 6-byte form).
#include <string>
#include <string_view>

namespace plat {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace plat
