#include "OruLib2/OruClasses/OruText.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>

#include "OruLib2/OruClasses/OruButton.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruTextBitmapStore.h"
#include "ZmLib/VectorGraphics/zmTextKeys.h"
#include "ZmLib/zmIni.h"

namespace oru {

using zm::MakeRef;
using zm::TColor24;

namespace {

// True when every backslash of the value starts "\\" or "\n".
bool IniEscapesValid(std::string_view value) {
  for (std::size_t i = value.find('\\'); i != std::string_view::npos; i = value.find('\\', i + 2))
    if (i + 1 >= value.size() || (value[i + 1] != '\\' && value[i + 1] != 'n')) return false;
  return true;
}

// Runs of continuation bytes longer than this decode as one this long does.
constexpr std::size_t kMostRun = 7;
// A character's decoding looks at most this many bytes from its first on.
constexpr std::int32_t kDecodeReach = 12;

}  // namespace

std::vector<WideString> ParseTextValue(std::string_view value) {
  // A bad escape anywhere leaves the whole text empty.
  if (!IniEscapesValid(value)) return {WideString()};
  // Only what the cut keeps is made: a text of a hundred million lines
  // costs no more than one of a thousand. The value is decoded as a stream
  // (its escapes, then UTF-8, a few bytes ahead), exactly as decoding it
  // whole would, and split as it goes.
  std::vector<WideString> out;
  WideString line;
  char16_t pendingEnd = 0;  // the line end just read: its other half joins it
  bool full = false;
  const auto unit = [&](char16_t c) {
    if (pendingEnd) {
      const bool joins = (c == u'\r' || c == u'\n') && c != pendingEnd;
      pendingEnd = 0;
      if (joins) return;  // CR LF and LF CR end one line
    }
    if (c == u'\r' || c == u'\n') {
      out.push_back(std::move(line));
      line.clear();
      pendingEnd = c;
      full = out.size() >= kMaxTextLines;
      return;
    }
    // One past the cut, so that CutText still sees the line is too long.
    if (line.size() <= kMaxTextLineLength) line += c;
  };
  std::string window;  // bytes not decoded yet
  const auto decode = [&](bool last) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(window.data());
    const auto n = std::int32_t(window.size());
    std::int32_t i = 0;
    while (!full && i < n && (last || n - i >= kDecodeReach)) {
      if (p[i] < 0x80) {
        unit(p[i++]);
        continue;
      }
      std::uint32_t c = zm::DecodeUTF8Char(p, n - 1, i);
      if (c > 0x10FFFF) {
        unit(u'\xFFFD');
      } else if (c >= 0x10000) {
        c -= 0x10000;
        unit(char16_t(0xD800 + (c >> 10)));
        unit(char16_t(0xDC00 + (c & 0x3FF)));
      } else {
        unit(char16_t(c));
      }
    }
    window.erase(0, std::size_t(std::min(i, n)));
  };
  std::size_t run = 0;  // continuation bytes in a row
  const auto put = [&](char b) {
    run = (static_cast<std::uint8_t>(b) & 0xC0) == 0x80 ? run + 1 : 0;
    if (run > kMostRun) return;
    window += b;
    if (window.size() >= 4 * kDecodeReach) decode(false);
  };
  for (std::size_t i = 0; i < value.size() && !full; ++i) {
    if (value[i] != '\\') {
      put(value[i]);
    } else if (value[++i] == 'n') {
      put('\r');
      put('\n');
    } else {
      put('\\');
    }
  }
  decode(true);
  if (!full) out.push_back(std::move(line));
  return out;
}

double LimitTextRasterScale(double scale, double width, double height) {
  if (!(scale > 0) || !std::isfinite(scale) || !(width > 0) || !(height > 0) || !std::isfinite(width) ||
      !std::isfinite(height))
    return 0;
  // A few hundred halvings reach any double's underflow: the loop always ends.
  while (scale > 0 && (height * scale > kMaxTextRasterSide || width * scale > kMaxTextRasterSide ||
                       height * width * scale * scale > kMaxTextRasterArea))
    scale /= 2;
  return scale;
}

namespace objects {

std::uint8_t DefaultTextMouseState = 0;

namespace {

TColor24 DefaultTextColour() {
  const std::uint32_t c = std::uint32_t(zm::DefaultTextKeyParams.Color);
  return TColor24{std::uint8_t(c), std::uint8_t(c >> 8), std::uint8_t(c >> 16)};
}

bool AllEqual(const TColor24 (&c)[3]) { return c[0] == c[1] && c[1] == c[2]; }

// What a text's colours are before its keys: a caption starts from its
// button's skin (the default text colour while the button has none).
TColor24 StartColour(TOruObject* parent, bool caption) {
  auto* button = caption ? dynamic_cast<TOruButton*>(parent) : nullptr;
  return button && button->SkinHeight > 0 ? button->CaptionColour() : DefaultTextColour();
}

}  // namespace

void TOruText::Dispose() {
  parser_ = nullptr;
  TOruImage::Dispose();
}

void TOruText::InitState() {
  TOruImage::InitState();
  parser_ = MakeRef<TMTParser>();
  Paragraphs.assign(1, u" ");
  Antialiased = 0;
  FontName = zm::DefaultTextKeyParams.FontName;
  FontStyle = zm::DefaultTextKeyParams.Style;
  Alignment = zm::DefaultTextKeyParams.Alignment;
  LineSpacing = zm::DefaultTextKeyParams.LineSpacing;
  MouseState = DefaultTextMouseState;
  const TColor24 c = DefaultTextColour();
  for (std::int32_t i = 0; i < 3; ++i) Colours[i] = CorrectedColours[i] = c;
  ShadowEnable = 1;
  // The first child of a button is its caption, in the colour of the skin
  // the button loaded before making its children.
  TOruObjectProps* pp = parent_ ? parent_->Props() : nullptr;
  if (pp && pp->ObjectType() == kOruObjButton && parent_->Child(0) == this) MakeCaption(StartColour(parent_, true));
}

void TOruText::SetMouseState(std::uint8_t state) {
  if (state == MouseState) return;
  MouseState = state;
  Changed = true;
}

void TOruText::SetAllColours(TColor24 colour) {
  for (std::int32_t i = 0; i < 3; ++i) SetColour(i, colour);
}

void TOruText::MakeCaption(TColor24 captionColour) {
  IsCaption = 1;
  TranspForClick = 1;
  ShadowEnable = 0;
  SetAllColours(captionColour);
  if (Paragraphs.size() > 1) Paragraphs.resize(1);
  NeedsRender = 1;
  Changed = true;
}

void TOruText::Load(TOruObjectProps* props, bool reload) {
  const zm::TIniItem* item = FindPropItem(props, u"Text");
  // Read where the description holds it: a value of a hundred MB is neither
  // copied nor kept.
  const std::string_view raw = item ? item->ValueView() : std::string_view();
  const TRawTextMark mark{raw.size(), std::hash<std::string_view>{}(raw)};
  if (!(mark == RawText)) {
    AssignPicture(nullptr, false);
    ForgetObjectKey(Key);
  }
  RawText = mark;
  Paragraphs = ParseTextValue(raw);
  CutText(Paragraphs);
  if (IsCaption && Paragraphs.size() > 1) Paragraphs.resize(1);
  Empty = std::all_of(Paragraphs.begin(), Paragraphs.end(), [](const WideString& p) { return p.empty(); }) ? 1 : 0;
  if (Empty) Paragraphs.assign(1, u" ");
  NeedsRender = 1;
  Changed = true;
  ReadProps(props, reload);
}

void TOruText::ReadProps(TOruObjectProps* props, bool reload) {
  TOruTextKeys k;
  // A caption's keys win over its skin's colour; without them it keeps that.
  k.TextColor = k.TextColorHover = k.TextColorClick = StartColour(parent_, IsCaption != 0);
  k.FontName = zm::DefaultTextKeyParams.FontName;
  k.FontStyle = zm::DefaultTextKeyParams.Style;
  k.TextAlign = zm::DefaultTextKeyParams.Alignment;
  k.LineSpacing = zm::DefaultTextKeyParams.LineSpacing;
  ReadOruTextKeys(props, k);
  const TColor24 c[3] = {k.TextColor, k.TextColorHover, k.TextColorClick};
  const TColor24 cc[3] = {k.TextColorCorrected, k.TextColorHoverCorrected, k.TextColorClickCorrected};
  for (std::int32_t i = 0; i < 3; ++i) {
    SetColour(i, c[i]);
    CorrectedColours[i] = cc[i];
  }
  FontName = k.FontName;
  FontStyle = k.FontStyle;
  Alignment = k.TextAlign;
  LineSpacing = k.LineSpacing;
  RasterizedGUID = k.RasterizedGUID;
  if (k.IsComment != (IsComment != 0)) SetIsComment(k.IsComment);
  if (k.Rasterize != (Rasterize != 0)) SetRasterize(k.Rasterize);
  TOruImage::ReadProps(props, reload);
  Antialiased = 0;
  // The base keys must not undo what makes a caption.
  if (IsCaption) {
    ShadowEnable = 0;
    TranspForClick = 1;
  }
}

void TOruText::SetColour(std::int32_t slot, TColor24 colour) {
  if (slot < 0 || slot > 2 || Colours[slot] == colour) return;
  const bool before = AllColoursEqual();
  Colours[slot] = colour;
  CorrectedColours[slot] = CorrectDisplayColor(colour);
  Changed = true;
  if (before || AllColoursEqual()) NeedsRender = 1;
}

TColor24 TOruText::Colour(std::int32_t slot) const { return slot >= 0 && slot <= 2 ? Colours[slot] : TColor24{}; }

bool TOruText::AllColoursEqual() const { return AllEqual(Colours); }

void TOruText::SetIsComment(bool value) {
  if (value) {
    // One comment per slide: unmark every other text first.
    std::vector<TOruObject*> stack{Root()};
    while (!stack.empty()) {
      TOruObject* o = stack.back();
      stack.pop_back();
      if (auto* t = dynamic_cast<TOruText*>(o)) t->IsComment = 0;
      for (const TRef<TOruObject>& c : o->Children()) stack.push_back(c.get());
    }
  }
  IsComment = value ? 1 : 0;
}

void TOruText::SetRasterize(bool value) {
  if ((Rasterize != 0) == value) return;
  AssignPicture(nullptr, false);
  if (value) ForgetObjectKey(Key);
  Rasterize = value ? 1 : 0;
  Changed = true;
}

void TOruText::SetTime(bool recursive, double t) {
  time_ = t;
  TOruImage::SetTime(recursive, t);
}

TMacroSlideFacts TOruText::MacroFacts() {
  TMacroSlideFacts f;
  TOruSlide* slide = Root()->AsSlide();
  TOruSlideHost* host = GetHost();
  if (slide) {
    f.SlideIndex = slide->Index;
    f.SlidesCount = slide->SlideCount;
  }
  if (host && host->SlideCount > 0) f.SlidesCount = host->SlideCount;
  WideString name;
  zm::TSize size;
  TGetObjectMediaProc find = GetObjectMediaHook ? GetObjectMediaHook : &GetBaseObjectMedia;
  TOruObject* media = find(Root(), name, size);
  if (!media) return f;
  f.HasPicture = true;
  f.PicturePath = name;
  f.PictureWidth = size.cx;
  f.PictureHeight = size.cy;
  // Metadata only of a plain image's file.
  if (typeid(*media) == typeid(TOruImage) && host && host->FileAccessor()) {
    TRef<TFileAccessor> accessor(host->FileAccessor());
    f.OpenPicture = [accessor, name]() { return TRef<zm::TStream>::Adopt(accessor->OpenFile(name)); };
  }
  return f;
}

void TOruText::ExpandText() {
  // Every macro begins with "<%": a text without one stays as it is, and
  // the slide is not searched for its main picture (a walk of the whole
  // tree, for each text of a slide of many).
  if (std::none_of(Paragraphs.begin(), Paragraphs.end(),
                   [](const WideString& p) { return p.find(u"<%") != WideString::npos; })) {
    Expanded = Paragraphs;
    CutText(Expanded);
    return;
  }
  TRef<TMacroResolver> resolver = MakeRef<TMacroResolver>(MacroFacts());
  if (!parser_) parser_ = MakeRef<TMTParser>();
  parser_->GetValue = resolver->Callback();
  Expanded.clear();
  for (const WideString& p : Paragraphs) Expanded.push_back(p.empty() ? p : parser_->Expand(p));
  parser_->GetValue = nullptr;
  // A picture's metadata may be longer than the text was.
  CutText(Expanded);
}

namespace {

// The largest |Scale.X| or |Scale.Y| (percent) of the key frames that set
// the scale; 0 when none does.
double MaxKeyFrameScale(TOruObjectProps* props) {
  double scale = 0;
  if (!props) return 0;
  for (TOruKeyFrame* k : props->KeyFrames().Items) {
    if (!k || !(k->Groups() & (1u << kGroupScale))) continue;
    double x = 0, y = 0;
    k->GetParam(kParamScaleX, x);
    k->GetParam(kParamScaleY, y);
    if (std::isfinite(x)) scale = std::max(scale, std::fabs(x));
    if (std::isfinite(y)) scale = std::max(scale, std::fabs(y));
  }
  return scale;
}

// The measured on-screen height of the object's container, else its height.
double ContainerHeight(TOruObject* object) {
  TOruObject* parent = object->Parent();
  const double h = parent ? parent->MeasuredHeight : 0;
  return h > 0 ? h : object->GetContainerSize().Y;
}

}  // namespace

double TOruText::WantedRasterHeight() {
  double r = 0;
  if (IsCaption && parent_) {
    // A caption grows with its button.
    double scale = MaxKeyFrameScale(parent_->Props());
    if (scale == 0) scale = std::max(std::fabs(parent_->ScaleX()), std::fabs(parent_->ScaleY()));
    r = ScaleY() * scale * ContainerHeight(parent_) / 10000.0;
  } else {
    double scale = MaxKeyFrameScale(Props());
    if (scale == 0) scale = std::max(std::fabs(ScaleX()), std::fabs(ScaleY()));
    r = scale * ContainerHeight(this) / 100.0;
  }
  return std::isfinite(r) ? std::fabs(r) : 0;
}

void TOruText::Render() {
  ++RenderCount;
  NeedsRender = 0;
  lastFont_ = FontName;
  lastStyle_ = FontStyle;
  lastAlign_ = Alignment;
  lastSpacing_ = LineSpacing;
  lastWanted_ = WantedRasterHeight();
  TOruSlideHost* host = GetHost();
  if (!host) return;
  TRef<TOruSlideHost> keep(host);
  ExpandText();

  TRef<zm::TStringList> lines = MakeRef<zm::TStringList>();
  for (const WideString& p : Expanded) lines->Add(p);
  TRef<zm::TStringList> marked = zm::EncodeMarkedLines(*lines);
  zm::TTextKeyParams params = zm::DefaultTextKeyParams;
  params.FontName = FontName;
  params.Style = FontStyle;
  params.Alignment = Alignment;
  params.LineSpacing = LineSpacing;
  params.Color = std::int32_t(0xFF000000u | std::uint32_t(Colours[0].R) << 16 | std::uint32_t(Colours[0].G) << 8 |
                              Colours[0].B);
  if (!AllColoursEqual()) params.Color = -1;

  // The natural size: the text at scale 1.
  params.Scale = 1;
  TRef<TTextBitmapStore> natural;
  TRef<zm::TImage> measured;
  try {
    const WideString description = zm::MakeTextKey(*marked, params).substr(6);
    // Through the host's maker, which keeps the last texts measured.
    if (TTextBitmapMaker* maker = host->TextBitmapMaker()) {
      measured = maker->MeasureText(description, host->FileAccessor());
      natural = TRef<TTextBitmapStore>(measured ? dynamic_cast<TTextBitmapStore*>(measured->Store()) : nullptr);
    } else {
      natural = TTextBitmapStore::Create(description, host->FileAccessor());
    }
  } catch (const zm::EAbort&) {
    throw;
  } catch (const std::exception&) {
    natural = nullptr;  // no font at all: nothing to draw
  }
  if (!natural) {
    AssignPicture(nullptr, false);
    return;
  }
  // The natural size is the ink's: the bitmap's one-pixel margin does not scale.
  const zm::TFloatRect ink = natural->InkRect(1);
  const double nw = double(ink.Right) - ink.Left, nh = double(ink.Bottom) - ink.Top;
  RasterScale = nh > 0 ? lastWanted_ / nh : 0;
  RasterScale = LimitTextRasterScale(RasterScale, nw + 2, nh + 2);
  if (!(RasterScale > 0)) {
    AssignPicture(nullptr, false);
    return;
  }
  params.Scale = RasterScale;
  RequestKey = zm::MakeTextKey(*marked, params);
  TRef<zm::TImage> picture = host->GetImage(RequestKey);
  AssignPicture(picture.get(), false);
  // The ink rectangle and line height of what was made.
  auto* store = picture ? dynamic_cast<TTextBitmapStore*>(picture->Store()) : nullptr;
  if (store) {
    const zm::TFloatRect b = store->InkRect(RasterScale);
    InkRect = {1, 1, 1 + (b.Right - b.Left), 1 + (b.Bottom - b.Top)};
    LineHeight = store->LineHeight(RasterScale);
  } else {
    InkRect = {0, 0, float(PictureWidth), float(PictureHeight)};
    LineHeight = float(PictureHeight) / float(std::max<std::size_t>(1, Expanded.size()));
  }
  ApplyInk();
  if (!IsCaption && Height > 0) {
    const zm::TFloatPoint c = GetContainerSize();
    FitMode = c.Y > 0 && c.X / c.Y >= Width / Height ? kFitPlaceInto : kFitCover;
  }
  FirstLayout = 0;
}

void TOruText::ApplyInk() {
  if (!Picture || Rasterize) return;
  zm::TFloatRect r = InkRect;
  r.Left = std::clamp(r.Left, 0.0f, float(PictureWidth));
  r.Right = std::clamp(r.Right, r.Left, float(PictureWidth));
  r.Top = std::clamp(r.Top, 0.0f, float(PictureHeight));
  r.Bottom = std::clamp(r.Bottom, r.Top, float(PictureHeight));
  CropRect = r;
  Margin = 0;
  Width = r.Right - r.Left;
  Height = r.Bottom - r.Top;
  DrawnSize = {Width, Height};
  OriginX = r.Left;
  OriginY = r.Top;
}

void TOruText::RequestImage() {
  if (Rasterize) {
    if (Picture) return;
    TOruSlideHost* host = GetHost();
    if (!host || RasterizedGUID.empty()) return;
    TRef<TOruSlideHost> keep(host);
    RequestKey = RasterizedGUID;
    TRef<zm::TImage> picture = host->GetImage(RasterizedGUID);
    AssignPicture(picture.get(), false);
    const double n = double(std::max<std::size_t>(1, Paragraphs.size()));
    const double h = Height / ((n - 1) * LineSpacing / 200.0 + n);
    LineHeight = std::isfinite(h) ? float(h) : 0.0f;
    return;
  }
  // A new container height (a resized window) changes the raster wanted.
  if (Picture && FontName == lastFont_ && FontStyle == lastStyle_ && Alignment == lastAlign_ &&
      LineSpacing == lastSpacing_ && !NeedsRender && WantedRasterHeight() == lastWanted_)
    return;
  Render();
}

void TOruText::UpdateContentLayout() {
  ApplyInk();
  TOruImage::UpdateContentLayout();
}

void TOruText::UpdateLayout(bool recursive) {
  TOruSlide* slide = Root()->AsSlide();
  if (!Rasterize && slide && slide->Measuring) return;
  RequestImage();
  ApplyInk();
  TOruImage::UpdateLayout(recursive);
}

bool TOruText::GetDrawColour(TColor24& colour) {
  colour = CorrectedColours[std::min<std::uint8_t>(MouseState, 2)];
  return true;
}

float TOruText::GetDrawOpacity() {
  // A caption fades with its button: the button's opacity (the body's own
  // BtnOpacity aside) times the caption's, the slide's fade counted once.
  if (!IsCaption || !parent_) return GetOpacity();
  const double v = double(parent_->GetOpacity()) * OpacityParam() / 100.0;
  return std::isfinite(v) ? float(std::clamp(v, -3.0e38, 3.0e38)) : 0.0f;
}

bool TOruText::ShowsNothing() {
  constexpr std::uint8_t kLined = 4 | 8;  // underline, strike-out
  return Empty && !Rasterize && !(FontStyle & kLined);
}

void TOruText::PrepareDraw(zm::TDeviceDrawer& drawer) {
  if (!Picture || GetDrawOpacity() == 0 || ShowsNothing()) return;
  TOruImage::PrepareDraw(drawer);
}

bool TOruText::ScreenPixels(zm::TDeviceDrawer& drawer, zm::TRect& reach, zm::TRect& inner, zm::TRect& cover) {
  return typeid(*this) == typeid(TOruText) && !ShowsNothing() && PictureScreenPixels(drawer, reach, inner, cover);
}

}  // namespace objects

namespace {

void SetTextCaptionColour(TOruObject* caption, TColor24 colour) {
  if (auto* text = dynamic_cast<objects::TOruText*>(caption)) text->SetAllColours(colour);
}

}  // namespace

void InitOruTextKind() {
  SetOruObjectClass(kOruObjText, &MakeOruObject<objects::TOruText>);
  SetCaptionColourHook = &SetTextCaptionColour;
}

void FiniOruTextKind() {
  SetOruObjectClass(kOruObjText, nullptr);
  if (SetCaptionColourHook == &SetTextCaptionColour) SetCaptionColourHook = nullptr;
}

}  // namespace oru
