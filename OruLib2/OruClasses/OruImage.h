#pragma once
// Image objects: a picture of the show on a slide (a photo, a frame strip of
// an animation, a mask made from a picture, or inside an effect slide the
// picture of a slide of the transition), with its crop and border, its
// animation, its colour grading, its colour-profile table and its shadow.
//
// The class is TOruImage like the show's shared picture of the file layer;
// it lives in oru::objects so that both keep their names.
#include <cstdint>
#include <span>

#include "OruLib2/OruClasses/OruAnimParams.h"
#include "OruLib2/OruClasses/OruObjects.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmMaskGenerator.h"
#include "ZmLib/Graphics/zmShadows.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// What the image object asks the file accessor for. An effect buffer
// (ReplaceWithEffectBuffer n != 0) is "SlideEffectBuffer:" in an effect
// slide, else "EffectResource:", then n, ", " and the buffer name (the
// host's two buffer sizes joined by ", "); otherwise the image name, with
// "Mask: " in front when the alpha is restored, and a ".gif" ending turned
// into ".gif|framesatlas" for an animation.
WideString EffectBufferImageName(std::int32_t size1, std::int32_t size2);
WideString ImageRequestKey(const WideString& imageName, std::int32_t replaceWithEffectBuffer,
                           const WideString& bufferName, bool effectSlide, bool restoreAlpha, bool animated);

// The drawer keeps a strip as its cells, each with a one-pixel border of
// its own edge pixels (a tile bitmap): cell (Row, Column) of a Width x
// Height strip in that layout, cells of Width div Columns x Height div Rows.
zm::TFloatRect StripCellRect(std::int32_t width, std::int32_t height, std::int32_t columns, std::int32_t rows,
                             std::int32_t row, std::int32_t column);

// Kinds of image objects, for the shadow's scale.
enum class TImageKind : std::uint8_t { Image, Text, Button };
// The scale at which a shadow is made from the picture of an object of
// Width x Height drawn at mip level Level; a text passes its line height.
double ImageShadowScale(TImageKind kind, std::int32_t level, double width, double height, double lineHeight);
// The size the shadow's offset counts in (ShadowDistance is a percentage of
// it): Sqrt(width * height) for a picture, 3 heights for a button, 3 line
// heights for a text (rounded, halves to even).
float ImageShadowDrawSize(TImageKind kind, float width, float height, double lineHeight);

// The 32 x 1024 A8R8G8B8 look-up table from the picture's colour profile to
// the display's (Target nil: the display profile); nil when the picture has
// no profile of its own or there is no transform.
zm::TRef<zm::TSysBitmap> MakeProfileLookup(zm::TImage* picture, zm::TColorProfile* target);

// The border record of an image as the imaging layer reads it: the crop is
// the margins (percent of the framed size), the border width the corner
// value (percent of the framed height), the aspect crop with its zoom and
// offsets.
struct TImageBorder {
  bool BorderOn = false;
  bool CropOn = false;
  bool AspectOn = false;
  float BorderWidth = 1.5f;
  zm::TColor32 BorderColor = zm::TColor32::FromValue(0xFFFFFFFFu);
  zm::TFloatRect CropRect;
  float Aspect = 0;
  float Zoom = 100;
  float OffsetX = 0, OffsetY = 0;
  friend bool operator==(const TImageBorder&, const TImageBorder&) = default;
};
zm::TBorderParams ToBorderParams(const TImageBorder& border);

// Crop rectangle (picture pixels) and margin (the border width in pixels)
// of a picture of Size under Border.
void ImageBorderGeometry(const TImageBorder& border, const zm::TSize& size, zm::TFloatRect& crop, float& margin);

// The grading between two key frames' colour filters: 0 without either
// filter or table; 3 with the image's own colour table; else the larger
// kind of the two chains (fkValue .. fkMixed).
std::int32_t ColorGradingMode(zm::TObjectFilter* a, zm::TObjectFilter* b, bool hasTable);

namespace objects {

class TOruImage : public TOruObject {
public:
  // ---- Overrides of the object base ----------------------------------------------
  void Dispose() override;
  bool IsChanged() override;
  void PrepareDraw(zm::TDeviceDrawer& drawer) override;
  zm::TCustomColorGradeTexture* GetColorGrading() override;
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void SetTime(bool recursive, double t) override;
  void InitState() override;
  zm::TSize GetImageSize() override;
  void PrepareResources(zm::TDeviceDrawer& drawer) override;
  void ReleaseResources(zm::TDeviceDrawer& drawer) override;
  void CommitFrame(bool recursive) override;
  void UpdateContentLayout() override;
  bool GetMainPicture(WideString& fileName, zm::TSize& size) override;

  // ---- Its own ---------------------------------------------------------------------
  virtual zm::TImageDrawParams GetDrawParams(zm::TDeviceDrawer& drawer);
  // Fetches the picture through the host, only while none is held.
  virtual void RequestImage();
  virtual float GetDrawOpacity() { return GetOpacity(); }
  // What text and button objects change.
  virtual TImageKind ImageKind() const { return TImageKind::Image; }
  virtual double ShadowLineHeight() { return 0; }
  virtual bool GetDrawColour(zm::TColor24& colour) {
    (void)colour;
    return false;
  }
  // True when its picture has nothing to show (a text of blanks): neither
  // the picture nor its shadow is readied or drawn.
  virtual bool ShowsNothing() { return false; }

  // Takes Picture (nil: none) as the object's picture: the previous one and
  // the colour table go, the size, the table and the geometry follow.
  void AssignPicture(zm::TImage* picture, bool effectBuffer);
  // Crop, drawn size and own size from the picture and the border record.
  void CalcGeometry();
  // UpdateLayout (not recursive) of the ancestors from the root down, then
  // of the object: the placement and mip level of the current picture.
  void LayOutFromRoot();
  bool Animated() const { return Animation.Enabled != 0; }
  // The strip's grid, held to at least one cell and at most one pixel per
  // cell of the picture.
  std::int32_t StripColumns() const;
  std::int32_t StripRows() const;
  std::int32_t DueFrame() const { return AnimationFrameAt(Animation, localTime_); }
  // Where pixel (0, 0) of a picture whose Source part is drawn (Margin
  // picture pixels of border around it) lies on the slide in depth, and the
  // axes of one picture pixel.
  void PictureAxes(const zm::TFloatRect& source, float margin, zm::TFloatPoint3& origin, zm::TFloatPoint3& axisX,
                   zm::TFloatPoint3& axisY);
  // The part of the screen (whole pixels) its next draw paints over whole
  // with opaque texels, when the drawer can tell; false otherwise.
  bool OpaqueScreenRect(zm::TDeviceDrawer& drawer, zm::TFloatRect& rect);
  // False unless it draws its picture and nothing else: no shadow, border,
  // blur, animation strip or objects of its own.
  bool ScreenPixels(zm::TDeviceDrawer& drawer, zm::TRect& reach, zm::TRect& inner, zm::TRect& cover) override;
  // Brings the shadow up to date; true when there is one to draw.
  bool PrepareShadow();
  // ScreenPixels of the picture as PrepareDraw draws it.
  bool PictureScreenPixels(zm::TDeviceDrawer& drawer, zm::TRect& reach, zm::TRect& inner, zm::TRect& cover);
  // Fills the grading of the current moment into Params.
  void ApplyColorGrading(zm::TDeviceDrawer& drawer, zm::TImageDrawParams& params);
  TColorGradeWrapper* GradeHolder(const void* keyFrame);

  TImageBorder Border;
  TImageBorder LayoutBorder;
  zm::TColor32 BorderColorCorrected = zm::TColor32::FromValue(0xFFFFFFFFu);
  TImageAnimationParams Animation;
  std::uint8_t Antialiased = 1;
  std::uint8_t Filtering = 2;
  std::uint8_t RestoreAlpha = 0;
  std::int32_t ReplaceWithEffectBuffer = 0;
  std::int32_t ImageIndex = kImageIndexNone;
  float MipLodBias = 0;
  std::int32_t MipLevel = 0;
  std::int32_t PreparedLevel = -1;
  WideString ImageName;
  WideString RequestKey;  // what the picture was asked for as
  TRef<zm::TImage> Picture;
  TRef<zm::TImage> PrevPicture;
  std::int32_t PictureWidth = 0, PictureHeight = 0;
  TRef<zm::TSysBitmap> ColorTable;
  zm::TShadowParams ShadowParams;
  TRef<zm::TShadow> Shadow;
  float Margin = 0;  // border width in picture pixels
  std::int32_t LastFrame = 0;
  std::uint8_t NeedsTextures = 0;

private:
  double localTime_ = 0;
  zm::TCustomColorGradeTexture* lastGrade_ = nullptr;  // of the last draw, held by a wrapper
};

}  // namespace objects

// Registers the box and image kinds with the object module (codes 1 to 5).
void InitOruImageKinds();
void FiniOruImageKinds();

}  // namespace oru
