// A whole show description through the show source: unknown keys, missing
// sections, falling or absurd times and slide counts either open with the
// defaults or fail with the source's assertion, whose words for the user are
// then there; the time line, the slide at a time, transitions and actions
// then answer for any index.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruClassesModules.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), oru::OruClassesModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  using namespace oru;
  if (size > 1 << 16) return 0;
  // Slide orders of earlier inputs are not kept.
  FiniSlideRandomList();
  InitSlideRandomList();

  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(data, size));
  // Counts up to the limit are the tests' business: here they would only
  // slow the search down.
  if (doc->ReadInteger(u"Times", u"opt_slidescount", 0) > 2000) return 0;
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source;
  // What a user is told of a refused description is the fault it is
  // refused for: a text exactly when the source fails.
  const WideString fault = TOruSource::DescriptionFault(doc.get());
  try {
    source = MakeRef<TOruSource>(accessor.get(), false, doc.get(), size % 2 == 1);
  } catch (const EAbort&) {
    Check(!fault.empty());
    return 0;  // "Incorrect time"
  }
  Check(fault.empty());
  source->UnseenSlidesNote();
  const std::int32_t count = source->SlideCount();
  Check(count >= 0 && count <= kMaxSlideCount);
  Check(source->ShowLength() >= 0);
  Check(source->RepeatMode() >= kRepeatLoop && source->RepeatMode() <= kRepeatStop);

  const std::int32_t probe = std::min<std::int32_t>(count, 64);
  for (std::int32_t i = -2; i < probe + 3; ++i) {
    TSlideSpan span;
    source->GetSlideSpan(i, span);
    Check(span.Start <= span.End);
    Check(span.OwnLength >= 0 && span.NextLength >= 0);
    if (i >= 0 && count > 0) Check(span.OwnLength <= span.End - span.Start + 1e-6 * std::fabs(span.End));
    if (i >= 0 && span.End > 0 && std::isfinite(span.End)) {
      std::int32_t at = source->SlideAtTime(span.End);
      TSlideSpan found;
      source->GetSlideSpan(at, found);
      Check(at >= 0 && at <= i && span.End <= found.End);
    }
    double t = 0;
    float sl = 0;
    TRef<TOruEffect> e = source->GetSlideEffect(i, t, sl);
    if (e) {
      Check(t > 0 && e->Kind >= 1 && e->Kind <= kEffectCustom && e->Variants >= 1);
    } else {
      Check(t == 0);
    }
    double d;
    source->GetSlideEndAction(i, d);
    Check(d >= 0);
    WideString fn;
    source->GetSlideRunApp(i, fn);
    source->SlideId(i);
  }
  for (double t : {-1e300, -1.0, 0.0, 1.0, 1e3, 1e6, 1e12, 1e300}) source->SlideAtTime(t);

  TORUEffectManager* m = source->EffectManager();
  for (std::int32_t i = 0; i < m->GetMainEntryCount() && i < 64; ++i) {
    TEffectProp* p = m->GetMainEntry(i);
    p->CheckedState();
    p->GetName();
    p->FirstCheckedSubDefinition();
  }
  FindVideoStartTime(doc.get(), u"{A}");
  FindVideoClipSection(doc.get(), u"{A}");
  return 0;
}
