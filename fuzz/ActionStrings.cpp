// Action strings come from show descriptions as written by anyone: any text
// parses to a record without a fault, the record keeps to what the command
// holds, and the keyword does not depend on letter case. The same bytes are
// read as the frame delays of an animated image.
#include <cstddef>
#include <cstdint>
#include <string>

#include "OruLib2/OruClasses/OruActions.h"
#include "OruLib2/OruClasses/OruAnimParams.h"
#include "ZmLib/wpUnicode.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru;
  if (size > 1 << 12) return 0;
  // Two bytes a character (UTF-16, low byte first), so that any code unit can occur.
  zm::WideString command;
  for (std::size_t i = 0; i + 1 < size; i += 2) command.push_back(char16_t(data[i] | data[i + 1] << 8));

  const TOruActionInfo info = ParseActionString(command);
  Check(info.Code <= acChangePrinter);
  Check(info.Text.size() <= command.size());
  if (info.Code == acNone) Check(info.IsEmpty());
  if (info.Code != acGotoSlide) Check(info.Value == 0);
  if (info.Code == acGotoSlide && !info.Text.empty() && info.Value != -1) {
    const std::string n = std::to_string(info.Value);
    const TOruActionInfo again = ParseActionString(u"GotoSlide(" + zm::WideString(n.begin(), n.end()) + u")");
    Check(again.Value == info.Value);
  }
  bool ascii = true;
  for (char16_t c : command) ascii = ascii && c < 128;
  if (ascii) {
    Check(ParseActionString(zm::UpperCase(command)).Code == info.Code);
    Check(ParseActionString(zm::LowerCase(command)).Code == info.Code);
  }

  TImageAnimationParams params;
  params.Enabled = 1;
  params.Count = size ? data[size - 1] : 0;  // the odd last byte when there is one
  params.Columns = command.empty() ? 1 : command[0] % 9;
  params.Rows = command.size() < 2 ? 1 : command[1] % 9;
  ParseFrameDelays(command, params);
  Check(params.Delays.size() == std::size_t(params.Count));
  for (std::int32_t d : params.Delays) Check(d >= 1);
  for (double t : {-5.0, 0.0, 99.5, 1e6, 1e300}) {
    const std::int32_t f = AnimationFrameAt(params, t);
    Check(f >= 0 && (f == 0 || f < params.Count));
  }
  return 0;
}
