#include "ZmLib/Win32/SysObj2.h"

#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmStream.h"
#include "tests/support/Capture.h"

using namespace zm;

namespace {

int gDisposed = 0;

class TCounted : public TRefObject {
public:
  void Dispose() override {
    ++gDisposed;
    TRefObject::Dispose();
  }
};

class TForgetsInherited : public TRefObject {
public:
  void Dispose() override {}  // the fault under test: no inherited Dispose
};

class TFreesItselfAgain : public TRefObject {
public:
  void Dispose() override {
    TRefObject::Dispose();
    Free();  // a second holder lets go while the object is being torn down
  }
};

}  // namespace

TEST(RefObject, ExtraReferenceKeepsObjectAliveUntilReleased) {
  gDisposed = 0;
  TCounted* o = MakeRef<TCounted>().Detach();
  EXPECT_EQ(o->AddRef(), 2);
  o->Free();
  EXPECT_EQ(gDisposed, 0);
  EXPECT_EQ(o->RefCount(), 1);
  EXPECT_EQ(o->ReleaseRef(), 0);
  EXPECT_EQ(gDisposed, 1);
  // References taken and dropped on several threads at once.
  TRef<TCounted> shared = MakeRef<TCounted>();
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; ++t)
    ts.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) TRef<TCounted> copy = shared;
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(shared->RefCount(), 1);
}

TEST(RefObject, FaultsInDisposeAreReported) {
  zmtest::TDebugCapture cap;
  MakeRef<TForgetsInherited>();
  EXPECT_TRUE(cap.Contains("Error: inherited TForgetsInherited.Dispose not called!"));
  // A second free while being torn down: reported, never deleted twice.
  TFreesItselfAgain* o = MakeRef<TFreesItselfAgain>().Detach();
  EXPECT_THROW(o->Free(), EAbort);
  EXPECT_TRUE(cap.Contains("Dupliacte free or _release at TFreesItselfAgain"));
}

TEST(Exceptions, MessagesAndTables) {
  EXPECT_STREQ(EThreadError().what(), "Tavrel Exception: \"EThreadError\"");
  plat::SetLastOSError(0);
  try {
    RaiseLastOSError();
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.Message(), "A call to an OS function failed");
    EXPECT_EQ(e.Code(), 0);
  }
  try {
    RaiseOSError(2);
  } catch (const EOSError& e) {
    EXPECT_EQ(e.Message(), "System Error.  Code: 2.\r\n" + SysErrorMessage(2));
    EXPECT_NE(SysErrorMessage(2).back(), '.');
  }
  EXPECT_EQ(EInOutError(106).Message(), "Invalid numeric input");
  EXPECT_EQ(EInOutError(7).Message(), "I/O error 7");
  auto msgOf = [](std::exception_ptr p) {
    try {
      std::rethrow_exception(p);
    } catch (const Exception& e) {
      return e.ClassName() + ":" + e.Message();
    }
  };
  EXPECT_EQ(msgOf(RunTimeErrorException(3)), "EDivByZero:Division by zero");
  EXPECT_EQ(msgOf(RunTimeErrorException(22, 0, 0xC0000123)), "EExternalException:External exception c0000123");
  EXPECT_EQ(msgOf(RunTimeErrorException(99, 5)), "EInOutError:File access denied");
  EXPECT_EQ(OSExceptionCodeToErrorNumber(0xC0000094), 3);
  EXPECT_EQ(AccessViolationMessage(reinterpret_cast<const void*>(0x1234), "prog", true,
                                   reinterpret_cast<const void*>(0x10)),
            "Access violation at address 00001234 in module 'prog'. Write of address 00000010");
  EXPECT_THROW(AbstractError(), EAbstractError);
}

TEST(Exceptions, FormatPrintfAndThreadTag) {
  EXPECT_EQ(FormatPrintf("%5d|%-4s|%05.1f|%x", {42, "x", 3.14159, -1}), "   42|x   |003.1|ffffffff");
  // Missing and mistyped arguments print nothing instead of reading garbage.
  EXPECT_EQ(FormatPrintf("a%db%sc", {}), "abc");
  EXPECT_EQ(FormatPrintf("%s", {12}), "");
  EXPECT_EQ(FormatPrintf("%*d", {3, 7}), "  7");
  EXPECT_EQ(FormatPrintf("%99999999d", {1}).size(), 2048u);  // width cut to 4 digits, text to 2048
  EXPECT_EQ(FormatPrintf("trailing %", {}), "trailing %");
  EXPECT_EQ(FormatPrintf("%s", {std::string(5000, 'a')}).size(), 2048u);
  EXPECT_EQ(ThreadTagFor(4660), "$1234");
  EXPECT_EQ(ThreadTagFor(74565), "$00012345");
}

TEST(Exceptions, ErrorMessageTextAndShowException) {
  EOSError e("Boom", 3);
  std::string t = ExceptionErrorMessage(&e, nullptr, 1024);
  EXPECT_EQ(t.rfind("Exception EOSError  in module ", 0), 0u);
  EXPECT_NE(t.find(" at 00000000.\r\nBoom.\r\n"), std::string::npos);
  EXPECT_EQ(ExceptionErrorMessage(&e, nullptr, 10).size(), 10u);
  // An address in our own code is shown relative to the module that holds it.
  std::string t3 = ExceptionErrorMessage(&e, reinterpret_cast<const void*>(&ThreadTagFor), 1024);
  EXPECT_NE(t3.find("in module zmcore_tests at "), std::string::npos) << t3;
  // Silent exceptions show nothing.
  zmtest::TMessageBoxCapture boxes;
  zmtest::TDebugCapture cap;
  EAbort silent("quiet");
  ShowException(&silent, nullptr);
  EXPECT_TRUE(boxes.Boxes().empty());
  if (!plat::StdErrIsTerminal()) {
    EOSError loud("Loud", 1);
    ShowException(&loud, nullptr);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].Caption, u"Application Error");
    EXPECT_TRUE(cap.Contains("Loud."));
  }
}

TEST(Assertions, ReportTextIsSilentAndNotifies) {
  static std::string notified;
  zm::THookScope assertNotify(AssertNotifyProc, [](const std::string& m, const std::string& u, int l) {
    notified = m + "|" + u + "|" + std::to_string(l);
  });
  zmtest::TDebugCapture cap;
  int line = 0;
  try {
    line = __LINE__ + 1;
    ZM_ASSERT(1 + 1 == 3, "arithmetic");
  } catch (const EAbort& e) {
    std::string expected = "Asseertion with message: 'arithmetic' (tests\\ZmLib\\Win32\\SysObj2Test, line: " +
                           std::to_string(line) + ")";
    EXPECT_EQ(e.Message(), expected);
    EXPECT_TRUE(IsSilentException(e));
    EXPECT_TRUE(cap.Contains(expected));
  }
  assertNotify.Restore();
  EXPECT_EQ(notified, "arithmetic|tests\\ZmLib\\Win32\\SysObj2Test|" + std::to_string(line));
}

TEST(Assertions, DefaultHandlerBeforeStartShowsABox) {
  zmtest::TMessageBoxCapture boxes;
  FiniSysObj2();
  EXPECT_THROW(ZM_FAIL("early"), EAbort);
  InitSysObj2();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_THROW(ZM_FAIL("late"), EAbort);
  EXPECT_EQ(boxes.Boxes().size(), 1u);
}

