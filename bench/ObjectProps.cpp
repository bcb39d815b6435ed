// Object animation: the 15 values of an object with 100 key frames looked
// up at 1,000,000 show times, playing forward (the usual case), with a
// modifier on a group and a parameter, and at scattered times.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruClassesModules.h"
#include "OruLib2/OruClasses/OruObjectProps.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmModules.h"

namespace {

constexpr int kKeyFrames = 100;
constexpr int kTimes = 1000000;
constexpr double kSlideLength = 100000;

const zm::TModuleRunner& Modules() {
  static zm::TModuleRunner modules(
      zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), oru::OruClassesModules()}));
  return modules;
}

struct Animated {
  zm::TRef<zm::TIniFile> File;
  zm::TRef<oru::TOruObjectProps> Props;
};

Animated MakeObject(bool withModifiers) {
  Modules();
  std::string s = "[Slide1]\r\nobject Pic:Image\r\nGUID={1}\r\n";
  std::mt19937 rng(11);
  for (int k = 0; k < kKeyFrames; ++k) {
    auto n = [&] { return std::to_string(rng() % 200); };
    s += "object KeyPoint:KeyPoint\r\nTime=" + std::to_string(k * 1000) + "\r\nOpacity=" + n() +
         "\r\nPosition=" + n() + "," + n() + "\r\nZPos=" + n() + "\r\nScaleX=" + n() + "\r\nScaleY=" + n() +
         "\r\nAngle=" + n() + "\r\nAngleX=" + n() + "\r\nAngleY=" + n() + "\r\nCenterPos=" + n() + "," + n() +
         "\r\nBlur=" + n() + "\r\nZoom=" + n() + "\r\nOffsX=" + n() + "\r\nOffsY=" + n() + "\r\n";
    if (withModifiers)
      s += "object Ease:Mod\r\ndst=Pos.T\r\nfn=QSplineGraph(T, 0.42, 0, 0.58, 1)\r\nend\r\n"
           "object Wave:Mod\r\ndst=Angle\r\nfn=value + amp*Sin(T*Pi*2)\r\namp=15\r\nend\r\n";
    s += "end\r\n";
  }
  s += "end\r\n";
  Animated a;
  a.File = zm::MakeRef<zm::TIniFile>();
  a.File->LoadFromText(zm::TByteString(s));
  a.Props = zm::MakeRef<oru::TOruObjectProps>();
  a.Props->LoadFromIni(a.File->FindSection(u"Slide1")->FindObject(u"Pic"));
  a.Props->ScaleTimes({0, 0, 0, kSlideLength}, 1);
  return a;
}

double Sweep(oru::TOruObjectProps& p, const std::vector<double>& times) {
  double sum = 0;
  for (double t : times) {
    p.UpdateAtTime(t, false);
    for (int i = 0; i < oru::kKeyFrameParamCount; ++i) sum += p.Param(i);
  }
  return sum;
}

void Run(benchmark::State& state, bool withModifiers, bool scattered) {
  Animated a = MakeObject(withModifiers);
  std::vector<double> times(kTimes);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> any(-1000, kSlideLength + 1000);
  for (int i = 0; i < kTimes; ++i) times[i] = scattered ? any(rng) : i * (kSlideLength / kTimes);
  for (auto _ : state) benchmark::DoNotOptimize(Sweep(*a.Props, times));
  state.SetItemsProcessed(state.iterations() * kTimes);
}

void BM_ObjectPropsForward(benchmark::State& state) { Run(state, false, false); }
void BM_ObjectPropsForwardModifiers(benchmark::State& state) { Run(state, true, false); }
void BM_ObjectPropsScattered(benchmark::State& state) { Run(state, false, true); }

BENCHMARK(BM_ObjectPropsForward)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectPropsForwardModifiers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectPropsScattered)->Unit(benchmark::kMillisecond);

}  // namespace
