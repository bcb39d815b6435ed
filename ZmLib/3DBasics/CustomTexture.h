#pragma once
// Textures that the 3D application layer makes on a 3D screen. A custom
// texture keeps the wanted size and kind and makes the device texture only
// when it is first needed and the screen can draw: level 0 comes from the
// descendant's FillLevel, every further mip level by halving the one above.
// When the device goes, the device texture is let go; the next use makes it
// again with the same content.
//
// A render target that cannot be made because video memory is short frees
// managed textures of the screen, the upper half of them first, then the
// quarter below, and so on, retrying after each step.
#include <cstdint>
#include <mutex>

#include "ZmLib/3DBasics/Dev3DApp2.h"

namespace zm {

class TSysBitmap;

class TCustomTexture : public TScreenTexture {
public:
  // Asserts a screen ("<class> - Screen not Assigned"). Nothing is made on
  // the device here.
  TCustomTexture(T3DScreen* screen, const TSize& size, std::uint8_t kind,
                 const char* className = "TCustomTexture");

  // Release, then leave the screen's resources.
  void Dispose() override;
  // The device texture, made when missing: nil when the screen cannot draw,
  // the extent is empty or the renderer makes none. Never raises.
  T3DTexture* Realize() override;
  // A different size lets the device texture go and computes the extent.
  virtual void SetSize(const TSize& size);
  // Writes the level-0 pixels into the locked level (of Extent's size).
  virtual void FillLevel(TSysBitmap* data) = 0;
  // Fills every level of the device texture: level 0 by FillLevel, each
  // further level from the one above (2 x 2 averages when it is exactly
  // twice the size, else a bilinear resize). Mip levels must be 32-bit
  // (assertion); every locked level is unlocked.
  virtual void Upload();
  // Frees the device texture and the extra object.
  virtual void Release();
  // Realize, then has the device load the texture ahead of its first draw.
  virtual void Prepare();

  void ReleaseDeviceObjects() override { Release(); }

  T3DTexture* DeviceTexture() const;
  std::uint8_t Kind() const { return kind_; }
  void SetKind(std::uint8_t kind);
  TRefObject* Extra() const { return extra_.get(); }
  // A second device object that goes with the texture.
  void SetExtra(TRef<TRefObject> extra);
  TSize Size() const { return size_; }
  // Each side max(32, the next power of two not below the size), or the
  // size itself for an exact texture; 0 for a side below 1, which makes no
  // texture.
  TSize Extent() const { return extent_; }
  // An exact texture is as large as its size, not rounded up: a small
  // picture's tile then takes the memory of what it holds.
  void SetExactExtent(bool on);
  bool ExactExtent() const { return exact_; }
  bool Mipmapped() const { return mipmapped_; }
  bool MipmappedChanged() const { return mipmappedChanged_; }
  // A change lets the device texture go: the chain is part of what is made.
  void SetMipmapped(bool on);
  // Passed on to the device texture at once and whenever it is made.
  void SetPremultiplied(bool on);

private:
  TRef<T3DTexture> deviceTexture_;  // set and taken under deviceLock_
  std::uint8_t kind_;
  TRef<TRefObject> extra_;  // as deviceTexture_
  // A leaf: a device that goes has its textures let go on the thread that
  // found it, while their owners may release them on their own.
  mutable std::mutex deviceLock_;
  TLostLink lostLink_;
  TSize size_;
  TSize extent_;
  bool mipmapped_ = false;
  bool mipmappedChanged_ = false;
  bool exact_ = false;
};

// The lighter base of the colour-grade look-up textures: the screen and one
// device object, dropped when the device goes or the texture is disposed.
class TCustomColoringTexture : public TScreenResource {
public:
  explicit TCustomColoringTexture(T3DScreen* screen, const char* className = "TCustomColoringTexture");
  void Dispose() override;
  void ReleaseDeviceObjects() override;

  TBaseTexture* DeviceObject() const { return object_.get(); }
  // Takes the object and lets it go when its device goes.
  void SetDeviceObject(TRef<TBaseTexture> object);

private:
  TRef<TBaseTexture> object_;
  TLostLink lostLink_;
};

}  // namespace zm
