#pragma once
// The clipboard controls copy and paste through: the abstract object and
// the global that holds the one made at start-up. UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Graphics/zmImage.h"

namespace zm {

class TClipbrd : public TRefObject {
public:
  // Each answers false when the clipboard cannot be opened.
  virtual bool GetText(WideString& text) = 0;
  virtual bool SetText(const WideString& text) = 0;
  // The bitmap becomes an image through GetSysBitmapHook and goes to
  // SetPictureImage; false for nil.
  virtual bool SetPicture(TBitmap* bitmap, const WideString& name);
  virtual bool SetPictureImage(TImage* picture) = 0;
  // Nil when there is no picture.
  virtual TRef<TImage> GetPicture() = 0;
  virtual bool ContainsText(const WideString& text, bool ignoreCase) = 0;
  // A text that changes whenever the contents change.
  virtual bool Sequence(std::string& sequence) = 0;
  virtual bool Clear() = 0;
  virtual void Close() = 0;
  virtual bool Open() = 0;
};

// The global clipboard; holds a reference (nil until start-up makes one).
extern TClipbrd* Clipbrd;
// Installs Clipboard (a new reference is taken) and releases the previous one.
void SetClipbrd(TClipbrd* clipboard);

void InitClipbrd();
void FiniClipbrd();

}  // namespace zm
