#pragma once
// TNavBar: the skinned navigation bar. Its whole look comes from a skin, an
// ini document whose texture files lie in one folder: a grid of background
// cells, one of which holds the row of command buttons. The bar tracks hover
// and press states from the mouse events it is given, redraws what changed
// into its picture and reports a click with the index of the button.
//
// Grid columns and rows are 1-based; button indexes 0-based. Rectangles have
// exclusive right and bottom edges.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "OruLib2/NavPanel/CustomNavBar.h"

namespace oru {

// Button states.
constexpr std::int32_t nsNormal = 0;
constexpr std::int32_t nsHover = 1;
constexpr std::int32_t nsPressed = 2;
constexpr std::int32_t nsDisabled = 3;

// Action codes of ActionType.
constexpr std::int32_t naNone = 0;
constexpr std::int32_t naHome = 1;
constexpr std::int32_t naBackward = 2;
constexpr std::int32_t naForward = 3;
constexpr std::int32_t naPause = 4;
constexpr std::int32_t naPrint = 5;
constexpr std::int32_t naHelp = 6;
constexpr std::int32_t naExit = 7;

// A rectangle of a (shared) texture bitmap.
struct TNavTexture {
  zm::TRef<zm::TSysBitmap> Bitmap;  // nil when the file could not be loaded
  zm::TRect Rect;
};

class TNavCell : public zm::TRefObject {
public:
  TNavTexture Texture;
  bool Repeat = false;
  std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
};

// The cell grid; cells are made on first access.
class TNavCells : public zm::TRefObject {
public:
  void SetSize(std::int32_t cols, std::int32_t rows);
  // Nil outside 1..ColsCount, 1..RowsCount.
  TNavCell* Cell(std::int32_t col, std::int32_t row);
  void Dispose() override;

private:
  std::int32_t cols_ = 0, rows_ = 0;
  std::vector<zm::TRef<TNavCell>> items_;
};

class TNavObject : public zm::TRefObject {
public:
  std::int32_t Action = naNone;
  zm::WideString ActionText;
  TNavTexture Textures[4];      // by state
  TNavTexture PlayTextures[4];  // by state, when HasPlay
  bool HasPlay = false;
  TNavTexture Backgrounds[4];   // by state
  std::int32_t State = nsNormal;
  std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
  std::int32_t Space = 0;
  std::int32_t ShiftPressed = 0;
  bool GrayNormal = false;
  bool GrayDisabled = false;
  // The size of the normal button bounds: the drawn size of every state.
  std::int32_t FaceWidth = 0, FaceHeight = 0;

  zm::TRect BoundsRect() const;
};

// Buttons by index; made on first access.
class TNavObjects : public zm::TRefObject {
public:
  TNavObject* Get(std::int32_t index);  // nil for a negative index
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  void Clear() { items_.clear(); }
  void Dispose() override;

private:
  std::vector<zm::TRef<TNavObject>> items_;
};

class TBmpCacheItem : public zm::TRefObject {
public:
  zm::TRef<zm::TSysBitmap> Bitmap;  // "A8R8G8B8"; nil when not loaded
  std::map<std::string, zm::TRef<zm::TSysBitmap>> Variants;
};

// Texture variants.
constexpr std::int32_t nvPlain = 0;
constexpr std::int32_t nvGray = 1;     // colour bytes averaged
constexpr std::int32_t nvDimmed = 2;   // averaged, alpha divided by 4

// Texture files by lower-case name, loaded through the bar's bitmap loader.
class TBmpCache : public zm::TRefObject {
public:
  void Dispose() override;
  void Clear() { items_.clear(); }
  // The item of a file (loaded on first use: Folder + Name); an assertion
  // when Bar has no bitmap loader.
  TBmpCacheItem* Item(TCustomNavBar* bar, const zm::WideString& folder, const zm::WideString& name);
  // The file's bitmap cut to Bounds, plain or as a variant (a bitmap of its
  // own, made once per bounds and variant).
  TNavTexture Texture(TCustomNavBar* bar, const zm::WideString& folder, const zm::WideString& name,
                      const zm::TRect& bounds, std::int32_t variant);

private:
  std::map<zm::WideString, zm::TRef<TBmpCacheItem>> items_;
};

class TNavBar : public TCustomNavBar {
public:
  TNavBar();
  void Dispose() override;

  // Keeps the document (taking a reference) and the folder, put in front of
  // every texture name. Malformed lists raise assertions and leave
  // the bar unloaded.
  void Load(zm::TIniFile* skin, const zm::WideString& folder) override;
  // Codes index AvailableActions(); only once loaded are the buttons built,
  // laid out and drawn.
  void SetButtons(std::span<const std::int32_t> codes) override;
  using TCustomNavBar::SetButtons;
  void MouseEvent(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                  std::int32_t kind) override;
  // Refreshes the play/pause look when the playing state changed.
  void UpdatePlayState(double time) override;
  void SetVolume(double) override {}
  void SetContainerWidth(std::int32_t) override {}
  void SetHeight(std::int32_t) override {}
  void SetScale(double) override {}

  // Sets a button's state (e.g. to nsDisabled) and redraws; nothing for an
  // index out of range or a state outside 0..3.
  void SetButtonState(std::int32_t index, std::int32_t state);

  bool Loaded() const { return loaded_; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t ColsCount() const { return cols_; }
  std::int32_t RowsCount() const { return rows_; }
  std::int32_t ButtonCount() const { return objects_->Count(); }
  TNavObject* Button(std::int32_t index) const;  // nil out of range
  TNavCell* Cell(std::int32_t col, std::int32_t row) const { return cells_->Cell(col, row); }
  std::int32_t PressedIndex() const { return pressedIndex_; }
  const std::vector<zm::WideString>& AvailableActions() const override { return available_; }
  // The action names a skin section "Action-<name>" may give.
  const std::vector<zm::WideString>& ActionNames() const { return actions_; }

private:
  void ReadSkin();
  void BuildButtons();
  void Layout();
  void Redraw();
  void AddDirty(const zm::TRect& r);
  void ChangeState(TNavObject* b, std::int32_t state);
  bool InsideBar(std::int32_t x, std::int32_t y) const;
  void HandleMove(std::uint8_t shift, std::int32_t x, std::int32_t y);
  void SetAllNormal();
  TNavTexture Texture(const zm::WideString& file, const zm::TRect& bounds, std::int32_t variant);

  zm::TRef<zm::TIniFile> skin_;  // one reference held
  zm::WideString folder_;
  std::int32_t width_ = 0, height_ = 0;
  std::int32_t cols_ = 0, rows_ = 0;
  zm::TRef<TNavCells> cells_;
  zm::TRef<TNavObjects> objects_;
  std::int32_t leftOffset_ = 0, topOffset_ = 0, rightOffset_ = 0, bottomOffset_ = 0;
  std::int32_t cellCol_ = 1, cellRow_ = 1;
  zm::TRef<TBmpCache> cache_;
  zm::TRect dirty_;
  bool lastPlaying_ = true;
  bool forcePlayState_ = true;
  bool pressed_ = false;
  std::int32_t pressedIndex_ = -1;
  bool hover_ = false;
  bool loaded_ = false;
  std::vector<zm::WideString> actions_;    // the names, in code order
  std::vector<zm::WideString> available_;  // the skin's actions, in section order
};

// Module start and end: the default bar factory in CreateNavBarHook.
void InitNavBar();
void FiniNavBar();

}  // namespace oru
