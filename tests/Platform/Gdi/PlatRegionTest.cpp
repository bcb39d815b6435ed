#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;

namespace {

std::vector<RECT> RectsOf(HRGN r) {
  const DWORD size = GetRegionData(r, 0, nullptr);
  std::vector<char> buf(size);
  auto* data = reinterpret_cast<RGNDATA*>(buf.data());
  EXPECT_EQ(GetRegionData(r, size, data), size);
  std::vector<RECT> out(data->rdh.nCount);
  std::memcpy(out.data(), buf.data() + sizeof(RGNDATAHEADER), out.size() * sizeof(RECT));
  return out;
}

HGDIOBJ Obj(HRGN r) { return reinterpret_cast<HGDIOBJ>(r); }

TEST(PlatRegion, CombineGivesCanonicalBandsAndTypes) {
  const int live = LiveGdiObjectCount();
  HRGN a = CreateRectRgn(0, 0, 10, 10);
  HRGN b = CreateRectRgn(5, 5, 15, 15);
  HRGN d = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(d, a, b, RGN_OR), COMPLEXREGION);
  EXPECT_EQ(RectsOf(d), (std::vector<RECT>{{0, 0, 10, 5}, {0, 5, 15, 10}, {5, 10, 15, 15}}));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_AND), SIMPLEREGION);
  EXPECT_EQ(RectsOf(d), (std::vector<RECT>{{5, 5, 10, 10}}));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(RectsOf(d), (std::vector<RECT>{{0, 0, 10, 5}, {0, 5, 5, 10}}));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_XOR), COMPLEXREGION);
  EXPECT_EQ(RectsOf(d).size(), 4u);
  EXPECT_FALSE(PtInRegion(d, 7, 7));
  EXPECT_TRUE(PtInRegion(d, 12, 12));
  // A union of two halves merges back into one rectangle; the result may be a source.
  HRGN left = CreateRectRgn(0, 0, 5, 10), right = CreateRectRgn(5, 0, 10, 10);
  EXPECT_EQ(CombineRgn(left, left, right, RGN_OR), SIMPLEREGION);
  EXPECT_TRUE(EqualRgn(left, a));
  EXPECT_EQ(CombineRgn(d, a, a, RGN_DIFF), NULLREGION);
  RECT box{1, 1, 1, 1};
  EXPECT_EQ(GetRgnBox(d, &box), NULLREGION);
  EXPECT_EQ(box, RECT{});
  EXPECT_EQ(CombineRgn(d, b, nullptr, RGN_COPY), SIMPLEREGION);
  EXPECT_EQ(GetRgnBox(d, &box), SIMPLEREGION);
  EXPECT_EQ(box, (RECT{5, 5, 15, 15}));
  // Swapped corners are ordered.
  HRGN swapped = CreateRectRgn(10, 10, 0, 0);
  EXPECT_TRUE(EqualRgn(swapped, a));
  for (HRGN r : {a, b, d, left, right, swapped}) EXPECT_TRUE(DeleteObject(Obj(r)));
  EXPECT_EQ(LiveGdiObjectCount(), live);
}

TEST(PlatRegion, BadHandlesAndArgumentsFail) {
  HRGN a = CreateRectRgn(0, 0, 4, 4);
  HRGN bogus = reinterpret_cast<HRGN>(std::uintptr_t(0x1234));
  EXPECT_EQ(CombineRgn(a, a, bogus, RGN_OR), RGN_ERROR);
  EXPECT_EQ(CombineRgn(a, a, a, 9), RGN_ERROR);
  EXPECT_EQ(CombineRgn(bogus, a, a, RGN_OR), RGN_ERROR);
  EXPECT_EQ(GetRgnBox(a, nullptr), RGN_ERROR);
  EXPECT_FALSE(RectInRegion(a, nullptr));
  EXPECT_EQ(CreateRectRgnIndirect(nullptr), nullptr);
  // A deleted region's handle is stale even when its slot is reused.
  ASSERT_TRUE(DeleteObject(Obj(a)));
  HRGN again = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(OffsetRgn(a, 1, 1), RGN_ERROR);
  EXPECT_FALSE(PtInRegion(a, 0, 0));
  EXPECT_FALSE(DeleteObject(Obj(a)));
  EXPECT_EQ(GetRegionData(a, 0, nullptr), 0u);
  // Offsets that would leave the int range fail and leave the region alone.
  EXPECT_EQ(OffsetRgn(again, INT_MAX, 0), RGN_ERROR);
  EXPECT_TRUE(PtInRegion(again, 0, 0));
  EXPECT_EQ(OffsetRgn(again, -3, 2), SIMPLEREGION);
  EXPECT_TRUE(PtInRegion(again, -3, 2));
  RECT touching{-3, 2, 5, 5}, apart{-2, 2, 5, 5};
  EXPECT_TRUE(RectInRegion(again, &touching));
  EXPECT_FALSE(RectInRegion(again, &apart));
  EXPECT_TRUE(DeleteObject(Obj(again)));
}

TEST(PlatRegion, RegionDataRoundTripAndDamagedData) {
  HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(20, 0, 30, 5);
  CombineRgn(a, a, b, RGN_OR);
  const DWORD size = GetRegionData(a, 0, nullptr);
  EXPECT_EQ(size, sizeof(RGNDATAHEADER) + 3 * sizeof(RECT));
  std::vector<char> buf(size);
  auto* data = reinterpret_cast<RGNDATA*>(buf.data());
  EXPECT_EQ(GetRegionData(a, size - 1, data), 0u);  // too small
  ASSERT_EQ(GetRegionData(a, size, data), size);
  EXPECT_EQ(data->rdh.dwSize, 32u);
  EXPECT_EQ(data->rdh.iType, RDH_RECTANGLES);
  EXPECT_EQ(data->rdh.nRgnSize, 3 * sizeof(RECT));
  EXPECT_EQ(data->rdh.rcBound, (RECT{0, 0, 30, 10}));
  HRGN copy = ExtCreateRegion(nullptr, size, data);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(EqualRgn(copy, a));
  // Counts that overrun the buffer, wrong headers and transforms are refused.
  EXPECT_EQ(ExtCreateRegion(nullptr, size - 1, data), nullptr);
  data->rdh.nCount = 0x40000000;
  EXPECT_EQ(ExtCreateRegion(nullptr, size, data), nullptr);
  data->rdh.nCount = 3;
  data->rdh.iType = 2;
  EXPECT_EQ(ExtCreateRegion(nullptr, size, data), nullptr);
  data->rdh.iType = RDH_RECTANGLES;
  int xform[6] = {};
  EXPECT_EQ(ExtCreateRegion(xform, size, data), nullptr);
  EXPECT_EQ(ExtCreateRegion(nullptr, 8, data), nullptr);
  // Overlapping, empty and unsorted rectangles are normalised.
  struct {
    RGNDATAHEADER h;
    RECT r[3];
  } raw{};
  raw.h.nCount = 3;
  raw.h.rcBound = {0, 0, 1, 1};  // not trusted
  raw.r[0] = {5, 5, 15, 15};
  raw.r[1] = {3, 3, 3, 9};
  raw.r[2] = {0, 0, 10, 10};
  HRGN norm = ExtCreateRegion(nullptr, sizeof raw, reinterpret_cast<RGNDATA*>(&raw));
  ASSERT_NE(norm, nullptr);
  RECT box;
  EXPECT_EQ(GetRgnBox(norm, &box), COMPLEXREGION);
  EXPECT_EQ(box, (RECT{0, 0, 15, 15}));
  EXPECT_EQ(RectsOf(norm).size(), 3u);
  for (HRGN r : {a, b, copy, norm}) DeleteObject(Obj(r));
}

TEST(PlatRegion, ClipRegionLimitsBlits) {
  BITMAPINFO info = usertest::Dib32Info(8, 8);
  void* dstBits = nullptr;
  void* srcBits = nullptr;
  HBITMAP dst = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &dstBits, nullptr, 0);
  HBITMAP src = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &srcBits, nullptr, 0);
  std::fill_n(static_cast<std::uint32_t*>(srcBits), 64, 0xFF112233u);
  HDC dd = CreateCompatibleDC(nullptr), sd = CreateCompatibleDC(nullptr);
  HGDIOBJ oldD = SelectObject(dd, reinterpret_cast<HGDIOBJ>(dst));
  HGDIOBJ oldS = SelectObject(sd, reinterpret_cast<HGDIOBJ>(src));
  HRGN probe = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(GetClipRgn(dd, probe), 0);  // no clip: the region is left alone
  RECT box;
  GetRgnBox(probe, &box);
  EXPECT_EQ(box, (RECT{0, 0, 1, 1}));
  HRGN clip = CreateRectRgn(0, 0, 2, 2), second = CreateRectRgn(6, 6, 8, 8);
  CombineRgn(clip, clip, second, RGN_OR);
  EXPECT_EQ(SelectClipRgn(dd, clip), COMPLEXREGION);
  DeleteObject(reinterpret_cast<HGDIOBJ>(clip));  // the DC keeps a copy
  EXPECT_EQ(GetClipRgn(dd, probe), 1);
  EXPECT_EQ(GetRgnBox(probe, &box), COMPLEXREGION);
  EXPECT_TRUE(BitBlt(dd, 0, 0, 8, 8, sd, 0, 0, SRCCOPY));
  auto* d = static_cast<std::uint32_t*>(dstBits);
  EXPECT_EQ(d[0], 0xFF112233u);
  EXPECT_EQ(d[9], 0xFF112233u);
  EXPECT_EQ(d[3 * 8 + 3], 0u);
  EXPECT_EQ(d[7 * 8 + 7], 0xFF112233u);
  EXPECT_EQ(SetPixel(dd, 4, 4, RGB(1, 2, 3)), CLR_INVALID);
  EXPECT_EQ(IntersectClipRect(dd, 0, 0, 1, 1), SIMPLEREGION);
  EXPECT_EQ(SelectClipRgn(dd, nullptr), SIMPLEREGION);
  EXPECT_EQ(GetClipRgn(dd, probe), 0);
  EXPECT_NE(SetPixel(dd, 4, 4, RGB(1, 2, 3)), CLR_INVALID);
  EXPECT_EQ(SelectClipRgn(dd, reinterpret_cast<HRGN>(std::uintptr_t(77))), RGN_ERROR);
  EXPECT_EQ(GetClipRgn(dd, nullptr), -1);
  SelectObject(dd, oldD);
  SelectObject(sd, oldS);
  DeleteDC(dd);
  DeleteDC(sd);
  for (HGDIOBJ o : {reinterpret_cast<HGDIOBJ>(dst), reinterpret_cast<HGDIOBJ>(src), Obj(probe), Obj(second)})
    EXPECT_TRUE(DeleteObject(o));
}

}  // namespace
