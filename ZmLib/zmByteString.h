#pragma once
// TByteString: a value class over bytes (UTF-8 data, ini values). Positions
// in byte strings are 0-based.
#include <cstdint>
#include <string>
#include <string_view>

namespace zm {

class TByteString {
public:
  TByteString() = default;
  TByteString(std::string s) : s_(std::move(s)) {}
  TByteString(std::string_view s) : s_(s) {}
  TByteString(const char* s) : s_(s ? s : "") {}
  TByteString(const std::uint8_t* p, std::size_t n) : s_(reinterpret_cast<const char*>(p), n) {}

  std::int32_t Length() const { return static_cast<std::int32_t>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(s_.data()); }
  std::uint8_t* MutableData() { return reinterpret_cast<std::uint8_t*>(s_.data()); }
  std::uint8_t operator[](std::size_t i) const { return static_cast<std::uint8_t>(s_[i]); }
  void SetLength(std::int32_t n) { s_.resize(n > 0 ? static_cast<std::size_t>(n) : 0); }

  const std::string& Str() const { return s_; }
  std::string& Str() { return s_; }
  std::string_view View() const { return s_; }

  friend bool operator==(const TByteString&, const TByteString&) = default;

private:
  std::string s_;
};

}  // namespace zm
