#include "ZmLib/VectorGraphics/zmVectorText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zm {

namespace {

// Rounds half to even and keeps the result within +-2^30 (not a number: 0).
std::int32_t SafeRound(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 1073741824.0;
  if (v > kLimit) return std::int32_t(kLimit);
  if (v < -kLimit) return -std::int32_t(kLimit);
  return std::int32_t(std::nearbyint(v));
}

}  // namespace

TRef<TVectorizer> DefCreateVectorizer() { return nullptr; }

TCreateVectorizerProc CreateVectorizerHook = &DefCreateVectorizer;

// ---- TVectorText ----------------------------------------------------------------------

TTextLayout TVectorText::LayoutLines(std::int32_t spacing, double scale) {
  TTextLayout l;
  const double asc = fontMetrics_.Ascent, desc = fontMetrics_.Descent;
  const double lineHeight = (asc + desc) * scale;
  double y = 0;
  for (std::int32_t i = 0; i < lineCount_; ++i) {
    if (i > 0) y += lineHeight * spacing / 200;
    TLineMetrics m;
    GetLineMetrics(i, m);
    TTextLayout::TLine line;
    line.Box = {0, -SafeRound(asc * scale), SafeRound(double(m.Width) * scale), SafeRound(desc * scale)};
    line.Origin = {0, float(y)};
    l.TextWidth = std::max(l.TextWidth, line.Box.Right - line.Box.Left);
    l.Lines.push_back(line);
    y += lineHeight;
    auto over = [scale](double v) { return float(std::max(0.0, v * scale)); };
    l.OverLeft = std::max(l.OverLeft, over(-double(m.Leading)));
    l.OverRight = std::max(l.OverRight, over(-double(m.Trailing)));
    l.OverTop = std::max(l.OverTop, over(double(m.Ascent) - asc));
    l.OverBottom = std::max(l.OverBottom, over(double(m.Descent) - desc));
  }
  l.TextHeight = float(y);
  return l;
}

TFloatRect TVectorText::GetBounds(double scale, std::int32_t spacing) {
  const TTextLayout l = LayoutLines(spacing, scale);
  return {-l.OverLeft, -l.OverTop, float(l.TextWidth) + l.OverRight, l.TextHeight + l.OverBottom};
}

TSize TVectorText::GetSize(double scale, std::int32_t spacing) {
  const TTextLayout l = LayoutLines(spacing, scale);
  return {SafeRound(double(l.TextWidth) + l.OverLeft + l.OverRight) + 2,
          SafeRound(double(l.TextHeight) + l.OverTop + l.OverBottom) + 2};
}

float TVectorText::GetLineHeight(double scale) const {
  return float((double(fontMetrics_.Ascent) + fontMetrics_.Descent) * scale);
}

// ---- TSimpleVectorText -------------------------------------------------------------

TSimpleVectorText::TSimpleVectorText(const TFontParams& font, TStringList& lines) {
  vectorizer_ = CreateVectorizerHook ? CreateVectorizerHook() : nullptr;
  if (!vectorizer_) ZM_FAIL("CreateVectorizerHook not Assigned");
  Build(font, lines);
}

TSimpleVectorText::TSimpleVectorText(const TFontParams& font, TStringList& lines, TVectorizer* vectorizer)
    : vectorizer_(vectorizer) {
  if (!vectorizer_) ZM_FAIL("CreateVectorizerHook not Assigned");
  Build(font, lines);
}

void TSimpleVectorText::Build(const TFontParams& font, TStringList& lines) {
  vectorizer_->GetFontMetrics(font, fontMetrics_);
  const std::int32_t n = lines.GetCount();
  elements_.reserve(std::size_t(std::max(n, 0)));
  for (std::int32_t i = 0; i < n; ++i) {
    TRef<TTextElementEx> e = vectorizer_->CreateTextElement(font, lines.GetString(i));
    if (!e) ZM_FAIL("TSimpleVectorText.Create: no Text Element");
    elements_.push_back(std::move(e));
  }
  lineCount_ = n;
}

void TSimpleVectorText::Dispose() {
  elements_.clear();
  vectorizer_ = nullptr;
  TVectorText::Dispose();
}

TTextElementEx* TSimpleVectorText::Element(std::int32_t line) const {
  if (line < 0 || line >= std::int32_t(elements_.size())) return nullptr;
  return elements_[std::size_t(line)].get();
}

std::int32_t TSimpleVectorText::GetPartCount(std::int32_t line) {
  TTextElementEx* e = Element(line);
  return e ? std::max(e->GetPartCount(), 0) : 0;
}

void TSimpleVectorText::GetPartBox(std::int32_t line, std::int32_t part, TPartBox& box) {
  box = TPartBox{};
  TTextElementEx* e = Element(line);
  TTextPart p;
  if (!e || !e->GetPart(part, p)) return;
  box.X = float(p.X);
  box.A = float(p.A);
  box.B = float(p.B);
  box.C = float(p.C);
  box.Advance = float(p.Advance);
  box.Ascent = float(p.Ascent);
  box.Descent = float(p.Descent);
  box.Height = float(p.Height);
}

void TSimpleVectorText::VectorizePart(std::int32_t line, std::int32_t part, TPathPoints& sink) {
  TTextElementEx* e = Element(line);
  TTextPart p;
  if (!e || !e->GetPart(part, p)) return;
  vectorizer_->VectorizePart(p, sink);
}

// Widened by every part: the ink from the leftmost of x, x + A, x + A + B,
// x + A + B + C to the rightmost, the parts from the smallest x to the
// largest x + A + B + C, and the largest vertical extents. A line without
// parts has the font's extents.
void TSimpleVectorText::GetLineMetrics(std::int32_t line, TLineMetrics& metrics) {
  metrics = TLineMetrics{};
  const std::int32_t n = GetPartCount(line);
  if (n == 0) {
    metrics.Ascent = float(fontMetrics_.Ascent);
    metrics.Descent = float(fontMetrics_.Descent);
    metrics.Height = metrics.Ascent + metrics.Descent;
    return;
  }
  double left = std::numeric_limits<double>::max(), right = -left, start = left, end = -left;
  for (std::int32_t i = 0; i < n; ++i) {
    TPartBox b;
    GetPartBox(line, i, b);
    const double x = b.X, xa = x + b.A, xb = xa + b.B, xc = xb + b.C;
    left = std::min({left, x, xa, xb, xc});
    right = std::max({right, x, xa, xb, xc});
    start = std::min(start, x);
    end = std::max(end, xc);
    metrics.Ascent = std::max(metrics.Ascent, b.Ascent);
    metrics.Descent = std::max(metrics.Descent, b.Descent);
  }
  metrics.Width = float(end - start);
  metrics.Leading = float(left - start);
  metrics.Trailing = float(end - right);
  metrics.BlackWidth = metrics.Width - metrics.Leading - metrics.Trailing;
  metrics.Height = metrics.Ascent + metrics.Descent;
}

TRef<TVectorText> CreateVectorText(const TFontParams& font, TStringList& lines) {
  TRef<TVectorizer> v = CreateVectorizerHook ? CreateVectorizerHook() : nullptr;
  if (!v) return nullptr;
  return MakeRef<TSimpleVectorText>(font, lines, v.get());
}

void RectToPathPoints(const TFloatRect& rect, TPathPoints& points) {
  AddPathPoint(points, rect.Left, rect.Top, pcMove);
  AddPathPoint(points, rect.Right, rect.Top, pcLine);
  AddPathPoint(points, rect.Right, rect.Bottom, pcLine);
  AddPathPoint(points, rect.Left, rect.Bottom, pcLine);
}

}  // namespace zm
