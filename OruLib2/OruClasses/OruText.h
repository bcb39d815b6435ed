#pragma once
// Text objects: a block of text on a slide, its macros expanded against the
// slide and its main picture, rendered into a picture at the resolution its
// animation needs and drawn like an image, tinted by the mouse state.
//
// The Text value: the key's value is UTF-8 with the ini escapes ("\\" and
// "\n"); each line is a paragraph (CR, LF, CR LF and LF CR end a line). All
// paragraphs share the object's FontName, FontStyle, TextAlign, LineSpacing
// and colours; the value carries no formatting of its own, so the size
// factor of a text is always 1. A value with an invalid escape reads as
// empty. A text whose every paragraph is empty is a single blank.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruTextMacros.h"
#include "ZmLib/zmByteString.h"

namespace oru {

// The paragraphs of a Text value (see above); never empty. Only what
// CutText keeps is read: at most kMaxTextLines paragraphs, each of at most
// kMaxTextLineLength + 1 characters (a longer one is cut there, so that
// CutText still sees it is too long).
std::vector<WideString> ParseTextValue(std::string_view value);
inline std::vector<WideString> ParseTextValue(const zm::TByteString& value) { return ParseTextValue(value.View()); }

// Largest raster a text is rendered at.
constexpr double kMaxTextRasterSide = 30000;
constexpr double kMaxTextRasterArea = 10000000;
// Scale halved while a text of Width x Height (at scale 1) would exceed the
// raster limits; 0 for a scale or size that is not a positive number.
double LimitTextRasterScale(double scale, double width, double height);

namespace objects {

class TOruText : public TOruImage, public TOruMouseStateItem {
public:
  // Colour slots.
  static constexpr std::int32_t kTextColour = 0, kHoverColour = 1, kClickColour = 2;

  // ---- Overrides -------------------------------------------------------------------
  void Dispose() override;
  void UpdateLayout(bool recursive) override;
  void PrepareDraw(zm::TDeviceDrawer& drawer) override;
  // Its picture as an image's (a text showing nothing draws none).
  bool ScreenPixels(zm::TDeviceDrawer& drawer, zm::TRect& reach, zm::TRect& inner, zm::TRect& cover) override;
  zm::TCustomColorGradeTexture* GetColorGrading() override { return nullptr; }
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void Load(TOruObjectProps* props, bool reload) override;
  void SetTime(bool recursive, double t) override;
  void InitState() override;
  void RequestImage() override;
  void UpdateContentLayout() override;
  TImageKind ImageKind() const override { return TImageKind::Text; }
  double ShadowLineHeight() override { return LineHeight; }
  bool GetDrawColour(zm::TColor24& colour) override;
  // Blanks, drawn without underline or strike-out, leave no ink.
  bool ShowsNothing() override;
  // A caption's is its button's opacity times its own.
  float GetDrawOpacity() override;
  bool ShadowOnByDefault() const override { return !IsCaption; }
  // The slide's mouse handling: a new state redraws with its colour.
  void SetMouseState(std::uint8_t state) override;
  std::uint8_t GetMouseState() override { return MouseState; }

  // ---- Its own ---------------------------------------------------------------------
  // Sets one colour (slot above; corrected for the display). Equal: nothing;
  // otherwise changed, and a new render when the three colours were or
  // become all equal.
  void SetColour(std::int32_t slot, zm::TColor24 colour);
  zm::TColor24 Colour(std::int32_t slot) const;
  // At most one comment text per slide.
  void SetIsComment(bool value);
  void SetRasterize(bool value);
  // Makes the text a button's caption: first paragraph only, click-through,
  // no shadow, all colours the skin's caption colour. A text made as the
  // first child of a button becomes its caption by itself.
  void MakeCaption(zm::TColor24 captionColour);
  // All three colours (a caption takes the skin's).
  void SetAllColours(zm::TColor24 colour);
  // What the macros see of the slide.
  TMacroSlideFacts MacroFacts();
  // Rebuilds the expanded paragraphs from the source ones.
  void ExpandText();
  // The raster height the animation needs (pixels).
  double WantedRasterHeight();
  bool AllColoursEqual() const;

  std::vector<WideString> Paragraphs;  // source
  std::vector<WideString> Expanded;    // after macro expansion
  // What the Text value was: its length and hash (empty at first).
  struct TRawTextMark {
    std::size_t Length = 0;
    std::size_t Hash = std::hash<std::string_view>{}(std::string_view());
    bool operator==(const TRawTextMark&) const = default;
  };
  TRawTextMark RawText;
  WideString FontName;
  std::uint8_t FontStyle = 0;
  std::uint8_t Alignment = 1;
  std::int32_t LineSpacing = 0;
  zm::TColor24 Colours[3] = {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}};
  zm::TColor24 CorrectedColours[3] = {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}};
  std::uint8_t MouseState = 0;  // 0 normal, 1 hover, 2 pressed
  std::uint8_t NeedsRender = 1;
  std::uint8_t Empty = 0;
  std::uint8_t IsComment = 0;
  std::uint8_t Rasterize = 0;
  std::uint8_t FirstLayout = 1;
  std::uint8_t IsCaption = 0;
  WideString RasterizedGUID;
  double RasterScale = 0;
  zm::TFloatRect InkRect;  // in the picture's pixels
  float OriginX = 0, OriginY = 0;
  float LineHeight = 0;
  std::int32_t RenderCount = 0;  // renders asked for (diagnostics, tests)

private:
  void Render();
  void ApplyInk();

  // Inputs of the last render.
  WideString lastFont_;
  std::uint8_t lastStyle_ = 0, lastAlign_ = 0;
  std::int32_t lastSpacing_ = 0;
  double lastWanted_ = 0;
  double time_ = 0;
  TRef<TMTParser> parser_;
};

// The global setting the mouse state of a new text starts from.
extern std::uint8_t DefaultTextMouseState;

}  // namespace objects

// Registers the text kind (code 6) with the object module and gives button
// captions their skin's colour.
void InitOruTextKind();
void FiniOruTextKind();

}  // namespace oru
