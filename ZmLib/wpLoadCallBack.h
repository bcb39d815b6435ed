#pragma once
// The callback that long loops (image operations, loaders) poll: it may give
// up the processor, and it tells the loop whether to go on.
#include <cstdint>

namespace zm {

// 0 go on at once; 1 go on, yielding; 2 go on, sleeping 1 ms, the process at
// high priority; 3 stop.
void SetLoadCallbackMode(std::uint8_t mode);
std::uint8_t LoadCallbackMode();
// The priority class the process asked for (32 normal, 128 high).
std::uint32_t LoadCallbackPriorityClass();
// How often the callback has given up the processor.
std::uint32_t LoadCallbackYields();

using TLoadCallbackProc = bool (*)();
extern TLoadCallbackProc LoadCallbackProc;

// The object form of the callback; every mode uses TDefCallBack.
class TDefCallBack {
public:
  virtual ~TDefCallBack() = default;
  virtual bool Call() { return LoadCallbackProc(); }
};
extern TDefCallBack* LoadCallbackClass;

void InitLoadCallBack();
void FiniLoadCallBack();

}  // namespace zm
