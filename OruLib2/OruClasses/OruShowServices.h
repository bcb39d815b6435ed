#pragma once
// Small services of an opened show that the slide objects and the player
// share: the container directory (sections such as "ffmpegdlls"), the
// show's "ExeGUID" text and the placeholder picture of video objects.
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

// The directory of the container a show was opened from; nil for a show
// of a project folder (or no show).
zm::TIniFile* ShowContainerDirectory(const TOruShowLocator* locator);

// The name of the entry that identifies the authoring of a show.
inline constexpr char16_t kExeGUIDEntry[] = u"ExeGUID";
// An "ExeGUID" larger than this is damage, not an identity.
constexpr std::int64_t kMaxExeGUIDSize = 4096;
// The whole "ExeGUID" entry as text: the UTF-16 text when the entry is a
// 32-bit byte length followed by that many bytes, else its bytes one
// character each. Empty when there is no accessor or entry, when the entry
// cannot be read, or when it is larger than kMaxExeGUIDSize.
WideString ReadShowExeGUID(TFileAccessor* accessor);

// The placeholder of a video object: "Video not found" (found false) or
// "Video load error:" above the file name.
zm::TRef<zm::TImage> RenderLoadErrorImage(const WideString& fileName, bool found);

}  // namespace oru
