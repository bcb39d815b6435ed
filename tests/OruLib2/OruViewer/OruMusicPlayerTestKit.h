#pragma once
// Drives the music player thread by hand: a sound device whose play clock
// the test sets, shows built in memory, and passes of the player and its
// loader run on the test's thread. Header only, for the ThreadSanitizer
// binary too.
#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruViewer/OruMusicPlayer.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruViewer/OruMusicLoaderTestKit.h"
#include "tests/support/kit/ShowBuilder.h"

namespace orutest {

// Channels of names holding "missing" cannot be made, of "damaged" raise;
// the others last a long time unless listed in Lengths.
class TClockPlayer : public TFakePlayer {
public:
  bool IsReady() override { return Ready; }
  double GetTime() override { return Now.load(); }
  TRef<zm::TChannel> CreateChannel(const WideString& name, std::uint32_t startPosition) override {
    if (name.find(u"missing") != WideString::npos) return nullptr;
    if (name.find(u"damaged") != WideString::npos) throw zm::EStreamReadError();
    if (!Lengths.contains(name)) Lengths[name] = 600000;
    return TFakePlayer::CreateChannel(name, startPosition);
  }
  float GetVolume() override { return volume_.load(); }
  void SetVolume(float v) override { volume_.store(v); }

  std::atomic<double> Now{0};
  bool Ready = true;

private:
  std::atomic<float> volume_{1.0f};
};

// The player the factory hook hands out next (one reference, taken by the hook).
inline TClockPlayer*& NextClockPlayer() {
  static TClockPlayer* next = nullptr;
  return next;
}

inline TRef<zm::TMusicPlayer> MakeNextClockPlayer() {
  TClockPlayer* p = NextClockPlayer();
  NextClockPlayer() = nullptr;
  return p ? TRef<zm::TMusicPlayer>::Adopt(p) : TRef<zm::TMusicPlayer>();
}

// Installs the hook for a test; the device stays reachable through Device.
class TClockPlayerHook {
public:
  explicit TClockPlayerHook(bool ready = true) {
    Device = MakeRef<TClockPlayer>();
    Device->Ready = ready;
    Device->AddRef();
    NextClockPlayer() = Device.get();
    hook_.Set(&MakeNextClockPlayer);
  }
  ~TClockPlayerHook() {
    hook_.Restore();
    if (TClockPlayer* p = NextClockPlayer()) {
      NextClockPlayer() = nullptr;
      p->Free();
    }
  }
  TRef<TClockPlayer> Device;

private:
  zm::THookScope<zm::TCreateMusicPlayerProc> hook_{zm::CreateMusicPlayerHook};
};

// The opened show (the caller's reference).
inline TRef<oru::TOruSource> OpenShow(zmtest::TShowBuilder& show) {
  show.Render();
  TRef<zm::TIniFile> doc = MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(show.Description().Bytes(false)));
  TRef<oru::TMappedFileSource> files = MakeRef<oru::TMappedFileSource>();
  files->LoadFileMap(doc->FindSection(u"FileMap"));
  TRef<oru::TFileAccessor> accessor = MakeRef<oru::TFileAccessor>(files.get());
  return MakeRef<oru::TOruSource>(accessor.Detach(), true, doc.Detach());
}

inline TRef<oru::TOruMusicPlayer> NewPlayer(zmtest::TShowBuilder& show) {
  TRef<oru::TOruSource> src = OpenShow(show);
  auto player = MakeRef<oru::TOruMusicPlayer>(src.Detach(), true);
  // The test's thread plays the engine and drains both queues.
  player->Events()->BindOwner();
  player->Loader()->Events()->BindOwner();
  return player;
}

// One pass of the loader (opening what was asked), then one of the player.
inline void Pass(oru::TOruMusicPlayer* player) {
  player->Loader()->Events()->ProcessEvents();
  player->Pass();
}

}  // namespace orutest
