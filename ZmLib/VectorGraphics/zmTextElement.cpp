#include "ZmLib/VectorGraphics/zmTextElement.h"

#include <algorithm>

namespace zm {

TFontUtils* FontUtils = nullptr;

// ---- TTextElement ----------------------------------------------------------------------

TTextElement::TTextElement(const TFontParams& fontParams, std::uint8_t flag) : flag_(flag), fontParams_(fontParams) {}

void TTextElement::Dispose() {
  prefixWidths_.clear();
  suffixWidths_.clear();
  TRefObject::Dispose();
}

void TTextElement::SetTextLength(std::int32_t length) {
  length_ = std::max(length, 0);
  prefixWidths_.clear();
  suffixWidths_.clear();
}

std::int32_t TTextElement::GetWidth() { return GetOverhangs().Width; }

// Ranges from the first character are cached by count in the prefix cache,
// ranges to the last character in the suffix cache; only positive widths
// count as measured.
std::int32_t TTextElement::MeasureCached(std::int32_t start, std::int32_t count) {
  if (start <= 1 && count == length_) return GetWidth();
  std::vector<std::int32_t>* cache = nullptr;
  if (count >= 1 && count <= length_) {
    if (start == 1) cache = &prefixWidths_;
    else if (start >= 1 && std::int64_t(start) + count - 1 == length_) cache = &suffixWidths_;
  }
  if (cache) {
    if (cache->empty()) cache->assign(std::size_t(length_) + 1, -1);
    const std::int32_t w = (*cache)[std::size_t(count)];
    if (w > 0) return w;
  }
  const std::int32_t w = MeasureRange(start, count);
  if (cache) (*cache)[std::size_t(count)] = w;
  return w;
}

std::int32_t TTextElement::FitChars(std::int32_t start, std::int32_t maxWidth, const TPrevBreakFunc& prevBreak) {
  const std::int32_t s = std::max(1, std::min(start, length_));
  std::int32_t n = length_ - s + 1;
  if (n <= 0) return 0;
  if (s == 1 && GetWidth() <= maxWidth) return n;
  while (n >= 1 && MeasureCached(s, n) > maxWidth) {
    const std::int32_t next = prevBreak ? prevBreak(this, n, 0) : n - 1;
    n = next < n ? next : n - 1;
  }
  return n;
}

TRect TTextElement::GetDrawRect(const TPoint& p) {
  const TTextMetricsRec m = GetMetrics();
  const TTextOverhangs o = GetOverhangs();
  const bool underline = (fontParams_.Style & fsUnderline) != 0;
  const bool strike = (fontParams_.Style & fsStrikeOut) != 0;
  TRect r;
  r.Top = p.Y;
  r.Bottom = p.Y + m.Height;
  if (IsTransparent() && !underline && !strike) {
    r.Left = p.X + o.First;
    r.Right = r.Left + o.Second;
  } else {
    r.Left = std::min(p.X + o.First, p.X);
    const std::int32_t inkRight = p.X + o.First + o.Second;
    r.Right = std::max(inkRight, inkRight + o.Third);
  }
  r.Right += 1;
  if (underline) r.Bottom = std::max(r.Bottom, p.Y + m.Ascent - GetUnderlinePos() + GetUnderlineSize());
  return r;
}

TRect TTextElement::GetTextRect(const TPoint& p) {
  return {p.X, p.Y, p.X + GetWidth(), p.Y + GetMetrics().Height};
}

// ---- TFontUtils -------------------------------------------------------------------------

TSize TFontUtils::MeasureText(const TFontParams& font, const WideString& text) {
  TSideOverhangs overhangs;
  TTextMetricsRec metrics;
  return MeasureTextEx(font, text, overhangs, metrics);
}

// ---- TFontThread ------------------------------------------------------------------------

void TFontThread::Dispose() {
  Terminate();
  fontList_ = nullptr;
  TActiveMonitor::Dispose();
}

void TFontThread::SetFontList(TStringList* list) {
  Enter();
  try {
    if (!list) {
      fontList_ = nullptr;
    } else {
      if (!fontList_) fontList_ = MakeRef<TStringList>();
      fontList_->Assign(*list);
    }
  } catch (...) {
    Leave();
    throw;
  }
  Leave();
}

TRef<TStringList> TFontThread::CopyFontList() {
  TRef<TStringList> copy;
  Enter();
  try {
    if (fontList_) {
      copy = MakeRef<TStringList>();
      copy->Assign(*fontList_);
    }
  } catch (...) {
    Leave();
    throw;
  }
  Leave();
  return copy;
}

void TFontThread::TerminateAndWait() {
  Terminate();
  Join();
}

TRef<TFontThread> DefCreateFontThread() { return nullptr; }

TCreateFontThreadProc CreateFontThreadHook = &DefCreateFontThread;

// ---- Module --------------------------------------------------------------------------------

void InitTextElement() {}

void FiniTextElement() { FreeAndNil(FontUtils); }

}  // namespace zm
