#pragma once
// The clipboard over the platform clipboard: Unicode text and
// device-independent bitmaps. Opening nests: only the outermost open and
// its matching close reach the platform. UI thread only.
#include <cstdint>
#include <span>
#include <string>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/Composite/zmClipbrd.h"
#include "ZmLib/Graphics/zmDibBitmap.h"

namespace zm {

class TClipboard : public TClipbrd {
public:
  // Clears the globals that still name it.
  void Dispose() override;
  bool GetText(WideString& text) override;
  bool SetText(const WideString& text) override;
  bool SetPicture(TBitmap* bitmap, const WideString& name) override;
  bool SetPictureImage(TImage* picture) override;
  TRef<TImage> GetPicture() override;
  bool ContainsText(const WideString& text, bool ignoreCase) override;
  bool Sequence(std::string& sequence) override;
  bool Clear() override;
  void Close() override;
  bool Open() override;

  // Puts the DIB (header, palette or masks, pixels); false when it cannot.
  bool PutDib(TFastDIB* dib);
  // Fills Dib from the clipboard's DIB; false when there is none or it is damaged.
  bool ReadDib(TFastDIB* dib);

  std::int32_t OpenCount() const { return openCount_; }
  plat::HWND Owner() const { return owner_; }
  const WideString& PictureName() const { return pictureName_; }

private:
  std::int32_t openCount_ = 0;
  plat::HWND owner_ = nullptr;
  bool emptied_ = false;
  WideString pictureName_;
};

// The global of this unit (holds a reference).
extern TClipboard* Clipboard;
// Frees a previous clipboard and makes the one both globals hold.
void InitWinClipboard();
void FiniWinClipboard();

// Bytes of a DIB's header with its palette or colour masks.
std::int32_t DibHeaderSize(std::int32_t bitCount, std::uint32_t compression);
// A DIB block (header at its start) as a TFastDIB; palette DIBs become 24-bit.
// False for damaged or truncated data.
bool DibFromBlock(std::span<const std::uint8_t> block, TFastDIB* dib);

}  // namespace zm
