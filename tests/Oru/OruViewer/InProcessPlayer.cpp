#include "tests/Oru/OruViewer/InProcessPlayer.h"

#include <mutex>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruViewer/OruDrawerHooks.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmHookScope.h"

namespace orutest {
namespace {

class TBoxRecorder : public zm::TWndAPI {
public:
  int MessageBox(zm::HWND, const zm::WideString& text, const zm::WideString& caption, zm::UINT) override {
    Boxes.push_back(plat::ToUtf8(caption) + ": " + plat::ToUtf8(text));
    return zm::IDOK;
  }
  std::vector<std::string> Boxes;
};

}  // namespace

TInProcessRun PlayInProcess(const zm::WideString& commandLine, std::uint32_t stepMs, const TFrameSeen& seen,
                            const std::string& captureDir, std::int64_t captureLimit, const TUiTick& uiTick) {
  using zm::TRef;
  TInProcessRun run;
  TRef<zm::TStringList> args = zm::MakeRef<zm::TStringList>();
  TRef<zm::TCommandsStorage> commands = zm::MakeRef<zm::TCommandsStorage>();
  zm::TStringsAdapter list(args.get());
  zm::ParseCommandLine(commandLine, list, *commands);

  TBoxRecorder boxes;
  zm::THookScope api(zm::WndAPIClass, &boxes);
  std::mutex lock;
  TRef<zm::TZmApplication> app = zm::MakeRef<zm::TZmApplication>();
  plat::SetFrameStepping(stepMs, captureDir, captureLimit);
  // Terminate once: every further request would leave a quit in this
  // thread's queue, ending the next run played here before its first frame.
  bool finished = false;
  plat::SetFrameObserver([&](std::int64_t, std::int64_t time, const std::uint32_t* bits, int w, int h) {
    std::lock_guard<std::mutex> l(lock);
    if (finished) return;
    if (seen(time, bits, w, h)) {
      finished = true;
      app->Terminate();
    }
  });
  app->Initialize();
  // The 3D engine sends work to the UI thread through the application that
  // was there when it was made: each run's application gets its own.
  zm::FiniDev3DApp2();
  zm::InitDev3DApp2();
  oru::InstallDrawerHooks();
  {
    TRef<oru::TMainForm> form = zm::MakeRef<oru::TMainForm>(*commands, args.get());
    form->Start();
    run.Started = form->Show() != nullptr;
    struct TTick {
      const TUiTick* Tick;
      oru::TMainForm* Form;
    } tick{&uiTick, form.get()};
    zm::TMultiTimerEvent* timer =
        uiTick ? zm::RegisterTimedCallback(
                     5, 0, [](void* data, zm::TMultiTimerEvent*) {
                       auto* t = static_cast<TTick*>(data);
                       (*t->Tick)(*t->Form);
                     },
                     &tick)
               : nullptr;
    app->Run();
    zm::ReleaseTimedCallback(timer);
    {
      std::lock_guard<std::mutex> l(lock);
      finished = true;
    }
    form = nullptr;
  }
  oru::RemoveDrawerHooks();
  zm::FiniDev3DApp2();
  zm::InitDev3DApp2();
  if (!app->Finalized()) app->Finalize();
  app = nullptr;
  plat::SetFrameObserver(nullptr);
  plat::SetFrameStepping(0);
  api.Restore();
  oru::SetCurrentShow(nullptr);
  run.Boxes = boxes.Boxes;
  return run;
}

}  // namespace orutest
