#include "OruLib2/NavPanel/NavBar.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <string>

#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"

namespace oru {

using zm::TRect;
using zm::TRef;
using zm::TSysBitmap;
using zm::WideString;

namespace {

WideString W(const std::string& s) { return WideString(s.begin(), s.end()); }

// Splits at commas outside double quotes (the quotes stay); items trimmed.
// An empty value has no items; a trailing comma gives a last, empty item.
std::vector<WideString> SplitList(const WideString& value) {
  std::vector<WideString> items;
  if (value.empty()) return items;
  WideString cur;
  bool quoted = false;
  for (char16_t c : value) {
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) {
      items.push_back(zm::Trim(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  items.push_back(zm::Trim(cur));
  return items;
}

std::int32_t ToIntDef(const WideString& s, std::int32_t def) {
  std::string a;
  for (char16_t c : s) {
    if (c > 127) return def;
    a += char(c);
  }
  std::size_t i = 0;
  if (i < a.size() && a[i] == '+') ++i;
  std::int32_t v = 0;
  const char* end = a.data() + a.size();
  auto [p, ec] = std::from_chars(a.data() + i, end, v);
  if (ec != std::errc() || p != end || a.size() == i) return def;
  return v;
}

// x, y, width, height as the rectangle (x, y, x + width, y + height).
TRect ListRect(const std::vector<WideString>& items) {
  const std::int64_t x = ToIntDef(items[0], 0), y = ToIntDef(items[1], 0);
  const std::int64_t r = std::clamp<std::int64_t>(x + ToIntDef(items[2], 0), INT_MIN, INT_MAX);
  const std::int64_t b = std::clamp<std::int64_t>(y + ToIntDef(items[3], 0), INT_MIN, INT_MAX);
  return TRect{std::int32_t(x), std::int32_t(y), std::int32_t(r), std::int32_t(b)};
}

TRect ButtonBounds(const WideString& value) {
  const std::vector<WideString> items = SplitList(value);
  if (items.size() != 4)
    ZM_FAIL("Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But ORU found only " +
            std::to_string(items.size()) + " values.");
  return ListRect(items);
}

std::int32_t Clamp32(std::int64_t v) { return std::int32_t(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}
bool IsEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

bool HitTest(const TNavObject* b, std::int32_t x, std::int32_t y) {
  const TRect r = b->BoundsRect();
  return r.Left <= x && x < r.Right && r.Top <= y && y < r.Bottom;
}

// Blends Source's rectangle Src with its top-left at (X, Y), only inside Clip.
void DrawClipped(TSysBitmap* target, TSysBitmap* source, TRect src, std::int64_t x, std::int64_t y,
                 const TRect& clip) {
  if (!source) return;
  const std::int64_t w = std::int64_t(src.Right) - src.Left, h = std::int64_t(src.Bottom) - src.Top;
  const std::int64_t l = std::max<std::int64_t>(x, clip.Left), t = std::max<std::int64_t>(y, clip.Top);
  const std::int64_t r = std::min<std::int64_t>(x + w, clip.Right), b = std::min<std::int64_t>(y + h, clip.Bottom);
  if (r <= l || b <= t) return;
  const TRect part{Clamp32(src.Left + (l - x)), Clamp32(src.Top + (t - y)), Clamp32(src.Left + (r - x)),
                   Clamp32(src.Top + (b - y))};
  zm::DrawBitmapOver32(target, source, part, zm::TPoint{std::int32_t(l), std::int32_t(t)});
}

constexpr const char16_t* kStateNames[4] = {u"Normal", u"Hover", u"Pressed", u"Disabled"};

TRef<TCustomNavBar> MakeNavBar(const WideString&) { return zm::MakeRef<TNavBar>(); }

std::int32_t gInitCount = 0;
zm::THookInstall<TCreateNavBarProc> gNavBarHook;

}  // namespace

// ---- Cells and buttons ---------------------------------------------------------------

void TNavCells::SetSize(std::int32_t cols, std::int32_t rows) {
  cols_ = std::max(cols, 0);
  rows_ = std::max(rows, 0);
  items_.clear();
}

TNavCell* TNavCells::Cell(std::int32_t col, std::int32_t row) {
  if (col < 1 || col > cols_ || row < 1 || row > rows_) return nullptr;
  const std::size_t i = std::size_t(row - 1) * std::size_t(cols_) + std::size_t(col - 1);
  if (items_.size() < std::size_t(cols_) * std::size_t(rows_)) items_.resize(std::size_t(cols_) * std::size_t(rows_));
  if (!items_[i]) items_[i] = zm::MakeRef<TNavCell>();
  return items_[i].get();
}

void TNavCells::Dispose() {
  items_.clear();
  TRefObject::Dispose();
}

TRect TNavObject::BoundsRect() const {
  return TRect{X, Y, Clamp32(std::int64_t(X) + Width), Clamp32(std::int64_t(Y) + Height)};
}

TNavObject* TNavObjects::Get(std::int32_t index) {
  if (index < 0) return nullptr;
  if (std::size_t(index) >= items_.size()) items_.resize(std::size_t(index) + 1);
  if (!items_[std::size_t(index)]) items_[std::size_t(index)] = zm::MakeRef<TNavObject>();
  return items_[std::size_t(index)].get();
}

void TNavObjects::Dispose() {
  items_.clear();
  TRefObject::Dispose();
}

// ---- Texture cache -------------------------------------------------------------------

void TBmpCache::Dispose() {
  items_.clear();
  TRefObject::Dispose();
}

TBmpCacheItem* TBmpCache::Item(TCustomNavBar* bar, const WideString& folder, const WideString& name) {
  const WideString key = zm::LowerCase(name);
  auto it = items_.find(key);
  if (it != items_.end()) return it->second.get();
  ZM_ASSERT(bar && bar->OnLoadBitmap, "TBmpCache - Bitmap loader not Assigned");
  TRef<zm::TBitmap> loaded = bar->OnLoadBitmap(bar, folder.empty() ? name : folder + name);
  TRef<TBmpCacheItem> item = zm::MakeRef<TBmpCacheItem>();
  if (loaded && !loaded->IsEmpty()) {
    // Drawing works on 32-bit pixels with straight alpha.
    TRef<TSysBitmap> argb = zm::CreateSysBitmap(loaded->Width(), loaded->Height(), zm::pfA8R8G8B8);
    argb->CopyRect(TRect{0, 0, loaded->Width(), loaded->Height()}, loaded.get(), zm::pmNone, zm::TPoint{0, 0});
    item->Bitmap = argb;
  }
  TBmpCacheItem* result = item.get();
  items_.emplace(key, std::move(item));
  return result;
}

TNavTexture TBmpCache::Texture(TCustomNavBar* bar, const WideString& folder, const WideString& name,
                               const TRect& bounds, std::int32_t variant) {
  TBmpCacheItem* item = Item(bar, folder, name);
  if (variant == nvPlain || !item->Bitmap) return TNavTexture{item->Bitmap, bounds};
  const std::string key = std::to_string(bounds.Left) + std::to_string(bounds.Top) + std::to_string(bounds.Right) +
                          std::to_string(bounds.Bottom) + (variant == nvGray ? "G" : "D");
  auto it = item->Variants.find(key);
  if (it == item->Variants.end()) {
    TSysBitmap* b = item->Bitmap.get();
    const TRect cut = Intersect(bounds, TRect{0, 0, b->Width(), b->Height()});
    TRef<TSysBitmap> v;
    if (!IsEmpty(cut)) {
      // Only the part inside the file: bounds from a skin may reach far beyond.
      const std::int32_t w = cut.Right - cut.Left, h = cut.Bottom - cut.Top;
      v = zm::CreateSysBitmap(w, h, zm::pfA8R8G8B8);
      v->CopyRect(TRect{0, 0, w, h}, b, zm::pmNone, zm::TPoint{cut.Left, cut.Top});
      if (variant == nvGray)
        zm::GrayscaleBitmap32(v.get());
      else
        zm::DisabledBitmap32(v.get());
    }
    it = item->Variants.emplace(key, v).first;
  }
  TSysBitmap* v = it->second.get();
  return TNavTexture{it->second, v ? TRect{0, 0, v->Width(), v->Height()} : TRect{}};
}

// ---- TNavBar -------------------------------------------------------------------------

TNavBar::TNavBar()
    : cells_(zm::MakeRef<TNavCells>()),
      objects_(zm::MakeRef<TNavObjects>()),
      cache_(zm::MakeRef<TBmpCache>()),
      actions_{u"home", u"backward", u"forward", u"pause", u"print", u"help", u"exit"} {
  recommendedScale_ = 8.0f;
}

void TNavBar::Dispose() {
  cells_ = nullptr;
  objects_ = nullptr;
  cache_ = nullptr;
  skin_ = nullptr;
  TCustomNavBar::Dispose();
}

TNavObject* TNavBar::Button(std::int32_t index) const {
  return index >= 0 && index < objects_->Count() ? objects_->Get(index) : nullptr;
}

TNavTexture TNavBar::Texture(const WideString& file, const TRect& bounds, std::int32_t variant) {
  return cache_->Texture(this, folder_, file, bounds, variant);
}

void TNavBar::Load(zm::TIniFile* skin, const WideString& folder) {
  loaded_ = false;
  skin_ = TRef<zm::TIniFile>(skin);
  folder_ = folder;
  available_.clear();
  cache_->Clear();
  if (!skin_) return;
  ReadSkin();
  zm::LoadCallbackProc();
  loaded_ = true;
}

void TNavBar::ReadSkin() {
  zm::TIniFile& ini = *skin_;
  for (std::int32_t i = 0; i < ini.SectionCount(); ++i) {
    zm::TIniSection* s = ini.Section(i);
    if (!s) continue;
    const WideString name = s->GetName();
    if (name.size() < 7 || zm::UpperCase(name.substr(0, 7)) != u"ACTION-") continue;
    const WideString rest = name.substr(7);
    if (std::find(actions_.begin(), actions_.end(), zm::LowerCase(rest)) != actions_.end()) available_.push_back(rest);
  }

  recommendedScale_ = float(ini.ReadFloat(u"Common", u"RecommendedScale", 8.0));
  cols_ = std::max(ini.ReadInteger(u"Common", u"ColsCount", 0), 0);
  rows_ = std::max(ini.ReadInteger(u"Common", u"RowsCount", 0), 0);
  leftOffset_ = ini.ReadInteger(u"CellWithObjects", u"LeftOffset", 0);
  topOffset_ = ini.ReadInteger(u"CellWithObjects", u"TopOffset", 0);
  rightOffset_ = ini.ReadInteger(u"CellWithObjects", u"RightOffset", 0);
  bottomOffset_ = ini.ReadInteger(u"CellWithObjects", u"BottomOffset", 0);
  const std::vector<WideString> cell = SplitList(ini.ReadString(u"CellWithObjects", u"Cell", u""));
  if (cell.size() != 2) ZM_FAIL("Incorrect number of parameters in field \"Cell\"");
  cellCol_ = ToIntDef(cell[0], 1);
  cellRow_ = ToIntDef(cell[1], 1);
  zm::LoadCallbackProc();

  // A grid beyond what a bar could ever show is a damaged skin.
  if (std::int64_t(cols_) * rows_ > 65536) cols_ = rows_ = 0;
  cells_->SetSize(cols_, rows_);
  for (std::int32_t c = 1; c <= cols_; ++c)
    for (std::int32_t r = 1; r <= rows_; ++r) {
      const std::string sect = "Cell(" + std::to_string(c) + ":" + std::to_string(r) + ")";
      const WideString section = W(sect);
      TNavCell* cl = cells_->Cell(c, r);
      cl->Repeat = zm::LowerCase(ini.ReadString(section, u"TextureType", u"")) == u"repeat";
      const std::vector<WideString> b = SplitList(ini.ReadString(section, u"Bounds", u""));
      if (b.size() != 4) ZM_FAIL("Incorrect number of parameters in field \"Bounds\" in [" + sect + "]");
      const TRect bounds = ListRect(b);
      cl->Texture = Texture(ini.ReadString(section, u"flnm_Texture", u""), bounds, nvPlain);
      cl->Width = Clamp32(std::int64_t(bounds.Right) - bounds.Left);
      cl->Height = Clamp32(std::int64_t(bounds.Bottom) - bounds.Top);
    }
}

void TNavBar::SetButtons(std::span<const std::int32_t> codes) {
  TCustomNavBar::SetButtons(codes);
  if (!loaded_) return;
  BuildButtons();
  Layout();
  dirty_ = TRect{0, 0, width_, height_};
  Redraw();
}

void TNavBar::BuildButtons() {
  zm::TIniFile& ini = *skin_;
  objects_->Clear();
  pressed_ = false;
  pressedIndex_ = -1;
  const std::int32_t count =
      std::clamp<std::int32_t>(ini.ReadInteger(u"Objects", u"Count", 0), 0, std::int32_t(buttons_.size()));
  for (std::int32_t k = 0; k < count; ++k) {
    TNavObject* b = objects_->Get(k);
    const WideString obj = u"Object" + W(std::to_string(k + 1));
    b->ShiftPressed = ini.ReadInteger(obj, u"ShiftPressed", 0);
    b->GrayNormal = ini.ReadBool(obj, u"GrayNormal", false);
    b->GrayDisabled = ini.ReadBool(obj, u"GrayDisabled", false);
    b->X = ini.ReadInteger(obj, u"Left", 0);
    b->Y = ini.ReadInteger(obj, u"Top", 0);
    b->Space = ini.ReadInteger(obj, u"Space", 0);

    const std::int32_t code = buttons_[std::size_t(k)];
    // A code that names none of the skin's actions keeps an empty place:
    // no size, no textures, never hit.
    if (code < 0 || std::size_t(code) >= available_.size()) continue;
    const WideString act = u"Action-" + available_[std::size_t(code)];
    const WideString type = zm::LowerCase(ini.ReadString(act, u"ActionType", u""));
    const auto pos = std::find(actions_.begin(), actions_.end(), type);
    b->Action = type.empty() || pos == actions_.end() ? naNone : std::int32_t(pos - actions_.begin()) + 1;
    b->ActionText = ini.ReadString(act, u"Action", u"");

    auto variantOf = [&](std::int32_t state) {
      if (state == nsNormal && b->GrayNormal) return nvGray;
      if (state == nsDisabled && b->GrayDisabled) return nvDimmed;
      return nvPlain;
    };
    const WideString normalBounds = ini.ReadString(act, u"BtnTextureNormalBounds", u"");
    const WideString normalFile = ini.ReadString(act, u"flnm_BtnTextureNormal", u"");
    TRect btnBounds[4];
    for (std::int32_t s = 0; s < 4; ++s) {
      const WideString st = kStateNames[s];
      btnBounds[s] =
          ButtonBounds(s == 0 ? normalBounds : ini.ReadString(act, u"BtnTexture" + st + u"Bounds", normalBounds));
      const WideString file = s == 0 ? normalFile : ini.ReadString(act, u"flnm_BtnTexture" + st, normalFile);
      b->Textures[s] = Texture(file, btnBounds[s], variantOf(s));
    }
    const WideString playFile = ini.ReadString(act, u"flnm_BtnTextureNormalPlay", u"");
    b->HasPlay = !playFile.empty();
    if (b->HasPlay)
      for (std::int32_t s = 0; s < 4; ++s) {
        const WideString key = WideString(u"flnm_BtnTexture") + kStateNames[s] + u"Play";
        const WideString file = s == 0 ? playFile : ini.ReadString(act, key, playFile);
        b->PlayTextures[s] = Texture(file, btnBounds[s], variantOf(s));
      }
    const WideString bgBounds = ini.ReadString(act, u"BgTextureNormalBounds", u"");
    const WideString bgFile = ini.ReadString(act, u"flnm_BgTextureNormal", u"");
    for (std::int32_t s = 0; s < 4; ++s) {
      const WideString st = kStateNames[s];
      const TRect r = ButtonBounds(s == 0 ? bgBounds : ini.ReadString(act, u"BgTexture" + st + u"Bounds", bgBounds));
      const WideString file = s == 0 ? bgFile : ini.ReadString(act, u"flnm_BgTexture" + st, bgFile);
      b->Backgrounds[s] = Texture(file, r, nvPlain);
      if (s == 0) {
        b->Width = Clamp32(std::int64_t(r.Right) - r.Left);
        b->Height = Clamp32(std::int64_t(r.Bottom) - r.Top);
      }
    }
    b->FaceWidth = Clamp32(std::int64_t(btnBounds[0].Right) - btnBounds[0].Left);
    b->FaceHeight = Clamp32(std::int64_t(btnBounds[0].Bottom) - btnBounds[0].Top);
  }
}

void TNavBar::Layout() {
  const std::int32_t n = objects_->Count();
  std::int64_t w = std::int64_t(leftOffset_) + rightOffset_;
  std::int64_t h = std::int64_t(topOffset_) + bottomOffset_;
  for (std::int32_t k = 0; k < n; ++k) w += std::int64_t(objects_->Get(k)->Width) + objects_->Get(k)->Space;
  if (n > 0) h += objects_->Get(0)->Height;
  TNavCell* home = cells_->Cell(cellCol_, cellRow_);
  if (home) {
    home->Width = Clamp32(w);
    home->Height = Clamp32(h);
    if (n > 0) {
      for (std::int32_t r = 1; r <= rows_; ++r) cells_->Cell(cellCol_, r)->Width = Clamp32(w);
      for (std::int32_t c = 1; c <= cols_; ++c) cells_->Cell(c, cellRow_)->Height = Clamp32(h);
    }
  }
  std::int64_t x = 0;
  for (std::int32_t c = 1; c <= cols_; ++c) {
    for (std::int32_t r = 1; r <= rows_; ++r) cells_->Cell(c, r)->X = Clamp32(x);
    x += cells_->Cell(c, 1)->Width;
  }
  std::int64_t y = 0;
  for (std::int32_t r = 1; r <= rows_; ++r) {
    for (std::int32_t c = 1; c <= cols_; ++c) cells_->Cell(c, r)->Y = Clamp32(y);
    y += cells_->Cell(1, r)->Height;
  }
  std::int64_t bx = home ? std::int64_t(home->X) + leftOffset_ : leftOffset_;
  const std::int64_t by = home ? std::int64_t(home->Y) + topOffset_ : topOffset_;
  for (std::int32_t k = 0; k < n; ++k) {
    TNavObject* b = objects_->Get(k);
    b->X = Clamp32(bx);
    b->Y = Clamp32(by);
    bx += std::int64_t(b->Width) + b->Space;
  }
  width_ = Clamp32(x);
  height_ = Clamp32(y);
}

void TNavBar::AddDirty(const TRect& r) {
  if (IsEmpty(r)) return;
  if (IsEmpty(dirty_))
    dirty_ = r;
  else
    dirty_ = TRect{std::min(dirty_.Left, r.Left), std::min(dirty_.Top, r.Top), std::max(dirty_.Right, r.Right),
                   std::max(dirty_.Bottom, r.Bottom)};
}

void TNavBar::Redraw() {
  if (!loaded_ || IsEmpty(dirty_) || cols_ < 1 || rows_ < 1) return;
  // A damaged skin may give a size no picture can have.
  if (!zm::BitmapSizeAllowed(width_, height_, zm::pfA8R8G8B8)) {
    dirty_ = {};
    return;
  }
  if (!bitmap_ || bitmap_->Width() != width_ || bitmap_->Height() != height_) {
    bitmap_ = zm::CreateSysBitmap(width_, height_, zm::pfA8R8G8B8);
    dirty_ = TRect{0, 0, width_, height_};
  }
  TSysBitmap* target = bitmap_.get();
  const TRect clip = Intersect(dirty_, TRect{0, 0, width_, height_});
  if (!IsEmpty(clip)) {
    target->FillRect(clip, zm::TColor32{});
    for (std::int32_t c = 1; c <= cols_; ++c)
      for (std::int32_t r = 1; r <= rows_; ++r) {
        TNavCell* cl = cells_->Cell(c, r);
        if (!cl->Texture.Bitmap) continue;
        const TRect anchor{cl->X, cl->Y, Clamp32(std::int64_t(cl->X) + cl->Width),
                           Clamp32(std::int64_t(cl->Y) + cl->Height)};
        zm::TileBitmapRect(target, cl->Texture.Bitmap.get(), anchor, clip, cl->Texture.Rect);
      }
    const bool showPlay = OnIsPlaying && !OnIsPlaying();
    for (std::int32_t k = 0; k < objects_->Count(); ++k) {
      TNavObject* b = objects_->Get(k);
      if (IsEmpty(Intersect(b->BoundsRect(), clip))) continue;
      const std::int32_t s = std::clamp(b->State, 0, 3);
      const TNavTexture& bg = b->Backgrounds[s];
      DrawClipped(target, bg.Bitmap.get(),
                  TRect{bg.Rect.Left, bg.Rect.Top, Clamp32(std::int64_t(bg.Rect.Left) + b->Width),
                        Clamp32(std::int64_t(bg.Rect.Top) + b->Height)},
                  b->X, b->Y, clip);
      const TNavTexture& face = b->HasPlay && showPlay ? b->PlayTextures[s] : b->Textures[s];
      std::int64_t fx = b->X + (std::int64_t(b->Width) - b->FaceWidth) / 2;
      std::int64_t fy = b->Y + (std::int64_t(b->Height) - b->FaceHeight) / 2;
      if (s == nsPressed) {
        fx += b->ShiftPressed;
        fy += b->ShiftPressed;
      }
      DrawClipped(target, face.Bitmap.get(),
                  TRect{face.Rect.Left, face.Rect.Top, Clamp32(std::int64_t(face.Rect.Left) + b->FaceWidth),
                        Clamp32(std::int64_t(face.Rect.Top) + b->FaceHeight)},
                  fx, fy, clip);
    }
  }
  const TRect done = dirty_;
  dirty_ = {};
  if (OnChange) OnChange(this, done);
}

void TNavBar::ChangeState(TNavObject* b, std::int32_t state) {
  if (b->State == state) return;
  TRect r = b->BoundsRect();
  if (b->State == nsPressed || state == nsPressed) {
    r.Right = Clamp32(std::int64_t(r.Right) + std::max(b->ShiftPressed, 0));
    r.Bottom = Clamp32(std::int64_t(r.Bottom) + std::max(b->ShiftPressed, 0));
  }
  AddDirty(r);
  b->State = state;
}

void TNavBar::SetButtonState(std::int32_t index, std::int32_t state) {
  TNavObject* b = Button(index);
  if (!b || state < nsNormal || state > nsDisabled) return;
  ChangeState(b, state);
  Redraw();
}

bool TNavBar::InsideBar(std::int32_t x, std::int32_t y) const { return x >= 0 && x < width_ && y >= 0 && y < height_; }

void TNavBar::SetAllNormal() {
  for (std::int32_t k = 0; k < objects_->Count(); ++k) {
    TNavObject* b = objects_->Get(k);
    if (b->State != nsDisabled) ChangeState(b, nsNormal);
  }
}

void TNavBar::HandleMove(std::uint8_t shift, std::int32_t x, std::int32_t y) {
  if (!pressed_ && !InsideBar(x, y)) {
    if (hover_) {
      hover_ = false;
      SetAllNormal();
      Redraw();
    }
    return;
  }
  if (!pressed_ && (shift & 0x10)) return;
  hover_ = true;
  for (std::int32_t k = 0; k < objects_->Count(); ++k) {
    TNavObject* b = objects_->Get(k);
    if (b->State == nsDisabled) continue;
    std::int32_t s = nsNormal;
    if (HitTest(b, x, y)) s = !pressed_ ? nsHover : k == pressedIndex_ ? nsPressed : nsNormal;
    ChangeState(b, s);
  }
  Redraw();
}

void TNavBar::MouseEvent(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                         std::int32_t kind) {
  ZM_ASSERT(kind >= nmMove && kind <= nmUp, "TNavBar.MouseEvent - Invalid Kind " + std::to_string(kind));
  TRef<TNavBar> keep(this);  // a callback may drop the owner's reference
  switch (kind) {
    case nmDown: {
      if (button != 1 || !InsideBar(x, y)) return;
      pressed_ = true;
      pressedIndex_ = -1;
      for (std::int32_t k = 0; k < objects_->Count(); ++k) {
        TNavObject* b = objects_->Get(k);
        if (b->State == nsDisabled) continue;
        if (HitTest(b, x, y)) {
          ChangeState(b, nsPressed);
          pressedIndex_ = k;
        } else {
          ChangeState(b, nsNormal);
        }
      }
      Redraw();
      return;
    }
    case nmMove:
      HandleMove(shift, x, y);
      return;
    default: {
      const bool outside = !InsideBar(x, y);
      if (outside) {
        // A press must end even when the pointer never hovered the bar.
        if (!hover_ && !(pressed_ && button == 1)) return;
        hover_ = false;
      }
      if (button != 1) {
        HandleMove(shift, x, y);
        return;
      }
      const std::int32_t index = pressed_ ? pressedIndex_ : -1;
      pressed_ = false;
      pressedIndex_ = -1;
      TNavObject* b = Button(index);
      if (b && b->State != nsDisabled && HitTest(b, x, y) && OnClick) {
        OnClick(this, index);
        if (!objects_) return;  // disposed by the callback
      }
      if (outside) {
        SetAllNormal();
        Redraw();
        return;
      }
      HandleMove(shift, x, y);
      return;
    }
  }
}

void TNavBar::UpdatePlayState(double) {
  if (!OnIsPlaying) return;
  TRef<TNavBar> keep(this);  // the change callback may drop the owner's reference
  const bool playing = OnIsPlaying();
  if (forcePlayState_ || playing != lastPlaying_) {
    for (std::int32_t k = 0; k < objects_->Count(); ++k)
      if (objects_->Get(k)->HasPlay) {
        AddDirty(objects_->Get(k)->BoundsRect());
        break;
      }
    Redraw();
  }
  forcePlayState_ = false;
  lastPlaying_ = playing;
}

// ---- Module --------------------------------------------------------------------------

void InitNavBar() {
  if (gInitCount++ > 0) return;
  gNavBarHook.Install(CreateNavBarHook, &MakeNavBar);
}

void FiniNavBar() {
  if (gInitCount <= 0 || --gInitCount > 0) return;
  gNavBarHook.Restore();
}

}  // namespace oru
