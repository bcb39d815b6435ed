// Colour filters read from show text: every object block of the input that
// names a filter is bound, prepared, edited and applied to look-up tables.
// Damaged numbers, colours, ids and revisions must give working filters.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "ZmLib/zmIni.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules({zm::CoreModules(), zm::GraphicsModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 14) return 0;
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(data, size));
  TRef<TSysBitmap> table = CreateSysBitmap(64, 6, FindPixelFormat(PF_A8R8G8B8));
  for (std::int32_t y = 0; y < table->Height(); ++y)
    for (std::int32_t x = 0; x < table->Width(); ++x) table->Row32(y)[x] = std::uint32_t(x * 4 + y * 0x10300);

  TObjectFilter* chain = nullptr;
  int count = 0;
  for (TIniObject* o = doc->FirstObject(); o && count < 16; o = doc->NextObject(o), ++count) {
    TRef<TObjectFilter> f = CreateObjectFilter(o);
    if (!f) continue;
    Check(!f->Id().IsEmpty());
    TFilterParamList params = f->GetParams();
    Check(params && std::int32_t(params->size()) == f->GetParamCount());
    f->GetCaption();
    // Every parameter read back and written again (a text taken from the input).
    for (std::int32_t i = 0; i <= f->GetParamCount(); ++i) {
      const WideString old = f->GetParamText(i);
      f->SetParamText(i, size > 2 ? TByteString(data + 1, size / 3).ToWide() : u"7");
      f->SetParamText(i, old);
    }
    // Edits keep "id" and "$rev" in step with the filter.
    Check(f->Load(o));
    f->ApplyToBitmap(table.get(), 64, 1 + count % 6);
    for (std::int32_t y = 0; y < table->Height(); ++y) Check(table->ScanLine(y)[3] == 255);
    chain = PrependFilter(f.Detach(), chain);
  }
  const std::int32_t kind = GetFilterChainKind(chain);
  Check(kind >= fkNone && kind <= fkMixed);
  Check(kind != fkNone || !chain || chain->Disabled());
  GetFilterChainRevision(chain);
  ApplyFilterChain(chain, table.get(), 64, kind == fkMixed ? 6 : 1);
  chain = ReverseFilterChain(chain);
  TObjectFilter* tail = TakeFilterTail(chain);
  FreeFilterChain(tail);
  FreeFilterChain(chain);
  return 0;
}
