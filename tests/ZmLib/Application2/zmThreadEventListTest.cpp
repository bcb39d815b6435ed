#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "ZmLib/Application2/zmThreadEventList.h"
#include "tests/ZmLib/Application2/EventListSupport.h"

using namespace zm;
using evtest::NewData;
using evtest::TData;

namespace {

struct TTelLog {
  std::vector<int> Values;  // data values seen (-1 for nil)
  std::vector<TRefObject*> Senders;
  bool SetHandled = false;
  int OnEventCalls = 0;
};

int TelValue(TRefObject* data) { return data ? static_cast<TData*>(data)->Value : -1; }

void TelRegistered(void* log, TRefObject* sender, std::int32_t, std::intptr_t param) {
  auto* l = static_cast<TTelLog*>(log);
  l->Values.push_back(TelValue(reinterpret_cast<TRefObject*>(param)));
  l->Senders.push_back(sender);
}

void TelOnEvent(void* log, TRefObject*, std::int32_t, bool& handled, TRefObject*) {
  auto* l = static_cast<TTelLog*>(log);
  ++l->OnEventCalls;
  handled = l->SetHandled;
}

TEST(ThreadEventList, ClosedListFreesPostedDataAndIgnoresSends) {
  auto list = MakeRef<TThreadEventList>();
  TTelLog log;
  list->AddHandler(1, &TelRegistered, &log);
  EXPECT_FALSE(list->IsClosed());
  list->Close();
  EXPECT_TRUE(list->IsClosed());
  list->Close();  // twice is harmless

  std::atomic<int> freed{0};
  list->Post(1, NewData(1, &freed));
  EXPECT_EQ(freed.load(), 1);  // at once
  EXPECT_EQ(list->Count(), 0u);
  list->Post(1, nullptr);  // nil data is allowed

  TData* mine = NewData(2, &freed);
  list->SendWait(1, mine);  // returns at once
  EXPECT_EQ(freed.load(), 1);  // still the caller's
  mine->Free();
  list->ProcessEvents();
  EXPECT_TRUE(log.Values.empty());

  TMessageItem* item = reinterpret_cast<TMessageItem*>(1);
  EXPECT_FALSE(list->Pop(item));
  EXPECT_EQ(item, nullptr);

  list->Open();  // usable again
  list->Post(1, NewData(3, &freed));
  list->ProcessEvents();
  EXPECT_EQ(log.Values, std::vector<int>({3}));
  EXPECT_EQ(freed.load(), 3);
}

TEST(ThreadEventList, QueuedDataFreedOnceByCloseAndDispose) {
  std::atomic<int> freed{0};
  auto list = MakeRef<TThreadEventList>();
  for (int i = 0; i < 5; ++i) list->Post(7, NewData(i, &freed));
  EXPECT_EQ(list->Count(), 5u);
  list->Close();
  EXPECT_EQ(freed.load(), 5);
  list->Open();
  for (int i = 0; i < 3; ++i) list->Post(7, NewData(i, &freed));
  list = nullptr;  // disposing an open list with events in it
  EXPECT_EQ(freed.load(), 8);
}

TEST(ThreadEventList, DrainsInOrderIncludingEventsPostedByHandlers) {
  auto list = MakeRef<TThreadEventList>();
  TTelLog log;
  std::atomic<int> freed{0};
  struct TCtx {
    TThreadEventList* List;
    TTelLog* Log;
    std::atomic<int>* Freed;
  } ctx{list.get(), &log, &freed};
  list->AddHandler(1, &TelRegistered, &log);
  list->AddHandler(
      2,
      [](void* c, TRefObject*, std::int32_t, std::intptr_t param) {
        auto* x = static_cast<TCtx*>(c);
        int v = TelValue(reinterpret_cast<TRefObject*>(param));
        x->Log->Values.push_back(v);
        if (v < 12) x->List->Post(2, NewData(v + 1, x->Freed));
      },
      &ctx);
  list->Post(1, NewData(1, &freed));
  list->Post(2, NewData(10, &freed));
  list->Post(1, nullptr);
  list->Post(99, NewData(5, &freed));  // no handler: data still freed
  list->ProcessEvents();
  EXPECT_EQ(log.Values, std::vector<int>({1, 10, -1, 11, 12}));
  EXPECT_EQ(log.Senders.front(), list.get());
  EXPECT_EQ(freed.load(), 5);  // 1, 10, 11, 12 and the unhandled one
  EXPECT_EQ(list->Count(), 0u);
}

TEST(ThreadEventList, OnEventHandledStopsRegisteredHandlers) {
  auto list = MakeRef<TThreadEventList>();
  TTelLog log;
  list->AddHandler(4, &TelRegistered, &log);
  list->OnEventCode = &TelOnEvent;
  list->OnEventObject = &log;
  list->Post(4, NewData(1));
  list->ProcessEvents();
  EXPECT_EQ(log.OnEventCalls, 1);
  EXPECT_EQ(log.Values, std::vector<int>({1}));  // not handled: passed on
  log.SetHandled = true;
  list->Post(4, NewData(2));
  list->ProcessEvents();
  EXPECT_EQ(log.OnEventCalls, 2);
  EXPECT_EQ(log.Values, std::vector<int>({1}));
}

TEST(ThreadEventList, SendFromOwnerIsHandledDirectly) {
  auto list = MakeRef<TThreadEventList>();
  TTelLog log;
  std::atomic<int> freed{0};
  list->AddHandler(1, &TelRegistered, &log);
  // A handler on the owner thread sends to its own list.
  struct TCtx {
    TThreadEventList* List;
    TData* Inner;
  } ctx{list.get(), NewData(8, &freed)};
  list->AddHandler(
      3, [](void* c, TRefObject*, std::int32_t, std::intptr_t) {
        auto* x = static_cast<TCtx*>(c);
        x->List->SendWait(1, x->Inner);
      },
      &ctx);
  list->BindOwner();
  TData* mine = NewData(7, &freed);
  list->SendWait(1, mine);
  EXPECT_EQ(log.Values, std::vector<int>({7}));
  list->Post(3, nullptr);
  list->ProcessEvents();
  EXPECT_EQ(log.Values, std::vector<int>({7, 8}));
  EXPECT_EQ(freed.load(), 0);  // sent data stays the caller's
  mine->Free();
  ctx.Inner->Free();
  EXPECT_EQ(freed.load(), 2);
}

TEST(ThreadEventList, HandlerErrorFreesItsEventAndKeepsTheRest) {
  auto list = MakeRef<TThreadEventList>();
  std::atomic<int> freed{0};
  list->AddHandler(
      1, [](void*, TRefObject*, std::int32_t, std::intptr_t) { throw std::runtime_error("handler"); },
      nullptr);
  list->Post(1, NewData(1, &freed));
  list->Post(2, NewData(2, &freed));
  EXPECT_THROW(list->ProcessEvents(), std::runtime_error);
  EXPECT_EQ(freed.load(), 1);
  EXPECT_EQ(list->Count(), 1u);
  list->ProcessEvents();
  EXPECT_EQ(freed.load(), 2);
}

TEST(ThreadEventList, MusicListStopFlagAndRegistry) {
  auto list = MakeRef<TMusicEventList>();
  EXPECT_FALSE(list->Stop.load());
  EXPECT_EQ(list->BucketCount(), 4096);
  TTelLog log;
  std::int32_t id = list->RegisterEvent(&TelRegistered, &log);
  list->PostEvent(id, NewData(5));  // the posting list's entry points
  list->ProcessEvents();
  EXPECT_EQ(log.Values, std::vector<int>({5}));
}

}  // namespace
