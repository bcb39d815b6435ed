// The print action's dialog on the frame the engine hands over: printing it,
// saving it, and no other action while the dialog is open.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruShowDialogs.h"
#include "Platform/PlatFiles.h"
#include "Platform/Print/PlatPrintRecorder.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Win32/winPrinters.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmHookScope.h"
#include "tests/Oru/OruViewer/TestShows.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"

namespace print_action_test {

using namespace oru;
using zm::TRef;

class TPrintBoxes : public zm::TWndAPI {
 public:
  int MessageBox(zm::HWND, const WideString& text, const WideString& caption, zm::UINT) override {
    Boxes.push_back(plat::ToUtf8(caption) + "|" + plat::ToUtf8(text));
    return zm::IDOK;
  }
  std::vector<std::string> Boxes;
};

struct TSteps : plat::IDialogDriver {
  std::vector<std::function<void(plat::HWND)>> Steps;
  std::size_t Count = 0;
  TSteps() { plat::SetDialogDriver(this); }
  ~TSteps() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    const std::size_t i = Count++;
    if (i < Steps.size() && Steps[i]) Steps[i](dialog);
  }
};

// A 48 x 32 picture as the engine hands it over.
TRef<zm::TImage> FrameImage() {
  auto dib = zm::MakeRef<zm::TFastDIB>();
  dib->UseDibSection = false;
  dib->SetSize(48, 32, 32);
  auto bmp = zm::MakeRef<zm::TMemoryStream>();
  dib->SaveToStream(bmp.get());
  bmp->SetPosition(0);
  return zm::LoadImageFromStream(bmp.get(), u"frame.bmp");
}

TEST(PrintAction, FramePrintedOrSavedAndActionsWaitForTheDialog) {
  zmtest::TTempDir dir;
  zmtest::TEnvGuard env;
  env.Set("XDG_DOCUMENTS_DIR", dir.Path().string());
  zmtest::TShowContainerWriter c;
  zmtest::TShowProjectWriter show;
  orutest::AddSlides(show);
  show.AddToContainer(c);
  c.WriteFile((dir.Path() / "a.orushow").string());

  TPrintBoxes boxes;
  zm::THookScope api(zm::WndAPIClass, &boxes);
  plat::print::TRecordingPrintBackend rec;
  rec.Printers = {"Office"};
  rec.Default = "Office";
  plat::print::TScopedPrintBackend use(rec);
  zm::FiniWinPrinters();
  {
    auto commands = zm::MakeRef<zm::TCommandsStorage>();
    auto form = zm::MakeRef<TMainForm>(*commands, nullptr);
    ASSERT_TRUE(form->OpenShow(dir.Wide("a.orushow"), true, 0, true, false));
    form->Show()->Description()->WriteInteger(u"Main", u"CanRestore", 1);
    TRef<zm::TImage> frame = FrameImage();
    ASSERT_TRUE(frame);
    TOruShowViewer* viewer = form->Viewer();
    ASSERT_TRUE(viewer->OnImage);

    TSteps driver;
    bool actionRan = true;
    WideString offered;
    driver.Steps = {[&](plat::HWND d) {
                      // No action while the dialog is open.
                      actionRan = form->RunAction(MakeActionInfo(acNextSlide, 0, u""));
                      plat::PressDialogId(d, idPrint);
                    },
                    [](plat::HWND d) { plat::PressDialogId(d, idSave); },
                    [&](plat::HWND d) {
                      offered = plat::DlgItemText(d, 100);
                      plat::SetDlgItemTextW(d, 100, dir.Wide("saved").c_str());
                      plat::PressDialogId(d, plat::IDOK);
                    }};
    viewer->OnImage(viewer, frame.get());
    EXPECT_FALSE(actionRan);
    ASSERT_EQ(rec.Jobs().size(), 1u);
    EXPECT_EQ(rec.Jobs()[0].Mode.dmOrientation, plat::print::DMORIENT_LANDSCAPE);
    ASSERT_EQ(rec.Jobs()[0].Draws.size(), 1u);
    EXPECT_EQ(rec.Jobs()[0].Draws[0].SrcW, 48);

    viewer->OnImage(viewer, frame.get());
    // Offered in the documents folder, where the name alone would go.
    const std::string place = (dir.Path() / "Slide1.bmp").string();
    EXPECT_EQ(offered, WideString(place.begin(), place.end()));
    const std::string saved = dir.Read("saved.bmp");
    ASSERT_GE(saved.size(), 26u);
    EXPECT_EQ(saved.substr(0, 2), "BM");
    EXPECT_EQ(std::uint8_t(saved[18]), 48);
    // Anything but a picture prints nothing.
    auto other = zm::MakeRef<zm::TMemoryStream>();
    driver.Steps.push_back([](plat::HWND d) { plat::PressDialogId(d, idPrint); });
    viewer->OnImage(viewer, other.get());
    EXPECT_EQ(rec.Jobs().size(), 1u);
    EXPECT_TRUE(boxes.Boxes.empty());
    form = nullptr;
  }
  zm::FiniWinPrinters();
  api.Restore();
  SetShowCache(WideString(), WideString());
  SetCurrentShow(nullptr);
}

}  // namespace print_action_test
