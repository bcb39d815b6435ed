#pragma once
// A show source of slides without sections (nothing to load, so builds are
// cheap) and a stand-in for the engine's queue that records the slide
// lists it takes.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "tests/support/kit/IniText.h"

namespace oru_loader_test {

inline zm::TRef<oru::TOruSource> MakeSource(const std::vector<long long>& ends,
                                            const std::vector<std::pair<std::string, std::string>>& main = {}) {
  zmtest::TIniText t;
  t.Section("main").Key("opt_repeat", "repeat");
  for (const auto& [k, v] : main) t.Key(k, v);
  t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
  for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
  zm::TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(t.Bytes(false)));
  zm::TRef<oru::TFileAccessor> accessor =
      zm::MakeRef<oru::TFileAccessor>(zm::MakeRef<oru::TRealFileSource>().get());
  return zm::MakeRef<oru::TOruSource>(accessor.Detach(), true, doc.Detach());
}

// Ten slides of a second each.
inline std::vector<long long> TenSlides() {
  std::vector<long long> ends;
  for (int i = 1; i <= 10; ++i) ends.push_back(i * 1000LL);
  return ends;
}

// Records every slide list (the container indexes) it handles, and counts
// signals: a queued event or the loader's ready report.
class TEngineSide : public zm::TThreadEventList {
public:
  TEngineSide() {
    OnEventCode = &TEngineSide::Thunk;
    OnEventObject = this;
  }
  void WakeOwner(std::int32_t) override { Signal(); }
  void Signal() {
    {
      std::lock_guard<std::mutex> g(m_);
      ++signals_;
    }
    cv_.notify_all();
  }
  // Waits for a signal after Seen (updated); false after the time-out.
  bool WaitSignal(std::uint64_t& seen, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> l(m_);
    const bool ok = cv_.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return signals_ != seen; });
    seen = signals_;
    return ok;
  }
  std::uint64_t Signals() {
    std::lock_guard<std::mutex> g(m_);
    return signals_;
  }
  std::vector<std::int32_t> Last() {
    std::lock_guard<std::mutex> g(m_);
    return lists_.empty() ? last_ : lists_.back();
  }
  std::vector<std::vector<std::int32_t>> Lists() {
    std::lock_guard<std::mutex> g(m_);
    return lists_;
  }
  void ClearLists() {
    std::lock_guard<std::mutex> g(m_);
    if (!lists_.empty()) last_ = lists_.back();
    lists_.clear();
  }
  // Slide lists taken so far.
  std::int32_t Handled() {
    std::lock_guard<std::mutex> g(m_);
    return handled_;
  }

private:
  static void Thunk(void* self, zm::TRefObject*, std::int32_t id, bool& handled, zm::TRefObject* data) {
    auto* e = static_cast<TEngineSide*>(self);
    handled = true;
    auto* d = dynamic_cast<oru::TSlideData*>(data);
    if (id != oru::TOruSlideLoader::kEngineEventId || !d) return;
    std::vector<std::int32_t> list;
    for (std::int32_t i = 0; i < d->Count; ++i) list.push_back(d->Containers[i] ? d->Containers[i]->Index : -999);
    std::lock_guard<std::mutex> g(e->m_);
    e->lists_.push_back(std::move(list));
    ++e->handled_;
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::uint64_t signals_ = 0;
  std::vector<std::vector<std::int32_t>> lists_;
  std::vector<std::int32_t> last_;
  std::int32_t handled_ = 0;
};

}  // namespace oru_loader_test
