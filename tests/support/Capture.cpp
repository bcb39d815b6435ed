#include "tests/support/Capture.h"

#include "Platform/PlatSystem.h"

namespace zmtest {

TDebugCapture::TDebugCapture() {
  plat::SetDebugOutputHook([this](std::string_view s) {
    std::lock_guard<std::mutex> g(m_);
    lines_.emplace_back(s);
  });
}

TDebugCapture::~TDebugCapture() { plat::SetDebugOutputHook(nullptr); }

std::vector<std::string> TDebugCapture::Lines() const {
  std::lock_guard<std::mutex> g(m_);
  return lines_;
}

bool TDebugCapture::Contains(const std::string& fragment) const {
  std::lock_guard<std::mutex> g(m_);
  for (const auto& l : lines_)
    if (l.find(fragment) != std::string::npos) return true;
  return false;
}

namespace {
int gAnswer = zm::IDOK;
std::mutex gBoxLock;
int CaptureBox(const std::u16string& text, const std::u16string& caption, std::uint32_t flags) {
  std::lock_guard<std::mutex> g(gBoxLock);
  TMessageBoxCapture::Boxes().push_back({text, caption, flags});
  return gAnswer;
}
}  // namespace

TMessageBoxCapture::TMessageBoxCapture(int answer) {
  gAnswer = answer;
  Boxes().clear();
  box_.Set(&CaptureBox);
}

std::vector<TMessageBoxCapture::TBox>& TMessageBoxCapture::Boxes() {
  static std::vector<TBox> boxes;
  return boxes;
}

}  // namespace zmtest
