#pragma once
// The 3D drawer: the one implementation of the abstract drawer. It owns the
// 3D screen and composes every frame from tiled image textures, solid and
// gradient quads and transitions, and runs the passes that need render
// targets (blur, sharpen, masking, frame trail) with the pixel shaders.
//
// Locks: the process-wide drawing lock around every top-level Draw, and the
// drawer lock around Open, Close, PrepareImage, ReleaseImageTextures,
// Dispose and the texture-store look-ups of DrawImage (the loader thread
// prepares textures while the engine draws). The drawer lock is always taken
// after the drawing lock, never before it.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "OruLib2/3DEngine/ScreenLevels.h"
#include "OruLib2/MultiTexture6.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/3DBasics/Dev3DRTPool.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"

namespace zm {
class TBitmapStore;
class TVideoTexture;
}

namespace oru {

class TOruFilter;
class T3DYUV;

// One tiled texture of a picture, by the parameters it was made for.
struct TTextureWrapper {
  std::string Key;
  zm::TRef<zm::TMultiTexture6> Texture;
  bool Opaque = false;  // every texel of alpha 255 (a picture without alpha)
};

// The tiled textures of one picture; kept in the cache list of the picture's
// bitmap store (shared by every image over that store). It holds the store,
// whose bitmaps the textures read.
class TTextureStore2 : public zm::TRefObject {
public:
  explicit TTextureStore2(zm::TBitmapStore* store);
  void Dispose() override;  // frees the textures and leaves the store's cache list
  zm::TBitmapStore* Store() const { return store_.get(); }
  std::vector<TTextureWrapper> Textures;

private:
  zm::TRef<zm::TBitmapStore> store_;
};

// "MultiTexID: <Level>:<Columns>:<Rows>:<Premultiplied>:<Tiled>".
std::string TextureStoreKey(const zm::TImageDrawParams& params);

// Pixel bounds of what a pass drew, left/top inclusive, right/bottom exclusive.
struct TDrawnBounds {
  std::int32_t Left = 2147483647, Top = 2147483647;
  std::int32_t Right = -2147483647 - 1, Bottom = -2147483647 - 1;
  bool Empty() const { return Right <= Left || Bottom <= Top; }
};

// One separable blur pass pair: strength and step in texels.
struct TBlurPass {
  float Strength = 0;
  float Step = 1;
  friend bool operator==(const TBlurPass&, const TBlurPass&) = default;
};
// The plan of the blur of radius R after halving (r): empty when the mix of
// the full and half pictures does it (0.00001 <= r < 1).
std::vector<TBlurPass> PlanBlurPasses(float halfRadius);

class T3DDrawer : public zm::TDeviceDrawer {
public:
  T3DDrawer();
  void Dispose() override;

  void BeginFrame() override;
  bool EndFrame() override;
  bool CanDraw() override;
  bool IsDrawingTransition() override { return InTransition; }
  bool Open(zm::TDrawDevice* device) override;
  void Close() override;
  void PrepareImage(zm::TImage* image, const zm::TImageDrawParams& params) override;
  // Frees the tiled textures of the image's picture (the store in the bitmap
  // store's cache list, and any the image's own list holds), so that the next
  // PrepareImage or DrawImage builds them again.
  void ReleaseImageTextures(zm::TImage* image) override;
  void LetLevelsGo(zm::TImage* image) override;
  void SetFixedFrameSize(const zm::TSize& size) override;
  void RestoreDeviceStates() override;
  void Clear(zm::TColor32 colour, bool clearDepth) override;
  void FillRect(zm::TColor32 colour, const zm::TRect& rect) override;
  bool Draw(zm::TDrawItem* item) override;
  void DrawTransition(zm::TDrawItem* slideA, zm::TDrawItem* slideB, zm::TFilterParams* params) override;
  // Between frames, on the drawing thread: makes the filter of a coming
  // transition (SlideA as DrawTransition will pass it) and the effecter's
  // pictures it will take, so that its first frame costs no more than the
  // others. Nothing happens before the first frame or for other parameters.
  void PrepareTransition(zm::TDrawItem* slideA, zm::TFilterParams* params);
  // The transition of Params, as made, draws the outgoing slide moved by
  // fractions of a pixel (false while no filter is made).
  static bool MovesOutgoingSlide(zm::TFilterParams* params);
  // While one lives, PrepareImage on its thread readies pictures as a moved
  // slide draws them, from their level's own textures, rather than at the
  // screen size they are drawn at while they hold still.
  class TMovedPreparation {
  public:
    TMovedPreparation();
    ~TMovedPreparation();
    TMovedPreparation(const TMovedPreparation&) = delete;
    TMovedPreparation& operator=(const TMovedPreparation&) = delete;

  private:
    bool was_;
  };
  // Picture point (x, y) lands at Origin + x * AxisX + y * AxisY (plus the
  // draw offset); a source rectangle only clips the picture.
  void DrawImage(zm::TImage* image, const zm::TFloatPoint& origin, const zm::TImageDrawParams& params,
                 const zm::TFloatPoint& axisX, const zm::TFloatPoint& axisY) override;
  void FillGradientQuad(const zm::TFloatPoint& origin, const zm::TFloatPoint& offset, const zm::TGradientFill& fill,
                        const zm::TFloatPoint& axisX, const zm::TFloatPoint& axisY) override;
  // The pixels a still picture drawn from its screen-sized texture covers
  // (not its smoothed edges), when the texture is opaque and drawn so.
  bool OpaqueImageRect(zm::TImage* image, const zm::TFloatPoint& origin, const zm::TImageDrawParams& params,
                       const zm::TFloatPoint& axisX, const zm::TFloatPoint& axisY, zm::TFloatRect& rect) override;
  // Straight onto the frame or a transition's target: no probe, blur,
  // sharpen, trail, mask, redirection or shader pushed.
  bool CanLeaveOutHidden() override;
  // From the picture's placement on the surface (as a still picture's
  // texture is placed): Inner and Cover the pixels it covers (but a row or
  // column its edge passes within 2/256 of a pixel centre), Reach one pixel
  // past those of its smoothed edges.
  bool ImagePixels(zm::TImage* image, const zm::TFloatPoint3& origin, const zm::TImageDrawParams& params,
                   const zm::TFloatPoint3& axisX, const zm::TFloatPoint3& axisY, zm::TRect& reach, zm::TRect& inner,
                   zm::TRect& cover) override;
  bool LeaveOut(const zm::TRect* rect) override;
  void DrawGradientFrame(bool quad, const zm::TFloatPoint& origin, bool flag, float opacity, zm::TColor32 colour,
                         const zm::TFloatPoint& size, const zm::TFloatPoint& border) override;
  // Through the device's projection from the camera: in perspective.
  void DrawImage3D(zm::TImage* image, const zm::TFloatPoint3& origin, const zm::TImageDrawParams& params,
                   const zm::TFloatPoint3& axisX, const zm::TFloatPoint3& axisY) override;
  void FillGradientQuad3D(const zm::TFloatPoint3& origin, const zm::TGradientFill& fill,
                          const zm::TFloatPoint3& axisX, const zm::TFloatPoint3& axisY) override;
  // Three planes with pixel shaders and the luminance format (unless Rgba),
  // else one RGBA texture (Rgba) or one grey texture.
  zm::TRef<zm::TYUVImage> CreateVideoImage(std::int32_t width, std::int32_t height, bool rgba) override;
  // Picture point (x, y) of the source rectangle lands at Origin + x * AxisX
  // + y * AxisY, as in DrawImage.
  void DrawVideoImage(const zm::TVideoDrawParams& params, const zm::TFloatPoint& origin, const zm::TFloatPoint& axisX,
                      const zm::TFloatPoint& axisY) override;
  // A video picture that goes leaves its drawer's VideoImages (under the
  // drawer lock, so that a drawer going at the same time is never reached).
  static void RemoveVideoImage(T3DYUV* image);
  // Lets a video picture's textures go under the drawer lock: a picture may
  // go on its clip's extractor thread, and a frame walks the screen's
  // resources under that lock.
  static void DropVideoTextures(std::span<zm::TRef<zm::TVideoTexture>> textures);
  void FillRectF(const zm::TFloatPoint& topLeft, const zm::TFloatPoint& bottomRight, zm::TColor32 colour) override;
  bool DrawMasked(zm::TDrawItem* mask, zm::TDrawItem* content) override;
  // Opacity in percent; the pattern, when given, is tiled under the content.
  bool DrawMasked(zm::TDrawItem* mask, zm::TDrawItem* content, float opacity, zm::TImage* pattern) override;
  void BeginSharpen() override;
  void EndSharpen(float amount) override;
  void BeginTrail(float decay) override;
  void EndTrail() override;
  bool ReadFrame(zm::TBitmap* bitmap) override;
  void SetView(const zm::TFloatRect& viewRect, const zm::TFloatPoint& virtualSize, bool resetViewport,
               const zm::TFloatPoint3& camera) override;

  void PushShader(zm::TShader* shader);
  void PopShader();
  // An off-screen layer: everything drawn between Begin and End goes into a
  // target of the pool, which DrawRenderTarget then puts over the surface
  // and gives back.
  zm::TRef<zm::TRenderTargetTexture> BeginRenderTarget();
  void EndRenderTarget();
  void DrawRenderTarget(zm::TRef<zm::TRenderTargetTexture> target, std::uint8_t alpha);

  // The pixel scale of blur radii: virtual width / frame width, else 1.
  float PixelScale() const;
  // 0, 1 or 2; 0 without an engine or a renderer.
  std::int32_t ShaderLevel() const;

  zm::T3DScreen* Screen() const { return Screen_.get(); }
  zm::TShader* ShaderAt(std::int32_t index) const;

  // Fields, as the passes and the tests see them.
  zm::TRef<zm::T3DScreen> Screen_;
  zm::TRef<zm::TRenderTargetManager> TargetPool;
  zm::TRef<zm::TRenderTargetManager> HalfTargetPool;
  zm::TRef<zm::TTextureManager6> TextureManager;
  zm::TRef<zm::TBoxAntialiaser> BoxAntialiaser;
  zm::TSize FixedFrameSize;
  zm::TRef<TCustomD3DEffecter> Effecter;
  zm::TRef<zm::TRenderTargetTexture> SharpenTarget;
  zm::TDrawItem* FilterSlide = nullptr;
  bool Blurring = false;
  std::int32_t MaskDepth = 0;
  std::int32_t ContentDepth = 0;
  bool InTransition = false;
  bool Redirected = false;
  std::array<zm::TRef<zm::TShader>, kShaderCount> Shaders;
  TDrawnBounds DrawnBounds;
  zm::T3DViewState SavedView;
  std::vector<zm::TShader*> ShaderStack;
  zm::TRef<zm::TRenderTargetTexture> TrailTarget;
  zm::TRef<zm::TRenderTargetTexture> TrailAccumulator;
  float TrailDecay = 0;
  // The video pictures of CreateVideoImage that still exist; not owned,
  // under the drawer lock.
  std::vector<T3DYUV*> VideoImages;

  // Still pictures readied at the size they are drawn at (tests compare
  // with the filtered levels by turning it off).
  bool ScreenSizedPictures = true;
  // Bounds of the last frame begun (under the drawer lock).
  zm::TRect FramedBounds;
  // A transition's incoming picture rendered only where its filter reads it
  // (tests compare with the whole picture by turning it off).
  bool LimitFilterReads = true;
  // Where a transition's filter shows the incoming slide whole, the slide
  // is drawn there straight, and the outgoing one and the picture only
  // elsewhere (tests compare with the general path by turning it off).
  bool DirectFilterDraws = true;
  // A cross-fade of two slides that are each one opaque picture read 1:1 is
  // drawn in one pass from the two pictures where both are whole (tests
  // compare with the general path by turning it off).
  bool OnePassFades = true;
  // Objects that the opaque pictures above them paint over are left out, in
  // whole or but for their edges (tests compare with drawing them all by
  // turning it off).
  bool LeaveOutHiddenObjects = true;

  // Test and diagnostics: called with the plan of each blur that runs
  // separable passes.
  std::function<void(const std::vector<TBlurPass>&)> OnBlurPlan;

private:
  void MakeTransitionFilter(TOruFilter& p, zm::TDrawItem* slideA, const zm::TRect& visible);
  void Layout();
  void SetFrameProjection();
  // Pixel projection over the current target (the effecter and the passes
  // draw in target pixels).
  void SetPixelProjection();
  void WidenDrawnBounds(const zm::TPoint3F* corners, int count);
  zm::TPoint3F Place(const zm::TFloatPoint& p) const;
  zm::TPoint3F Place3(const zm::TFloatPoint3& p) const;
  // Origins already placed (draw offset added), axes in 3D.
  void DrawImageAt(zm::TImage* image, const zm::TPoint3F& origin, const zm::TImageDrawParams& params,
                   const zm::TPoint3F& axisX, const zm::TPoint3F& axisY);
  void FillQuadAt(const zm::TPoint3F& origin, const zm::TGradientFill& fill, const zm::TPoint3F& axisX,
                  const zm::TPoint3F& axisY);
  TTextureStore2* FindTextureStore(zm::TImage* image, bool create);
  zm::TMultiTexture6* GetTiledTexture(zm::TImage* image, const zm::TImageDrawParams& params);
  // A still picture's texture at the size it is drawn at (ScreenLevels.h),
  // made on the calling (loader) thread; false when the level is to be
  // readied (as well).
  bool PrepareScreenLevel(zm::TImage* image, const zm::TImageDrawParams& params);
  // That texture when the picture lands on its quad now, with the origin,
  // axes and source rectangle that draw it 1:1; else nil.
  // Found, when given, learns where the picture lies and whether the
  // texture is opaque.
  struct TScreenLevelFound {
    TScreenPlacement Place;
    zm::TPoint2F TopLeft, TopRight, BottomLeft;  // the source's corners, surface pixels
    bool Opaque = false;
  };
  zm::TMultiTexture6* FindScreenLevel(zm::TImage* image, const zm::TImageDrawParams& params, zm::TPoint3F& origin,
                                      zm::TPoint3F& axisX, zm::TPoint3F& axisY, zm::TRectF& source,
                                      TScreenLevelFound* found = nullptr);
  // A picture drawn from its level's tiles: where it lies on the surface and
  // whether the level is opaque; false when it has no such tiles or does not
  // lie flat and axis-aligned.
  bool FindLevelPlacement(zm::TImage* image, const zm::TImageDrawParams& params, const zm::TPoint3F& origin,
                          const zm::TPoint3F& axisX, const zm::TPoint3F& axisY, TScreenLevelFound& found);
  // Where a flat picture's level source lands on the surface: its corners
  // and placement (Opaque untouched); false when it is not axis-aligned.
  bool PlaceLevelSource(const zm::TImageDrawParams& params, const zm::TPoint3F& origin, const zm::TPoint3F& axisX,
                        const zm::TPoint3F& axisY, TScreenLevelFound& found);
  void PrepareTiles(zm::TMultiTexture6* texture);
  void DrawCustomTexture(zm::TCustomTexture* texture, zm::TImage* image, const zm::TPoint3F& origin,
                         const zm::TImageDrawParams& params, const zm::TPoint3F& axisX, const zm::TPoint3F& axisY);
  // The rectangles (target pixels) of a frame drawn the direct way.
  struct TDirectPlan {
    std::vector<zm::TRect> Whole;  // the filter's slide straight
    std::vector<zm::TRect> Rest;   // the filter's draw
    std::vector<zm::TRect> Parts;  // where the filter's picture is rendered
    std::vector<zm::TRect> Under;  // the other slide: Rest but where the draw is opaque
  };
  // Whether the filter's slide may be drawn straight where the filter shows
  // it whole, and where.
  bool PlanDirect(TDrawFilter* filter, zm::TDrawItem* slide, TDirectPlan& plan);
  // Whether the slide paints the effecter's area (and its replication
  // margin) opaque.
  bool SlideCoversArea(zm::TDrawItem* slide);
  // Draws Slide once inside each rectangle.
  void DrawClipped(zm::TDrawItem* slide, const std::vector<zm::TRect>& rects);
  void DrawFilterSlide(zm::TDrawItem* slide, TDrawFilter* filter, const TDirectPlan* plan = nullptr);
  // What a slide leaves on the frame, found by running its draw with nothing
  // drawn: the last draw one opaque picture read 1:1 from its texture.
  struct TSolePicture {
    bool Failed = false;  // a pass, a shader, a blur: more than pictures and fills
    bool Found = false;   // the last draw so far was such a picture
    zm::TMultiTexture6* Texture = nullptr;
    zm::TPoint Shift;  // device pixel (x, y) shows picture texel (x - Shift.X, y - Shift.Y)
    zm::TRect Inside;  // the pixels it paints with its texels alone
  };
  // While a slide is looked at, notes a draw (Plain: one that only paints
  // over what the last picture shows; else one the look cannot follow) and
  // answers true: the caller draws nothing.
  bool ProbeStops(bool plain);
  void ProbePicture(zm::TImage* image, const zm::TPoint3F& origin, const zm::TImageDrawParams& params,
                    const zm::TPoint3F& axisX, const zm::TPoint3F& axisY);
  bool ProbeSlide(zm::TDrawItem* slide, TSolePicture& found);
  // A fade drawn in one pass where both slides show their picture whole;
  // the rest of the frame the general way.
  struct TFadePlan {
    TDirectPlan Rest;
    std::vector<zm::T3DRenderer::TOverPiece> Pieces;
    std::uint32_t Factor = 0;
  };
  bool PlanFade(TDrawFilter* filter, zm::TDrawItem* back, zm::TDrawItem* front, TFadePlan& plan);
  void DrawTargetOverSurface(zm::TRenderTargetTexture* target, std::uint8_t alpha);
  void GaussianBlur(zm::TDrawItem* item, float radius);
  void AccumulateTrail();
  void FreeTextureStores();
  // Frees the stores whose picture no image holds any more (the store's
  // reference is the last one): nothing can reach them again. From this
  // many stores on, looked for once they have doubled since the last look
  // as stores are made; Always: now (each frame).
  void FreeUnusedTextureStores(bool always = false);
  static constexpr std::size_t kStoresBeforeSweep = 64;

  bool PushTarget(zm::TRenderTargetTexture* target);
  void DrawTargetQuad(std::span<zm::TRenderTargetTexture* const> textures, std::span<const zm::TRectF> rects,
                      const zm::TRectF& dest, std::uint32_t colour, bool pointSampled);

  TSolePicture* fadeProbe_ = nullptr;    // set while a slide is looked at
  std::unordered_set<TTextureStore2*> stores_;  // every store made and still used, owned
  std::size_t sweptAt_ = 0;                     // stores left by the last look for unused ones
  std::int32_t trailDepth_ = 0;          // the draw depth BeginTrail ran at
  zm::TSize layoutSize_;                 // the surface size of the last layout
};

}  // namespace oru
