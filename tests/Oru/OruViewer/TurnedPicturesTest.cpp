// Pictures turned about their own axes, played end to end: the player draws
// each one where a model of the test's own puts it. The model turns the
// picture's rectangle as the layout does (the rows of its matrix, depth
// scaled by the slide's perspective factor, tan 30 degrees for a camera one
// slide height away) and projects its points from the camera at
// (w/2, h/2, -h) onto the screen. The outline and the lines inside the
// picture must both follow it: a drawing that only projects three corners
// draws a parallelogram, with its far edge as long as its near one.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

constexpr int kW = 640, kH = 360;
constexpr std::uint32_t kStepMs = 20;
constexpr long long kSlideMs = 400;
// The picture, as large as the slide and shown at half its size: red left of
// column 160, green above row 96 (block edges of the JPEG), blue throughout.
constexpr double kRedUntil = 160, kGreenUntil = 96;

struct TAngles {
  double X, Y;  // AngleX, AngleY in degrees
};
const TAngles kCases[] = {{0, 30}, {0, -50}, {0, 65}, {30, 0}, {-45, 0}, {25, 35}, {-30, -20}};

struct TPoint2 {
  double X, Y;
};

// Where the picture's pixel (px, py) shows on the screen.
TPoint2 Model(const TAngles& a, double px, double py) {
  const double zoom = 0.5, persp = std::tan(std::numbers::pi / 6);
  const double ra = a.X * std::numbers::pi / 180, rb = a.Y * std::numbers::pi / 180;
  const double x = px - kW / 2.0, y = py - kH / 2.0;  // from the picture's centre
  // Rows 1 and 2 of the object's matrix (no turn in the slide's plane).
  const double r1[3] = {zoom * std::cos(rb), 0, zoom * std::sin(rb) * persp};
  const double r2[3] = {zoom * std::sin(ra) * std::sin(rb), zoom * std::cos(ra), -zoom * std::sin(ra) * std::cos(rb) * persp};
  const double p[3] = {kW / 2.0 + x * r1[0] + y * r2[0], kH / 2.0 + x * r1[1] + y * r2[1], x * r1[2] + y * r2[2]};
  const double eye[3] = {kW / 2.0, kH / 2.0, -double(kH)};
  const double t = -eye[2] / (p[2] - eye[2]);
  return {eye[0] + (p[0] - eye[0]) * t, eye[1] + (p[1] - eye[1]) * t};
}

// Signed distance of Q from the line A-B, positive on the side of Inside.
double Side(TPoint2 a, TPoint2 b, TPoint2 q, TPoint2 inside) {
  const double nx = b.Y - a.Y, ny = a.X - b.X, len = std::hypot(nx, ny);
  const double d = ((q.X - a.X) * nx + (q.Y - a.Y) * ny) / len;
  const double s = (inside.X - a.X) * nx + (inside.Y - a.Y) * ny;
  return s >= 0 ? d : -d;
}

struct TFrame {
  std::vector<std::uint32_t> Bits;
  int Width = 0, Height = 0;
  std::uint32_t At(int x, int y) const { return Bits[std::size_t(y) * std::size_t(Width) + std::size_t(x)]; }
  int Channel(int x, int y, int shift) const { return int(At(x, y) >> shift) & 0xFF; }
};

// The column at which the red channel falls below half along row Y, looked
// for within Range of Near; NaN when there is none.
double RedEdge(const TFrame& f, double nearX, double y, double range) {
  const int row = int(std::lround(y));
  if (row < 0 || row >= f.Height) return std::nan("");
  for (int x = std::max(1, int(nearX - range)); x <= std::min(f.Width - 1, int(nearX + range)); ++x) {
    const int a = f.Channel(x - 1, row, 16), b = f.Channel(x, row, 16);
    if (a >= 128 && b < 128) return x - 1 + (a - 128.0) / std::max(1, a - b) + 0.5;
  }
  return std::nan("");
}

// The row at which the green channel falls below half along column X.
double GreenEdge(const TFrame& f, double x, double nearY, double range) {
  const int col = int(std::lround(x));
  if (col < 0 || col >= f.Width) return std::nan("");
  for (int y = std::max(1, int(nearY - range)); y <= std::min(f.Height - 1, int(nearY + range)); ++y) {
    const int a = f.Channel(col, y - 1, 8), b = f.Channel(col, y, 8);
    if (a >= 128 && b < 128) return y - 1 + (a - 128.0) / std::max(1, a - b) + 0.5;
  }
  return std::nan("");
}

}  // namespace

TEST(TurnedPictures, DrawnInPerspectiveFromTheCamera) {
  zmtest::TShowBuilder show;
  show.ScreenSize(kW, kH).Repeat("close").Main().Key("opt_scr_full", 0);
  zmtest::TJpegOptions jpeg;
  jpeg.Width = kW;
  jpeg.Height = kH;
  jpeg.Quality = 100;
  jpeg.FullChroma = true;
  jpeg.Pixel = [](int x, int y, std::uint8_t* c) {
    c[0] = x < kRedUntil ? 255 : 0;
    c[1] = y < kGreenUntil ? 255 : 0;
    c[2] = 160;
  };
  show.AddFile("pictures\\grid.jpg", zmtest::WriteJpeg(jpeg));
  long long end = 0;
  for (const TAngles& a : kCases) {
    zmtest::TShowSlide& s = show.AddSlide(end += kSlideMs);
    s.SolidBackground(0, 0, 0).Transition("quick", 0);
    s.Image("Turned", "pictures\\grid.jpg").Key("ShadowEnable", 0).KeyPoint(0).Scale(50, 50).Angle(0, a.X, a.Y);
  }
  show.Write();

  std::vector<TFrame> frames(std::size(kCases));
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8(show.Folder() + "/Project.oru") + u"\"", kStepMs,
      [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
        // The middle of each slide.
        const std::int64_t slide = time / kSlideMs;
        if (bits && slide >= 0 && slide < std::int64_t(frames.size()) && time % kSlideMs == kSlideMs / 2) {
          TFrame& f = frames[std::size_t(slide)];
          f.Bits.assign(bits, bits + std::size_t(w) * std::size_t(h));
          f.Width = w;
          f.Height = h;
        }
        return time > end + 5000;
      });
  ASSERT_TRUE(run.Started);
  ASSERT_TRUE(run.Boxes.empty()) << run.Boxes.front();

  for (std::size_t k = 0; k < std::size(kCases); ++k) {
    const TAngles& a = kCases[k];
    std::ostringstream name;
    name << "AngleX " << a.X << ", AngleY " << a.Y;
    SCOPED_TRACE(name.str());
    const TFrame& f = frames[k];
    ASSERT_EQ(f.Width, kW);
    ASSERT_EQ(f.Height, kH);
    const std::array<TPoint2, 4> q = {Model(a, 0, 0), Model(a, kW, 0), Model(a, kW, kH), Model(a, 0, kH)};
    const TPoint2 centre = Model(a, kW / 2.0, kH / 2.0);
    // The outline: lit well inside the projected rectangle, dark well outside.
    int wrong = 0, inside = 0;
    for (int y = 1; y < kH; y += 3)
      for (int x = 1; x < kW; x += 3) {
        double d = 1e9;
        for (int i = 0; i < 4; ++i) d = std::min(d, Side(q[i], q[(i + 1) % 4], {x + 0.5, y + 0.5}, centre));
        const bool lit = f.Channel(x, y, 0) > 60;  // the picture's blue
        if (d > 2.5) {
          ++inside;
          if (!lit) ++wrong;
        } else if (d < -2.5 && lit) {
          ++wrong;
        }
      }
    EXPECT_GT(inside, 1000);
    EXPECT_EQ(wrong, 0) << "corners (" << q[0].X << ", " << q[0].Y << ") (" << q[1].X << ", " << q[1].Y << ") ("
                        << q[2].X << ", " << q[2].Y << ") (" << q[3].X << ", " << q[3].Y << ")";
    // Inside: the red column's edge and the green row's edge lie where the
    // model projects them (within the picture's half-size sampling).
    for (double py : {kH * 0.3, kH * 0.5, kH * 0.85}) {
      const TPoint2 p = Model(a, kRedUntil, py);
      const double got = RedEdge(f, p.X, p.Y, 20);
      EXPECT_NEAR(got, p.X, 1.5) << "red edge at picture row " << py << ", screen row " << p.Y;
    }
    for (double px : {kW * 0.1, kW * 0.5, kW * 0.9}) {
      const TPoint2 p = Model(a, px, kGreenUntil);
      const double got = GreenEdge(f, p.X, p.Y, 20);
      EXPECT_NEAR(got, p.Y, 1.5) << "green edge at picture column " << px << ", screen column " << p.X;
    }
  }
}
