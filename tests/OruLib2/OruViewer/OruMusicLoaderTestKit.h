#pragma once
// Stand-ins for driving the music loader as the music player thread does: a
// music player whose channels only record what is done to them (and on
// which thread they end), the player thread's event list that hands the
// answers to the test, and a show whose files live in memory. Header only,
// for the ThreadSanitizer binary too.
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "OruLib2/OruViewer/OruMusicLoader.h"
#include "ZmLib/zmStream.h"

namespace orutest {

using zm::MakeRef;
using zm::TRef;
using zm::WideString;

// What happened to the fake channels, shared with the test (channels may end
// after the test's player object is gone).
struct TChannelRecord {
  std::mutex m;
  int created = 0;
  int disposed = 0;
  int plays = 0;
  int stops = 0;
  int disposedOffThread = 0;  // not on the thread that made them
  std::vector<std::pair<WideString, std::uint32_t>> requests;
  std::vector<std::uint32_t> positions;  // SetPosition calls
  std::vector<double> delays;            // the silence each play asked for first, ms
  // What the channels answer for where their last stop fell silent.
  bool silenceKnown = true;
  double silence = std::numeric_limits<double>::quiet_NaN();

  int Disposed() {
    std::lock_guard<std::mutex> g(m);
    return disposed;
  }
};

class TFakeChannel : public zm::TChannel {
public:
  TFakeChannel(std::shared_ptr<TChannelRecord> record, const WideString& name, std::uint32_t length)
      : record_(std::move(record)), name_(name), length_(length), maker_(std::this_thread::get_id()) {}
  void Dispose() override {
    {
      std::lock_guard<std::mutex> g(record_->m);
      ++record_->disposed;
      if (std::this_thread::get_id() != maker_) ++record_->disposedOffThread;
    }
    zm::TChannel::Dispose();
  }
  zm::TMusicPlayer* GetPlayer() override { return nullptr; }
  WideString GetFileName() override { return name_; }
  float GetVolume() override { return 1.0f; }
  void SetVolume(float) override {}
  std::uint32_t GetLength() override { return length_; }
  std::uint32_t GetPosition() override { return 0; }
  void SetPosition(std::uint32_t ms) override {
    std::lock_guard<std::mutex> g(record_->m);
    record_->positions.push_back(ms);
  }
  bool Play(std::uint32_t fadeMs) override {
    EXPECT_EQ(fadeMs, oru::kChannelFadeMs);
    std::lock_guard<std::mutex> g(record_->m);
    ++record_->plays;
    playing_ = true;
    return true;
  }
  bool PlayDelayed(std::uint32_t fadeMs, double delayMs) override {
    {
      std::lock_guard<std::mutex> g(record_->m);
      record_->delays.push_back(delayMs);
    }
    return Play(fadeMs);
  }
  bool Stop(std::uint32_t fadeMs) override {
    EXPECT_EQ(fadeMs, oru::kChannelFadeMs);
    std::lock_guard<std::mutex> g(record_->m);
    ++record_->stops;
    playing_ = false;
    return true;
  }
  bool IsPlaying() override {
    std::lock_guard<std::mutex> g(record_->m);
    return playing_;
  }
  bool StopSilence(double& place) override {
    std::lock_guard<std::mutex> g(record_->m);
    place = record_->silence;
    return record_->silenceKnown;
  }

private:
  std::shared_ptr<TChannelRecord> record_;
  WideString name_;
  std::uint32_t length_;
  std::thread::id maker_;
  bool playing_ = false;
};

// Files named "missing..." cannot be played, "throw..." raise; the others
// last Lengths[name] ms (3000 when not listed).
class TFakePlayer : public zm::TMusicPlayer {
public:
  bool IsReady() override { return true; }
  void SetCloseStream(zm::TStreamCloseProc proc, void* data) override { close_ = {proc, data}; }
  void SetOpenStream(zm::TStreamOpenProc proc, void* data) override { open_ = {proc, data}; }
  void GetOpenStream(zm::TStreamOpenPair& pair) override { pair = open_; }
  void GetCloseStream(zm::TStreamClosePair& pair) override { pair = close_; }
  double GetTime() override { return 0; }
  TRef<zm::TChannel> CreateChannel(const WideString& name, std::uint32_t startPosition) override {
    {
      std::lock_guard<std::mutex> g(Record->m);
      Record->requests.emplace_back(name, startPosition);
    }
    if (name.starts_with(u"missing")) return nullptr;
    if (name.starts_with(u"throw")) throw zm::EStreamReadError();
    std::uint32_t length = 3000;
    if (auto it = Lengths.find(name); it != Lengths.end()) length = it->second;
    {
      std::lock_guard<std::mutex> g(Record->m);
      ++Record->created;
    }
    return MakeRef<TFakeChannel>(Record, name, length);
  }

  std::shared_ptr<TChannelRecord> Record = std::make_shared<TChannelRecord>();
  std::map<WideString, std::uint32_t> Lengths;

private:
  zm::TStreamOpenPair open_;
  zm::TStreamClosePair close_;
};

// The player thread's list: each answer (event 2) is kept with a reference
// of the player's, as the player's items keep their channels; a cancelled
// channel belongs to no item and is not kept.
class TPlayerEvents : public zm::TThreadEventList {
public:
  TPlayerEvents() {
    OnEventCode = &TPlayerEvents::Handle;
    OnEventObject = this;
  }
  void WakeOwner(std::int32_t) override {
    std::lock_guard<std::mutex> g(m_);
    ++posted_;
    cv_.notify_all();
  }
  // Handles what has arrived until count answers were seen; false when they
  // did not come within the safety net.
  bool WaitForAnswers(std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      ProcessEvents();
      if (AnswerCount >= count) return true;
      std::unique_lock<std::mutex> l(m_);
      if (posted_ == 0 && !cv_.wait_until(l, end, [this] { return posted_ > 0; })) return false;
      posted_ = 0;
    }
  }
  void Dispose() override {
    Answers.clear();
    zm::TThreadEventList::Dispose();
  }

  std::vector<TRef<oru::TOruChannel>> Answers;
  std::size_t AnswerCount = 0;

private:
  static void Handle(void* object, zm::TRefObject*, std::int32_t id, bool& handled, zm::TRefObject* data) {
    auto* self = static_cast<TPlayerEvents*>(object);
    handled = true;
    EXPECT_EQ(id, oru::kChannelOpenedEvent);
    auto* c = dynamic_cast<oru::TChannelContainer*>(data);
    ASSERT_NE(c, nullptr);
    ++self->AnswerCount;
    if (!c->Channel()->Cancelled()) self->Answers.emplace_back(c->Channel());
  }
  std::mutex m_;
  std::condition_variable cv_;
  int posted_ = 0;
};

// A show whose entries are held in memory.
class TMemorySource : public oru::TFileSource {
public:
  zm::TStream* OpenFile(const WideString& name) override {
    auto it = Files.find(name);
    if (it == Files.end()) return nullptr;
    auto s = MakeRef<zm::TMemoryStream>();
    if (!it->second.empty())
      s->Write(zm::TWriteBuffer(reinterpret_cast<const std::uint8_t*>(it->second.data()), it->second.size()));
    s->SetPosition(0);
    return s.Detach();
  }
  std::map<WideString, std::string> Files;
};

inline TRef<oru::TFileAccessor> MemoryShow(std::map<WideString, std::string> files) {
  auto source = MakeRef<TMemorySource>();
  source->Files = std::move(files);
  return MakeRef<oru::TFileAccessor>(source.get());
}

inline TRef<oru::TOruChannel> NewChannel(std::int32_t id, const WideString& text, std::int32_t startPosition = 0,
                                         double start = 0, double end = 100000,
                                         oru::TChannelOperator* op = nullptr) {
  return MakeRef<oru::TOruChannel>(op, id, text, startPosition, start, end);
}

}  // namespace orutest
