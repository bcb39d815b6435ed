#pragma once
// Macros in slide texts ("<%SlideIndex%>", "<%MainImg.IPTC.City%>" ...):
// the parser finds and replaces them, asking its owner for raw values, and
// derives the file-name forms and the date and time parts itself. The
// resolver answers those raw values from what a text object knows of its
// slide and the slide's main picture.
#include <cstdint>
#include <functional>

#include "OruLib2/OruClasses/OruExif.h"
#include "OruLib2/OruClasses/OruIptc.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"

namespace oru {

using zm::TRef;
using zm::WideString;

// Sets value for one macro (given with its "<%" and "%>").
using TMacroValueProc = std::function<void(const WideString& macro, WideString& value)>;

class TMTParser : public zm::TRefObject {
public:
  TMTParser() = default;
  explicit TMTParser(TMacroValueProc getValue) : GetValue(std::move(getValue)) {}

  // Replaces every macro, in any letter case, macro by macro in a fixed
  // order. The search for a macro goes on after each inserted value, so a
  // value holding its own macro cannot make the expansion endless. An empty
  // result becomes " ". Without a callback: assertion.
  WideString Expand(const WideString& text);

  TMacroValueProc GetValue;
};

// The path forms the parser derives from the picture's full path. Both "\"
// and "/" separate folders.
WideString MacroFileName(const WideString& path);     // without folder and extension
WideString MacroPathName(const WideString& path);     // without extension
WideString MacroFileNameExt(const WideString& path);  // without folder
WideString MacroFolderPath(const WideString& path);   // with its trailing separator
WideString MacroFolderName(const WideString& path);   // the folder that holds the file

// What a text object knows when it expands its text.
struct TMacroSlideFacts {
  std::int32_t SlideIndex = 0;  // 0-based
  std::int32_t SlidesCount = 0;
  bool HasPicture = false;  // the slide has a main picture
  WideString PicturePath;
  std::int32_t PictureWidth = 0, PictureHeight = 0;
  // Opens the picture's file for its Exif and IPTC data; unset when the main
  // picture is not an image object's picture (no metadata then). May return nil.
  std::function<TRef<zm::TStream>()> OpenPicture;
};

class TMacroResolver : public zm::TRefObject {
public:
  explicit TMacroResolver(TMacroSlideFacts facts);
  void Dispose() override;

  // The raw value of a macro; an unknown macro or a missing fact gives empty.
  void GetValue(const WideString& macro, WideString& value);
  // A callback for TMTParser that holds this resolver.
  TMacroValueProc Callback();

  const TMacroSlideFacts& Facts() const { return facts_; }

private:
  void LoadMetadata();

  TMacroSlideFacts facts_;
  bool loaded_ = false;
  TExif exif_;
  TRef<TIPTCData> iptc_;
};

}  // namespace oru
