#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/User/PlatClipboard.h"
#include "ZmLib/Composite/winClipboard.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"

using namespace zm;

namespace {

struct Clip : ::testing::Test {
  TRef<TClipboard> clip = MakeRef<TClipboard>();
  Clip() { plat::ResetClipboard(); }
  ~Clip() override { plat::ResetClipboard(); }

  // Puts a raw block in Format (the clipboard opened and closed around it).
  static void PutRaw(plat::UINT format, const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(plat::OpenClipboard(nullptr));
    plat::HGLOBAL h = plat::GlobalAlloc(plat::GMEM_MOVEABLE, bytes.size());
    std::memcpy(plat::GlobalLock(h), bytes.data(), bytes.size());
    plat::GlobalUnlock(h);
    plat::EmptyClipboard();
    plat::SetClipboardData(format, h);
    plat::CloseClipboard();
  }
  static bool OpenableFromAnotherThread() {
    bool ok = false;
    std::thread t([&] {
      ok = plat::OpenClipboard(nullptr) != 0;
      if (ok) plat::CloseClipboard();
    });
    t.join();
    return ok;
  }
  static std::vector<std::uint8_t> DibBlock(std::int32_t w, std::int32_t h, std::int32_t bits,
                                            std::uint32_t compression, std::uint32_t sizeImage,
                                            std::size_t headerAndPalette, const std::vector<std::uint8_t>& tail) {
    std::vector<std::uint8_t> b(headerAndPalette, 0);
    plat::BITMAPINFOHEADER hd{};
    hd.biSize = 40;
    hd.biWidth = w;
    hd.biHeight = h;
    hd.biPlanes = 1;
    hd.biBitCount = plat::WORD(bits);
    hd.biCompression = compression;
    hd.biSizeImage = sizeImage;
    std::memcpy(b.data(), &hd, std::min(sizeof hd, b.size()));
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  }
  static std::uint32_t PixelOf(TImage* image, int x, int y) {
    auto argb = ArgbBitmap(image->GetBitmap());
    return ArgbPixel(argb.get(), x, y) & 0xFFFFFF;
  }
};

TEST_F(Clip, TextRoundTripsAndMatches) {
  WideString t = u"x";
  EXPECT_TRUE(clip->GetText(t));  // no text: empty, still a success
  EXPECT_TRUE(t.empty());
  EXPECT_FALSE(clip->ContainsText(u"", false));

  std::string s1, s2;
  clip->Sequence(s1);
  ASSERT_TRUE(clip->SetText(u"Straße Öl"));
  clip->Sequence(s2);
  EXPECT_NE(s1, s2);
  EXPECT_TRUE(clip->GetText(t));
  EXPECT_EQ(t, u"Straße Öl");
  EXPECT_TRUE(clip->ContainsText(u"", false));
  EXPECT_TRUE(clip->ContainsText(u"Stra", false));
  EXPECT_FALSE(clip->ContainsText(u"stra", false));
  EXPECT_TRUE(clip->ContainsText(u"sTRA", true));
  // Longer than the clipboard text: the shorter part is compared and differs in length.
  EXPECT_FALSE(clip->ContainsText(u"Straße Öl und mehr", true));
  EXPECT_EQ(clip->OpenCount(), 0);

  // Empty text is still text; a text block without its zero ends at its size.
  ASSERT_TRUE(clip->SetText(u""));
  EXPECT_TRUE(clip->ContainsText(u"", true));
  PutRaw(plat::CF_UNICODETEXT, {'a', 0, 'b', 0});
  EXPECT_TRUE(clip->GetText(t));
  EXPECT_EQ(t, u"ab");
  PutRaw(plat::CF_UNICODETEXT, {'a', 0, 0, 0, 'b', 0, 'c'});
  EXPECT_TRUE(clip->GetText(t));
  EXPECT_EQ(t, u"a");
}

TEST_F(Clip, OpenNestsAndAnotherHolderRefusesEverything) {
  ASSERT_TRUE(clip->Open());
  ASSERT_TRUE(clip->Open());
  EXPECT_EQ(clip->OpenCount(), 2);
  EXPECT_FALSE(OpenableFromAnotherThread());
  clip->Close();
  EXPECT_FALSE(OpenableFromAnotherThread());  // only the outermost close lets go
  clip->Close();
  EXPECT_TRUE(OpenableFromAnotherThread());
  clip->Close();  // unbalanced: nothing
  EXPECT_EQ(clip->OpenCount(), 0);

  ASSERT_TRUE(clip->SetText(u"kept"));
  plat::SetClipboardHeldElsewhere(true);
  WideString t = u"old";
  EXPECT_FALSE(clip->GetText(t));
  EXPECT_TRUE(t.empty());
  EXPECT_FALSE(clip->SetText(u"new"));
  EXPECT_FALSE(clip->ContainsText(u"", false));
  EXPECT_FALSE(clip->Clear());
  EXPECT_EQ(clip->GetPicture(), nullptr);
  EXPECT_FALSE(clip->PutDib(NewDibBitmap(2, 2, 24)->Dib()));
  EXPECT_EQ(clip->OpenCount(), 0);
  EXPECT_EQ(clip->Owner(), nullptr);
  plat::SetClipboardHeldElsewhere(false);
  EXPECT_TRUE(clip->GetText(t));
  EXPECT_EQ(t, u"kept");

  // A thread holding it open keeps this one out until it closes.
  std::atomic<int> stage{0};
  std::thread holder([&] {
    plat::OpenClipboard(nullptr);
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    plat::CloseClipboard();
    stage = 3;
  });
  while (stage != 1) std::this_thread::yield();
  EXPECT_FALSE(clip->SetText(u"blocked"));
  stage = 2;
  holder.join();
  EXPECT_TRUE(clip->SetText(u"free"));
}

TEST_F(Clip, DibWritesEmptyOnceAndTextReplacesEverything) {
  auto a = NewDibBitmap(2, 2, 24), b = NewDibBitmap(3, 1, 32);
  ASSERT_TRUE(clip->SetText(u"before"));
  ASSERT_TRUE(clip->Open());
  ASSERT_TRUE(clip->PutDib(a->Dib()));
  EXPECT_FALSE(plat::IsClipboardFormatAvailable(plat::CF_UNICODETEXT));
  // Something else added meanwhile survives the second DIB write.
  plat::HGLOBAL h = plat::GlobalAlloc(plat::GMEM_MOVEABLE, 2);
  plat::SetClipboardData(plat::CF_TEXT, h);
  ASSERT_TRUE(clip->PutDib(b->Dib()));
  EXPECT_TRUE(plat::IsClipboardFormatAvailable(plat::CF_TEXT));
  clip->Close();
  TFastDIB got;
  ASSERT_TRUE(clip->ReadDib(&got));
  EXPECT_EQ(got.Width(), 3);
  ASSERT_TRUE(clip->SetText(u"after"));
  EXPECT_FALSE(plat::IsClipboardFormatAvailable(plat::CF_DIB));
  EXPECT_FALSE(plat::IsClipboardFormatAvailable(plat::CF_TEXT));
}

TEST_F(Clip, PicturesRoundTrip) {
  auto bmp = NewDibBitmap(3, 2, 24);
  TFastDIB* d = bmp->Dib();
  for (int row = 0; row < 2; ++row)
    for (int x = 0; x < 3; ++x) d->Pixels24(row)[x] = {std::uint8_t(10 * x), std::uint8_t(row), 200};
  ASSERT_TRUE(clip->SetPicture(bmp.get(), u"shot"));
  EXPECT_EQ(clip->PictureName(), u"shot");
  TRef<TImage> img = clip->GetPicture();
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(img->GetBitmap()->Width(), 3);
  ASSERT_EQ(img->GetBitmap()->Height(), 2);
  // Rows are compared in memory order: the DIB is bottom-up both times.
  const std::uint32_t want = (200u << 16) | (1u << 8) | 20u;
  const std::uint32_t got = PixelOf(img.get(), 2, 0), got2 = PixelOf(img.get(), 2, 1);
  EXPECT_TRUE(got == want || got2 == want) << std::hex << got << " " << got2;

  // A bitmap of another class goes through an image first; an image round-trips too.
  ASSERT_TRUE(clip->SetPictureImage(img.get()));
  ASSERT_NE(clip->GetPicture(), nullptr);
  EXPECT_FALSE(clip->SetPicture(nullptr, u"none"));
  // An empty picture is not put, but its name is kept.
  auto empty = MakeRef<TFastDIB>();
  empty->SetSize(0, 0, 24);
  std::string before, after;
  clip->Sequence(before);
  EXPECT_TRUE(clip->SetPicture(WrapDibBitmap(empty.get(), false).get(), u"empty"));
  clip->Sequence(after);
  EXPECT_EQ(before, after);
  EXPECT_EQ(clip->PictureName(), u"empty");
  EXPECT_FALSE(clip->SetPictureImage(nullptr));

  // A palette picture comes back in its colours.
  std::vector<std::uint8_t> pal(4 * 256, 0);
  pal[4 * 1 + 2] = 0xAB;  // entry 1: red AB
  auto block = DibBlock(2, 1, 8, plat::BI_RGB, 0, 40, pal);
  block.insert(block.end(), {1, 0, 0, 0});
  PutRaw(plat::CF_DIB, block);
  img = clip->GetPicture();
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(PixelOf(img.get(), 0, 0), 0xAB0000u);
  EXPECT_EQ(PixelOf(img.get(), 1, 0), 0u);
}

TEST_F(Clip, DamagedDibsAreRefused) {
  EXPECT_EQ(DibHeaderSize(1, 0), 48);
  EXPECT_EQ(DibHeaderSize(8, 0), 1064);
  EXPECT_EQ(DibHeaderSize(16, plat::BI_BITFIELDS), 52);
  EXPECT_EQ(DibHeaderSize(16, 0), 40);
  EXPECT_EQ(DibHeaderSize(32, plat::BI_BITFIELDS), 52);
  EXPECT_EQ(DibHeaderSize(24, plat::BI_BITFIELDS), 40);

  // biSizeImage 0: the rows are measured (2 x 24 bits = 6, padded to 8).
  std::vector<std::uint8_t> px = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  PutRaw(plat::CF_DIB, DibBlock(2, 2, 24, plat::BI_RGB, 0, 40, px));
  TFastDIB dib;
  dib.UseDibSection = false;
  ASSERT_TRUE(clip->ReadDib(&dib));
  EXPECT_EQ(dib.Pixels8(1)[0], 7);
  EXPECT_EQ(dib.Pixels8(1)[5], 12);
  // Short pixel data is read as far as it goes.
  PutRaw(plat::CF_DIB, DibBlock(2, 2, 24, plat::BI_RGB, 1000, 40, {1, 2, 3}));
  EXPECT_TRUE(clip->ReadDib(&dib));

  const std::vector<std::vector<std::uint8_t>> bad = {
      {1, 2, 3},                                                     // shorter than a header
      DibBlock(2, 2, 7, plat::BI_RGB, 0, 40, px),                    // no such bit count
      DibBlock(0, 2, 24, plat::BI_RGB, 0, 40, px),                   // no width
      DibBlock(2, 0, 24, plat::BI_RGB, 0, 40, px),                   // no height
      DibBlock(1 << 30, 1 << 30, 32, plat::BI_RGB, 0, 40, px),       // absurd size
      DibBlock(2, 2, 8, plat::BI_RGB, 0, 40, px),                    // palette cut short
      DibBlock(2, 2, 24, plat::BI_RLE8, 0, 40, px),                  // RLE of the wrong depth
      DibBlock(2, -2, 8, plat::BI_RLE8, 0, 1064, px),                // top-down RLE
      DibBlock(2, 2, 24, 4, 0, 40, px),                              // an embedded JPEG
  };
  for (const auto& b : bad) {
    PutRaw(plat::CF_DIB, b);
    EXPECT_FALSE(clip->ReadDib(&dib));
    EXPECT_EQ(clip->GetPicture(), nullptr);
  }

  // RLE8: a run of two 5s on a 2 x 1 picture, end of line, end of picture.
  PutRaw(plat::CF_DIB, DibBlock(2, 1, 8, plat::BI_RLE8, 0, 1064, {2, 5, 0, 0, 0, 1}));
  TFastDIB rle;
  rle.UseDibSection = false;
  ASSERT_TRUE(clip->ReadDib(&rle));
  EXPECT_EQ(rle.Pixels8(0)[0], 5);
  EXPECT_EQ(rle.Pixels8(0)[1], 5);
}

TEST_F(Clip, GlobalsFollowTheObject) {
  ASSERT_NE(Clipboard, nullptr);  // made at start-up
  EXPECT_EQ(static_cast<TClipbrd*>(Clipboard), Clipbrd);
  TClipboard* first = Clipboard;
  InitWinClipboard();  // a second start-up replaces it
  EXPECT_NE(Clipboard, nullptr);
  EXPECT_EQ(static_cast<TClipbrd*>(Clipboard), Clipbrd);
  (void)first;
  FiniWinClipboard();
  EXPECT_EQ(Clipboard, nullptr);
  EXPECT_EQ(Clipbrd, nullptr);
  InitWinClipboard();
  ASSERT_NE(Clipbrd, nullptr);
  EXPECT_TRUE(Clipbrd->SetText(u"global"));

  // Global blocks refuse unknown or clipboard-owned handles.
  int local = 0;
  EXPECT_EQ(plat::GlobalLock(&local), nullptr);
  EXPECT_EQ(plat::GlobalSize(&local), 0u);
  EXPECT_EQ(plat::GlobalFree(&local), &local);
  EXPECT_EQ(plat::GlobalAlloc(0, 0), nullptr);
  ASSERT_TRUE(plat::OpenClipboard(nullptr));
  plat::HGLOBAL owned = plat::GetClipboardData(plat::CF_UNICODETEXT);
  EXPECT_EQ(plat::GlobalFree(owned), owned);
  EXPECT_EQ(plat::SetClipboardData(plat::CF_TEXT, &local), nullptr);
  plat::CloseClipboard();
  EXPECT_EQ(plat::GetClipboardData(plat::CF_UNICODETEXT), nullptr);  // closed
  EXPECT_FALSE(plat::EmptyClipboard());
}

}  // namespace
