// IPTC datasets read raw and from a JPEG's resource block: malformed data
// ends in EInvalidIPTCData (or EInvalidJPEGHeader for a file that is no JPEG)
// with the tags read before it; every question has an answer in its range.
#include <cstddef>
#include <cstdint>

#include "OruLib2/OruClasses/OruIptc.h"
#include "OruLib2/OruClasses/OruJpegSegments.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {

void Ask(oru::TIPTCData& d) {
  Check(d.Urgency() >= 0 && d.Urgency() <= 10);
  Check(d.EnvelopePriority() >= 0 && d.EnvelopePriority() <= 10);
  Check(d.ActionAdvised() >= 0 && d.ActionAdvised() <= 99);
  for (int ds : {5, 25, 55, 80, 90, 120}) {
    (void)d.GetString(std::uint8_t(ds));
    const double date = d.GetDate(2, std::uint8_t(ds));
    Check(date >= -693593 && date <= 2958465);  // years 1 to 9999
  }
  auto list = zm::MakeRef<zm::TStringList>();
  d.GetBylineValues(*list);
  Check(list->GetCount() >= std::int32_t(d.GetStrings(80).size()));
  d.GetContentLocationValues(*list);
  for (int r = 1; r <= 9; ++r) {
    const oru::TIPTCSection* s = d.Section(r);
    for (std::size_t i = 1; s->Sorted && i < s->Tags.size(); ++i) Check(s->Tags[i - 1]->Dataset <= s->Tags[i]->Dataset);
    for (const auto& t : s->Tags) (void)t->AsString();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru;
  if (size > (1 << 20)) return 0;
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (size) s->Write(zm::TWriteBuffer(data, size));
  auto d = zm::MakeRef<TIPTCData>();
  s->SetPosition(0);
  try {
    d->LoadFromStream(s.get());
    Check(s->GetPosition() <= std::int64_t(size));
  } catch (const EInvalidIPTCData&) {
  }
  Ask(*d);
  s->SetPosition(0);
  try {
    d->LoadFromJPEG(s.get());
  } catch (const EInvalidIPTCData&) {
  } catch (const EInvalidJPEGHeader&) {
  }
  Ask(*d);
  return 0;
}
