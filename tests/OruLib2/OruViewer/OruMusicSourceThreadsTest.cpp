// The records of a long show's slides made as the music player's threads
// first ask for them.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruViewer/OruMusicSource.h"
#include "ZmLib/zmHookScope.h"

using namespace oru;
using zm::TRef;

TEST(MusicSourceThreads, SlideRecordsMadeByWhicheverThreadAsksFirst) {
  const int slides = 200;
  std::string text = "[main]\r\nopt_repeat=repeat\r\nobject TheEffect:AnEffect\r\n  time=300\r\nend\r\n";
  text += "[Times]\r\nopt_slidescount=" + std::to_string(slides) + "\r\n";
  for (int i = 1; i <= slides; ++i) text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 1000) + "\r\n";
  for (int i = 1; i <= slides; ++i) {
    text += "[Slide" + std::to_string(i) + "]\r\nobject TheEffect:AnEffect\r\n  ref=default\r\nend\r\n";
    if (i % 4 == 0)
      text += "object Music:Music\r\n  object C:TSoundComment\r\n    FileName=c" + std::to_string(i) +
              ".mp3\r\n    Duration=700\r\n  end\r\nend\r\n";
  }
  zm::THookScope<std::int32_t> lateBytes(zm::IniLateBytes);
  zm::IniLateBytes = 1;
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(text));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TMappedFileSource>().get());
  TRef<TOruSource> show = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
  TRef<TOruMusicSource> music = zm::MakeRef<TOruMusicSource>(show.get());
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 4; ++r)
    threads.emplace_back([&, r] {
      while (!go.load()) std::this_thread::yield();
      for (int k = 0; k < slides; ++k) {
        const int i = r % 2 ? k : slides - 1 - k;
        const TSlideMusicInfo* info = music->Slide(i);
        if (!info || info->Span.Start != i * 1000 || info->Span.OwnLength != 300) ++wrong;
        if (info && (info->CommentLength == 700) != ((i + 1) % 4 == 0)) ++wrong;
      }
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
