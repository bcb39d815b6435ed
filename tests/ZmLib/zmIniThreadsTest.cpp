// A finished ini document read from several threads at once: the hash
// indexes are built on first use by whichever thread comes first.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"

using namespace zm;

TEST(IniThreads, ConcurrentReadersOfOneDocument) {
  std::string text;
  for (int s = 0; s < 40; ++s) {
    text += "[Slide" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 60; ++k) text += "key" + std::to_string(k) + "=" + std::to_string(s * 1000 + k) + "\r\n";
    text += "object Image:Image\r\n  file=a" + std::to_string(s) + ".jpg\r\nend\r\n";
  }
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(text));
  ASSERT_EQ(doc->SectionCount(), 40);
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 40; ++i) {
          int s = (i * 7 + t) % 40;
          std::u16string section = plat::FromUtf8("SLIDE" + std::to_string(s));
          TIniSection* sec = doc->FindSection(section);
          int k = (i + t * 13) % 60;
          if (IniGetInt(IniFind(sec, plat::FromUtf8("Key" + std::to_string(k))), -1) != s * 1000 + k) ++wrong;
          TIniObject* image = IniFindObject(sec, u"image");
          const std::string file = std::string("a").append(std::to_string(s)).append(".jpg");
          if (IniReadString(image, u"file") != plat::FromUtf8(file)) ++wrong;
        }
    });
  go.store(true);
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

namespace {

// The saved text and, for each section, its place and its blocks: what a
// parse in parts must give as one parse does.
std::string IniShape(TIniFile& doc) {
  std::string shape = doc.SaveToValue().Str() + "|";
  for (std::int32_t i = 0; i < doc.SectionCount(); ++i) {
    TIniSection* s = doc.Section(i);
    shape += std::to_string(s->Index()) + ":" + std::to_string(s->ObjectCount()) + ":" +
             std::to_string(doc.FindSection(s->GetName()) == s || s->GetName().empty()) + ";";
  }
  return shape;
}

}  // namespace

TEST(IniThreads, TextParsedInPartsIsTheDocumentOneParseMakes) {
  // Lines of every kind with every line end, sections met again later,
  // blocks a section line closes, lines that only look like sections.
  const char* const kEnds[] = {"\r\n", "\n", "\r", "\n\r", "\r\n\r\n", "\n\n\r", "\r\r\n"};
  std::uint32_t seed = 7;
  auto next = [&](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  std::string text = "; top\r\nrootkey=1\r\n";
  for (int line = 0; line < 3000; ++line) {
    switch (next(10)) {
      case 0: text += "[S" + std::to_string(next(40)) + "]"; break;
      case 1: text += "  [ Slide" + std::to_string(next(400)) + " ]"; break;
      case 2: text += next(2) ? "[]" : "[no end"; break;
      case 3: text += "object O" + std::to_string(next(5)) + ":T"; break;
      case 4: text += next(2) ? "end" : "  END"; break;
      default: text += "k" + std::to_string(next(30)) + "=v" + std::to_string(line);
    }
    text += kEnds[next(7)];
  }
  TRef<TIniFile> whole = MakeRef<TIniFile>();
  zm::THookScope<std::int32_t> partBytes(IniPartBytes), maxParts(IniMaxParts);
  IniMaxParts = 1;
  whole->LoadFromText(TByteString(text));
  const std::string expected = IniShape(*whole);
  for (const std::int32_t bytes : {97, 1000, 9000})
    for (const std::int32_t parts : {2, 3, 8}) {
      IniPartBytes = bytes;
      IniMaxParts = parts;
      TRef<TIniFile> cut = MakeRef<TIniFile>();
      cut->LoadFromText(TByteString(text));
      EXPECT_EQ(IniShape(*cut), expected) << bytes << " bytes, " << parts << " parts";
    }
}

TEST(IniThreads, ItemsOfOneBlockGoOnSeveralThreadsAtOnce) {
  zm::THookScope<std::int32_t> partBytes(IniPartBytes), maxParts(IniMaxParts);
  IniPartBytes = 1024;
  IniMaxParts = 1;  // one thread's blocks: neighbouring items share them
  std::string text;
  for (int s = 0; s < 800; ++s) text += "[S" + std::to_string(s) + "]\r\na=1\r\nobject O:T\r\n  b=2\r\nend\r\n";
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(text));
  ASSERT_EQ(doc->SectionCount(), 800);
  // Each thread takes every fourth section out, then frees them, while the
  // document itself goes on this one.
  std::vector<std::vector<TIniItem*>> taken(4);
  for (std::int32_t i = 0; i < doc->SectionCount(); ++i) taken[std::size_t(i % 4)].push_back(doc->Section(i));
  for (auto& part : taken)
    for (TIniItem*& s : part) s = doc->Extract(s);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (auto& part : taken)
    threads.emplace_back([&go, &part] {
      while (!go.load()) std::this_thread::yield();
      for (TIniItem* s : part) s->Free();
    });
  go.store(true);
  doc = nullptr;
  for (auto& th : threads) th.join();
}

TEST(IniThreads, SectionsReadLateByWhicheverThreadComesFirst) {
  // Every thread looks into every section, each starting elsewhere: each
  // section is read once, completed by the hook before anyone sees it.
  std::string text = "top=1\r\n";
  for (int s = 0; s < 200; ++s) {
    text += "[Slide" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 12; ++k) text += "key" + std::to_string(k) + "=" + std::to_string(s * 100 + k) + "\r\n";
    text += "object Image:Image\r\n  file=" + std::string(30, 'p') + std::to_string(s) + ".jpg\r\nend\r\n";
  }
  zm::THookScope<std::int32_t> lateBytes(IniLateBytes), partBytes(IniPartBytes);
  IniLateBytes = 1;
  IniPartBytes = 4096;
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(text));
  ASSERT_EQ(doc->SectionCount(), 200);
  std::atomic<int> hooked{0};
  doc->SetLateSectionHook([&](TIniSection& s) {
    hooked.fetch_add(1);
    s.GetOrAdd(u"done")->SetString(u"1");
  });
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 200; ++i) {
        const int s = (i + t * 25) % 200;
        TIniSection* sec = doc->Section(s);
        const int k = (i + t) % 12;
        if (IniGetInt(IniFind(sec, plat::FromUtf8("KEY" + std::to_string(k))), -1) != s * 100 + k) ++wrong;
        if (IniReadString(sec, u"done") != u"1" || sec->Count() != 14) ++wrong;
        if (IniReadString(IniFindObject(sec, u"image"), u"file") !=
            plat::FromUtf8(std::string(30, 'p') + std::to_string(s) + ".jpg"))
          ++wrong;
      }
    });
  go.store(true);
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(hooked.load(), 200);
}
