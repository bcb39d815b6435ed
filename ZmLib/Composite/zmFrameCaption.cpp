#include "ZmLib/Composite/zmFrameCaption.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "ZmLib/Composite/winSurface.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/Fonts/winTextElement.h"

namespace zm {

TCreateTextElementProc CreateCaptionTextHook = nullptr;
TDrawTextElementProc DrawTextElementHook = nullptr;

TRef<TTextElement> CreateCaptionText(const TFontParams& font, const std::u16string& text) {
  if (text.empty() || !CreateCaptionTextHook) return nullptr;
  return CreateCaptionTextHook(font, text);
}

namespace {
plat::COLORREF Ref(TColor24 c) { return plat::RGB(c.R, c.G, c.B); }
int ClampInt(std::int64_t v) {
  return int(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
}  // namespace

void DrawWinTextElement(TDrawSurface* surface, TTextElement* element, std::int32_t x, std::int32_t y) {
  auto* ws = dynamic_cast<TWinSurface*>(surface);
  auto* we = dynamic_cast<TWinTextElement*>(element);
  if (!ws || !we || we->Text().empty() || !ws->Dib() || !ws->Dib()->Dc()) return;
  const TPoint o = ws->Origin();
  const TRect d = we->GetDrawRect({x, y});
  const std::int64_t l = std::int64_t(d.Left) + o.X, t = std::int64_t(d.Top) + o.Y;
  const std::int64_t r = std::int64_t(d.Right) + o.X, b = std::int64_t(d.Bottom) + o.Y;
  const TRect area{std::int32_t(std::clamp<std::int64_t>(l, 0, ws->Width())),
                   std::int32_t(std::clamp<std::int64_t>(t, 0, ws->Height())),
                   std::int32_t(std::clamp<std::int64_t>(r, 0, ws->Width())),
                   std::int32_t(std::clamp<std::int64_t>(b, 0, ws->Height()))};
  if (IsEmptyRect(area)) return;
  if (TRectList* drawn = ws->DrawnList()) drawn->Add(area);
  const TRect clip = ws->PaintClip();
  const TRect cut{std::max(area.Left, clip.Left), std::max(area.Top, clip.Top), std::min(area.Right, clip.Right),
                  std::min(area.Bottom, clip.Bottom)};
  if (IsEmptyRect(cut)) return;
  // Only dirty cells are drawn, like every other drawing on the surface.
  std::vector<plat::RECT> runs;
  {
    TDirtyRunCursor cursor;
    TRect run;
    while (ws->NextDirtyRun(cut, 1, cursor, run)) runs.push_back({run.Left, run.Top, run.Right, run.Bottom});
  }
  if (runs.empty()) return;

  plat::HDC dc = ws->Dib()->Dc();
  const TFontParams& font = we->FontParams();
  TWinContextWrapper* ctx = ws->Context();
  ctx->SetFont(font);
  ctx->Bind(dc);
  if (!we->IsTransparent()) {
    plat::SetBkColor(dc, Ref(font.BackColor));
    for (const plat::RECT& rc : runs) plat::ExtTextOutW(dc, 0, 0, plat::ETO_OPAQUE, &rc, nullptr, 0, nullptr);
  }
  // Blanks alone leave nothing more to draw, unless barred.
  const bool bars = (font.Style & (fsUnderline | fsStrikeOut)) != 0;
  const WideString& text = we->Text();
  const bool ink = std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 32; });
  if (ink || bars) {
    const int oldMode = plat::SetBkMode(dc, plat::TRANSPARENT);
    plat::SetTextColor(dc, Ref(font.TextColor));
    // Each font run in its own font, its top at the baseline less its ascent.
    const std::int64_t baseline = std::int64_t(y) + o.Y + we->GetMetrics().Ascent;
    const std::vector<std::uint16_t>& glyphs = we->Glyphs();
    const std::vector<std::int32_t>& advances = we->GlyphAdvances();
    std::int64_t pen = std::int64_t(x) + o.X;
    std::size_t g = 0;
    std::vector<char16_t> ids;
    std::vector<int> dx;
    for (const TWinFontRun& run : we->Runs()) {
      const std::size_t n = std::size_t(std::max(run.GlyphCount, 0));
      if (n > 0 && g + n <= glyphs.size() && g + n <= advances.size()) {
        if (plat::HFONT f = CreateGdiFont(run.Font)) {
          const auto fo = reinterpret_cast<plat::HGDIOBJ>(f);
          plat::HGDIOBJ previous = plat::SelectObject(dc, fo);
          plat::TEXTMETRICW tm;
          const std::int64_t ascent = plat::GetTextMetricsW(dc, &tm) ? tm.tmAscent : 0;
          ids.assign(glyphs.begin() + std::ptrdiff_t(g), glyphs.begin() + std::ptrdiff_t(g + n));
          dx.assign(advances.begin() + std::ptrdiff_t(g), advances.begin() + std::ptrdiff_t(g + n));
          for (const plat::RECT& rc : runs)
            plat::ExtTextOutW(dc, ClampInt(pen), ClampInt(baseline - ascent), plat::ETO_GLYPH_INDEX | plat::ETO_CLIPPED,
                              &rc, ids.data(), plat::UINT(n), dx.data());
          if (previous) plat::SelectObject(dc, previous);
          plat::DeleteObject(fo);
        }
      }
      g += n;
      pen += run.Width;
    }
    if (oldMode) plat::SetBkMode(dc, oldMode);
  }
  ctx->Unbind();
}

namespace {
const std::u16string kEllipsis = u"\u2026";

std::int32_t ElementHeight(TTextElement* e) { return e ? e->GetMetrics().Height : 0; }
}  // namespace

TFrameCaption::TFrameCaption(TFrameControl* parent, TControlStyles* styles) : TStdFrameControl(parent, styles) {
  TTextFormat f;
  GetTextFormat(f);
  font_ = f.Font;
}

void TFrameCaption::Dispose() {
  full_.reset();
  short_.reset();
  ellipsis_.reset();
  TStdFrameControl::Dispose();
}

void TFrameCaption::SetText(const std::u16string& text) {
  std::u16string t = StripHotkey(text);
  if (t == text_ && (full_ || t.empty())) return;
  text_ = std::move(t);
  full_ = CreateCaptionText(font_, text_);
  Layout();
}

void TFrameCaption::SetAlignment(std::uint8_t alignment) {
  if (alignment > caRight) ZM_FAIL("TFrameCaption: alignment out of range");
  if (alignment == alignment_) return;
  alignment_ = alignment;
  Layout();
}

std::uint8_t TFrameCaption::ResolvedAlignment() const {
  if (alignment_ == caAuto) return rtl_ ? caRight : caLeft;
  return alignment_;
}

void TFrameCaption::SetShorten(bool on) {
  if (on == shorten_) return;
  shorten_ = on;
  Layout();
}

void TFrameCaption::SetSpacing(std::int32_t spacing) {
  spacing = std::max(spacing, 0);
  if (spacing == spacing_) return;
  spacing_ = spacing;
  Layout();
}

void TFrameCaption::SetRightToLeft(bool on) {
  if (on == rtl_) return;
  rtl_ = on;
  Layout();
}

void TFrameCaption::SetFont(const TFontParams& font, std::uint32_t ownMask) {
  font_ = font;
  styleMask_ = 15 & ~ownMask;
  StyleChanged();
}

void TFrameCaption::StyleChanged() {
  TTextFormat f;
  GetTextFormat(f);
  AssignFontParams(font_, f.Font, styleMask_);
  full_ = CreateCaptionText(font_, text_);
  ellipsis_.reset();
  Layout();
}

void TFrameCaption::Layout() {
  if (TornDown() || inLayout_) return;
  inLayout_ = true;
  const std::int32_t w = Width(), h = Height();

  // 1. The children in a row.
  std::vector<TFrameControl*> kids;
  std::int32_t kidsWidth = 0, rowBase = 0, rowDepth = 0, tallest = 0;
  for (TFrameControl* c = FirstChildControl(); c; c = c->NextSiblingControl()) {
    kids.push_back(c);
    kidsWidth += c->Width();
    if (auto* cap = dynamic_cast<TFrameCaption*>(c)) {
      rowBase = std::max(rowBase, cap->Baseline());
      rowDepth = std::max(rowDepth, c->Height() - cap->Baseline());
    } else {
      tallest = std::max(tallest, c->Height());
    }
  }
  const std::int32_t rowHeight = std::max(tallest, rowBase + rowDepth);

  // 2. The text centred vertically.
  const std::int32_t textHeight = ElementHeight(full_.get());
  textPos_.Y = (h - textHeight) / 2;
  baseline_ = textPos_.Y + (full_ ? full_->GetMetrics().Ascent : 0);

  // 3. What the text shows.
  const std::int32_t room = w - kidsWidth - (kids.empty() ? 0 : spacing_);
  short_.reset();
  shortText_.clear();
  textWidth_ = 0;
  if (!full_ || room <= 0) {
    mode_ = cdNone;
  } else if (!shorten_ || full_->GetWidth() <= room) {
    mode_ = cdFull;
    textWidth_ = full_->GetWidth();
  } else {
    if (!ellipsis_) ellipsis_ = CreateCaptionText(font_, kEllipsis);
    ellipsisWidth_ = ellipsis_ ? ellipsis_->GetWidth() : 0;
    std::int32_t fit = room - ellipsisWidth_ > 0 ? full_->FitChars(1, room - ellipsisWidth_, nullptr) : 0;
    fit = std::clamp(fit, 0, std::int32_t(text_.size()));
    mode_ = cdShortened;
    shortText_ = text_.substr(0, std::size_t(fit));
    short_ = CreateCaptionText(font_, shortText_);
    textWidth_ = ellipsisWidth_ + (short_ ? short_->GetWidth() : 0);
  }

  // 4. Across: the text, the children after it (before it when right-aligned).
  const std::int32_t kidsBlock = kids.empty() ? 0 : kidsWidth + (mode_ != cdNone ? spacing_ : 0);
  std::int32_t kidsX = 0;
  switch (ResolvedAlignment()) {
    case caCenter:
      textPos_.X = std::max((w - textWidth_ - kidsBlock) / 2, 0);
      kidsX = textPos_.X + textWidth_ + (kidsBlock > kidsWidth ? spacing_ : 0);
      break;
    case caLeft:
      textPos_.X = 0;
      kidsX = textWidth_ + (kidsBlock > kidsWidth ? spacing_ : 0);
      break;
    case caRight:
      textPos_.X = w - textWidth_;
      kidsX = textPos_.X - kidsBlock;
      break;
    default:
      ZM_FAIL("TFrameCaption: alignment out of range");
  }
  const std::int32_t rowTop = (h - rowHeight) / 2;
  for (TFrameControl* c : kids) {
    std::int32_t y = (h - c->Height()) / 2;
    if (auto* cap = dynamic_cast<TFrameCaption*>(c)) y = rowTop + rowBase - cap->Baseline();
    c->SetPosition(kidsX, y);
    kidsX += c->Width();
  }
  inLayout_ = false;
  InvalidateAll();
}

std::int32_t TFrameCaption::PreferredWidth() { return full_ ? full_->GetWidth() : Width(); }
std::int32_t TFrameCaption::PreferredHeight() { return full_ ? ElementHeight(full_.get()) : Height(); }

void TFrameCaption::AfterResize() {
  TStdFrameControl::AfterResize();
  Layout();
}

TRect TFrameCaption::FullRect() const {
  std::int32_t h = ElementHeight(full_.get());
  return {textPos_.X, textPos_.Y, textPos_.X + textWidth_, textPos_.Y + h};
}

void TFrameCaption::Paint(TDrawSurface* surface) {
  painted_ = {};
  if (!surface || !DrawTextElementHook || mode_ == cdNone) return;
  painted_ = mode_ == cdFull ? FullRect() : TRect{0, 0, Width(), Height()};
  if (mode_ == cdFull) {
    DrawTextElementHook(surface, full_.get(), textPos_.X, textPos_.Y);
    return;
  }
  const std::int32_t shortWidth = textWidth_ - ellipsisWidth_;
  if (rtl_) {
    if (ellipsis_) DrawTextElementHook(surface, ellipsis_.get(), textPos_.X, textPos_.Y);
    if (short_) DrawTextElementHook(surface, short_.get(), textPos_.X + ellipsisWidth_, textPos_.Y);
  } else {
    if (short_) DrawTextElementHook(surface, short_.get(), textPos_.X, textPos_.Y);
    if (ellipsis_) DrawTextElementHook(surface, ellipsis_.get(), textPos_.X + shortWidth, textPos_.Y);
  }
}

void TFrameCaption::GetBounds(TRect& rect) {
  TStdFrameControl::GetBounds(rect);
  if (mode_ == cdNone)
    rect = {};
  else if (mode_ == cdFull)
    rect = FullRect();
  else
    rect = {0, 0, Width(), Height()};
  UnionRectInPlace(rect, painted_);  // the text drawn before goes too
}

bool TFrameCaption::HitTest(std::int32_t x, std::int32_t y) {
  if (MouseTransparent || mode_ == cdNone) return false;
  TRect r = FullRect();
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

void TFrameCaption::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TStdFrameControl::MouseEvent(mouse);
  if (TornDown() || mouse.Kind != mkUp || !(mouse.Buttons & mbLeft)) return;
  if (mouse.X >= 0 && mouse.X < Width() && mouse.Y >= 0 && mouse.Y < Height()) Click();
}

TFrameCaption* AllocPlainFrameCaption(TFrameControl* parent) { return NewControl<TFrameCaption>(parent); }

TAllocFrameCaptionProc AllocFrameCaption = &AllocPlainFrameCaption;

void InitFrameCaption() { AllocFrameCaption = &AllocPlainFrameCaption; }
void FiniFrameCaption() { AllocFrameCaption = &AllocPlainFrameCaption; }

}  // namespace zm
