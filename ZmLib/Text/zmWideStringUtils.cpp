#include "ZmLib/Text/zmWideStringUtils.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "ZmLib/Text/zmUnicodeCharInfo.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

namespace {

std::unique_ptr<std::array<std::uint8_t, 0x10000>> gFixedMarks;

// Deeper decompositions than this do not occur; a deeper chain is a fault.
constexpr int kMaxDepth = 16;

bool IsMark(char16_t c) { return CharInfo(c).Category == kCatMark; }

// A mark that canonical ordering may move.
bool IsMovable(char16_t c) { return IsMark(c) && !IsFixedMark(c); }

// Characters with canonical ordering of their marks. Marks are appended as
// they come; Finish sorts each run of movable marks by combining class, then
// code, which is where inserting them one by one would have put them.
class TMarkBuffer {
public:
  void Clear() { chars_.clear(); }
  void Append(char16_t c) { chars_.push_back(c); }
  void InsertMark(char16_t c) { chars_.push_back(c); }
  void Finish() {
    std::size_t i = 0, n = chars_.size();
    while (i < n) {
      if (!IsMovable(chars_[i])) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < n && IsMovable(chars_[j])) ++j;
      if (j - i > 1)
        std::sort(chars_.begin() + static_cast<std::ptrdiff_t>(i), chars_.begin() + static_cast<std::ptrdiff_t>(j),
                  [](char16_t a, char16_t b) {
                    std::uint8_t ca = CharInfo(a).CombiningClass, cb = CharInfo(b).CombiningClass;
                    return ca != cb ? ca < cb : a < b;
                  });
      i = j;
    }
  }
  const std::vector<char16_t>& Chars() const { return chars_; }

private:
  std::vector<char16_t> chars_;
};

// Puts the marks of c (all of them, through nested decompositions) into buf.
bool SeparateMarks(char16_t c, TMarkBuffer& buf, int depth = 0) {
  if (depth > kMaxDepth) return false;
  const TMapInfo& info = CharInfo(c);
  if (info.Decomposition.size() != 2) {
    if (info.Category == kCatMark) buf.InsertMark(c);
    return true;
  }
  for (char16_t part : info.Decomposition)
    if (!SeparateMarks(part, buf, depth + 1)) return false;
  return true;
}

void Bounds(const WideString& s, std::int32_t start, std::int32_t count, std::size_t& b, std::size_t& e) {
  std::int64_t first = start < 1 ? 0 : std::int64_t(start) - 1;
  if (first > std::int64_t(s.size())) first = std::int64_t(s.size());
  std::int64_t last = count < 0 ? std::int64_t(s.size()) : first + count;
  if (last > std::int64_t(s.size())) last = std::int64_t(s.size());
  b = static_cast<std::size_t>(first);
  e = static_cast<std::size_t>(last);
}

std::int32_t DecideByCategory(char16_t baseA, char16_t baseB) {
  const TMapInfo& a = CharInfo(baseA);
  const TMapInfo& b = CharInfo(baseB);
  if (b.Category == kCatMark) return kCompareLess;
  if (a.Category != b.Category)
    return CategoryOrder[a.Category & 7] < CategoryOrder[b.Category & 7] ? kCompareLess : kCompareGreater;
  return baseA < baseB ? kCompareLess : kCompareGreater;
}

// The marks of s[i] followed by the marks after it; advances i past them.
void GatherMarks(const WideString& s, std::size_t& i, std::size_t end, TMarkBuffer& buf, const char* separateError,
                 const char* parseError) {
  buf.Clear();
  if (!SeparateMarks(s[i], buf)) ZM_FAIL(separateError);
  ++i;
  while (i < end && IsMark(s[i])) {
    if (buf.Chars().size() >= 0x7FFFFFF) ZM_FAIL(parseError);
    buf.InsertMark(s[i++]);
  }
  buf.Finish();
}

}  // namespace

bool IsFixedMark(char16_t c) { return gFixedMarks && (*gFixedMarks)[c] != 0; }

char16_t GetBaseChar(char16_t c) {
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const TMapInfo& info = CharInfo(c);
    if (info.Decomposition.size() != 2) break;
    c = static_cast<char16_t>(info.Decomposition[0]);
  }
  return c;
}

WideString WideDecompose(const WideString& s, std::int32_t start, std::int32_t count) {
  std::size_t b, e;
  Bounds(s, start, count, b, e);
  TMarkBuffer buf;
  for (std::size_t i = b; i < e; ++i) {
    char16_t c = s[i];
    const TMapInfo& info = CharInfo(c);
    if (info.Category == kCatMark) {
      buf.InsertMark(c);
    } else if (info.Decomposition.size() == 2) {
      buf.Append(GetBaseChar(c));
      SeparateMarks(c, buf);
    } else {
      buf.Append(c);
    }
  }
  buf.Finish();
  return WideString(buf.Chars().begin(), buf.Chars().end());
}

WideString WideLowerCaseCopy(const WideString& s, std::int32_t start, std::int32_t count) {
  WideString r = WideDecompose(s, start, count);
  for (char16_t& c : r) c = static_cast<char16_t>(CharInfo(c).LowerCase);
  return r;
}

std::int32_t WideCompareText(const WideString& a, std::int32_t startA, std::int32_t countA, const WideString& b,
                             std::int32_t startB, std::int32_t countB) {
  std::size_t i, endA, j, endB;
  Bounds(a, startA, countA, i, endA);
  Bounds(b, startB, countB, j, endB);
  // per thread, so that comparisons may run on several threads at once
  thread_local TMarkBuffer bufA, bufB;
  while (i < endA && j < endB) {
    char16_t ca = a[i], cb = b[j];
    char16_t ua = static_cast<char16_t>(CharInfo(ca).UpperCase);
    char16_t ub = static_cast<char16_t>(CharInfo(cb).UpperCase);
    if (ua == ub) {
      ++i;
      ++j;
      continue;
    }
    char16_t baseA = GetBaseChar(ua), baseB = GetBaseChar(ub);
    bool markA = IsMark(baseA), markB = IsMark(baseB);
    if (baseA != baseB && !(markA && markB)) {
      if (!markA) return DecideByCategory(baseA, baseB);
      return kCompareGreater;  // A's base is a mark, B's is not
    }
    GatherMarks(a, i, endA, bufA, "SeaparateMarks Buf1 Error  ", "ParseMarks Buf1 Error  ");
    GatherMarks(b, j, endB, bufB, "SeaparateMarks Buf2 Error  ", "ParseMarks Buf2 Error  ");
    const auto& ma = bufA.Chars();
    const auto& mb = bufB.Chars();
    std::size_t ka = ma.size(), kb = mb.size();
    while (ka > 0 && kb > 0) {
      char16_t x = ma[--ka], y = mb[--kb];
      if (x != y) return x > y ? kCompareGreater : kCompareLess;
    }
    if (ka != kb) return ka > kb ? kCompareGreater : kCompareLess;
  }
  if (i < endA) return kCompareGreater;
  if (j < endB) return kCompareLess;
  return kCompareEqual;
}

bool WideSameText(const WideString& a, const WideString& b) {
  return WideCompareText(a, 1, -1, b, 1, -1) == kCompareEqual;
}

std::int32_t FontClusterLength(const WideString& s, std::int32_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > s.size()) return 0;
  std::size_t i = static_cast<std::size_t>(index) - 1;
  std::size_t n = 1;
  if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) n = 2;
  while (i + n < s.size() && CharInfo(s[i + n]).Category == kCatMark) ++n;
  return static_cast<std::int32_t>(n);
}

void InitWideStringUtils() {
  auto fixed = std::make_unique<std::array<std::uint8_t, 0x10000>>();
  for (std::uint32_t c = 0; c < 0x10000; ++c) {
    const TMapInfo& info = CharInfo(static_cast<char16_t>(c));
    std::uint8_t cc = info.CombiningClass;
    (*fixed)[c] = info.Category == kCatMark && (cc == 0 || cc == 9 || (cc >= 27 && cc <= 34));
  }
  gFixedMarks = std::move(fixed);
}

void FiniWideStringUtils() { gFixedMarks.reset(); }

}  // namespace zm
