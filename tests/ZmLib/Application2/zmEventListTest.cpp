#include "ZmLib/Application2/zmEventList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ZmLib/Application2/EventListSupport.h"

using namespace zm;
using evtest::NewData;
using evtest::TData;
using evtest::TTestPostList;

namespace {

std::vector<std::string> gCalls;

void Named(void* data, TRefObject*, std::int32_t, std::intptr_t) { gCalls.push_back(static_cast<const char*>(data)); }

struct TRemover {
  TEventList* List;
  void* Victim;
};
void RemovesOther(void* data, TRefObject*, std::int32_t id, std::intptr_t) {
  auto* r = static_cast<TRemover*>(data);
  gCalls.push_back("remover");
  r->List->RemoveHandler(id, &Named, r->Victim);
}

class EventList : public ::testing::Test {
protected:
  void SetUp() override { gCalls.clear(); }
};

TEST_F(EventList, RegistrationOrderAndRemoval) {
  auto list = MakeRef<TEventList>();
  static char a[] = "a", b[] = "b";
  list->AddHandler(7, &Named, a);
  list->AddHandler(7, &Named, b);
  list->AddHandler(7, &Named, a);  // the same method twice runs twice
  list->AddHandler(7 + 16, &Named, b);  // same bucket, another id
  list->SendEvent(nullptr, 7, 0);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"a", "b", "a"}));
  // Removing once takes the newest registration.
  list->RemoveHandler(7, &Named, a);
  gCalls.clear();
  list->SendEvent(nullptr, 7, 0);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"a", "b"}));
  list->RemoveHandler(7, &Named, reinterpret_cast<void*>(1));  // none such: nothing happens
  // An id without handlers calls nothing and leaves the lock free.
  gCalls.clear();
  list->SendEvent(nullptr, 8, 0);
  list->SendEvent(nullptr, 100000, 0);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_TRUE(list->LockIsFree());
  // A handler that removes a later one of the same id: that one is not called.
  static char later[] = "later";
  TRemover r{list.get(), later};
  list->AddHandler(3, &RemovesOther, &r);
  list->AddHandler(3, &Named, later);
  list->SendEvent(nullptr, 3, 0);
  EXPECT_EQ(gCalls, std::vector<std::string>{"remover"});
  EXPECT_TRUE(list->LockIsFree());
}

TEST_F(EventList, BucketsIdsAndClear) {
  EXPECT_EQ(MakeRef<TEventList>(0)->BucketCount(), 1);
  EXPECT_EQ(MakeRef<TEventList>(99999)->BucketCount(), 4096);
  auto list = MakeRef<TEventList>(16, 0);
  static char x[] = "x";
  EXPECT_EQ(list->RegisterEvent(&Named, x), 1);
  const std::int32_t ids[] = {4, 5, -3};  // a negative id is bucketed too
  list->AddHandlers(ids, &Named, x);
  list->SendEvent(nullptr, -3, 0);
  EXPECT_EQ(gCalls.size(), 1u);
  list->RemoveHandlers(ids, &Named, x);
  list->Clear();
  EXPECT_EQ(list->BucketArrayLength(), 0u);
}

void Thrower(void*, TRefObject*, std::int32_t, std::intptr_t) { throw Exception("handler failed"); }

int gSeenValue = 0;
void SeeData(void*, TRefObject* sender, std::int32_t, std::intptr_t param) {
  EXPECT_NE(sender, nullptr);
  gSeenValue = reinterpret_cast<TData*>(param)->Value;
}

TEST_F(EventList, SendsOnTheOwnerThreadAndPosts) {
  auto list = MakeRef<TTestPostList>();
  ASSERT_TRUE(list->IsOwnerThread());
  list->AddHandler(1, &SeeData, nullptr);
  TData* d = NewData(42);
  list->SendAndWait(1, d);
  EXPECT_EQ(gSeenValue, 42);
  EXPECT_EQ(list->Woken(), 0u);
  d->Free();  // the caller keeps its data
  // A refused post frees the data and never reaches the handler.
  std::atomic<int> disposed{0};
  list->Refuse = true;
  list->PostEvent(1, NewData(5, &disposed));
  EXPECT_EQ(disposed.load(), 1);
  EXPECT_EQ(list->QueueLength(), 0u);
  EXPECT_FALSE(list->DispatchEvent(0));
  // A posted event is owned by the queue and freed after its dispatch.
  list->Refuse = false;
  list->PostEvent(1, NewData(6, &disposed));
  EXPECT_TRUE(list->DispatchNext());
  EXPECT_EQ(gSeenValue, 6);
  EXPECT_EQ(disposed.load(), 2);
}

TEST_F(EventList, HandlerErrorPassesOnAndTheItemIsFreed) {
  auto list = MakeRef<TTestPostList>();
  list->AddHandler(2, &Thrower, nullptr);
  std::atomic<int> disposed{0};
  list->PostEvent(2, NewData(1, &disposed));
  EXPECT_THROW(list->DispatchNext(), Exception);
  EXPECT_EQ(disposed.load(), 1);
  EXPECT_TRUE(list->LockIsFree());
  // Events still queued when the list goes are freed with it.
  list->PostEvent(2, NewData(1, &disposed));
  list = nullptr;
  EXPECT_EQ(disposed.load(), 2);
}

}  // namespace
