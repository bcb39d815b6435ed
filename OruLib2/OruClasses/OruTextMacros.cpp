#include "OruLib2/OruClasses/OruTextMacros.h"

#include <string>

#include "ZmLib/wpUnicode.h"

namespace oru {

namespace {

// Values the owner gives as they are.
const char16_t* const kDirectMacros[] = {
    u"<%SlideIndex%>",
    u"<%SlidesCount%>",
    u"<%MainImg.Width%>",
    u"<%MainImg.Height%>",
    u"<%MainImg.Exif.Comment%>",
    u"<%MainImg.Exif.Description%>",
    u"<%MainImg.PathNameExt%>",
    u"<%MainImg.IPTC.DocumentTitle%>",
    u"<%MainImg.IPTC.SpecialInstructions%>",
    u"<%MainImg.IPTC.AuthorByline%>",
    u"<%MainImg.IPTC.AuthorTitle%>",
    u"<%MainImg.IPTC.City%>",
    u"<%MainImg.IPTC.Sublocation%>",
    u"<%MainImg.IPTC.ProvinceState%>",
    u"<%MainImg.IPTC.Country%>",
    u"<%MainImg.IPTC.OTR%>",
    u"<%MainImg.IPTC.Headline%>",
    u"<%MainImg.IPTC.Credits%>",
    u"<%MainImg.IPTC.Source%>",
    u"<%MainImg.IPTC.Copyright%>",
    u"<%MainImg.IPTC.CaptionDescription%>",
    u"<%MainImg.IPTC.CaptionWriter%>",
};

constexpr char16_t kPathMacro[] = u"<%MainImg.PathNameExt%>";
constexpr char16_t kDateMacro[] = u"<%MainImg.Exif.Date%>";
constexpr char16_t kTimeMacro[] = u"<%MainImg.Exif.Time%>";

// IPTC macros and their record-2 datasets.
struct TIptcMacro {
  const char16_t* Macro;
  std::uint8_t Dataset;
};
const TIptcMacro kIptcMacros[] = {
    {u"<%MainImg.IPTC.DocumentTitle%>", 5},   {u"<%MainImg.IPTC.SpecialInstructions%>", 40},
    {u"<%MainImg.IPTC.AuthorByline%>", 80},   {u"<%MainImg.IPTC.AuthorTitle%>", 85},
    {u"<%MainImg.IPTC.City%>", 90},           {u"<%MainImg.IPTC.Sublocation%>", 92},
    {u"<%MainImg.IPTC.ProvinceState%>", 95},  {u"<%MainImg.IPTC.Country%>", 101},
    {u"<%MainImg.IPTC.OTR%>", 103},           {u"<%MainImg.IPTC.Headline%>", 105},
    {u"<%MainImg.IPTC.Credits%>", 110},       {u"<%MainImg.IPTC.Source%>", 115},
    {u"<%MainImg.IPTC.Copyright%>", 116},     {u"<%MainImg.IPTC.CaptionDescription%>", 120},
    {u"<%MainImg.IPTC.CaptionWriter%>", 122},
};

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

bool SameText(const WideString& a, const char16_t* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return i == a.size() && !b[i];
}

// The first place at or after from where macro stands, in any letter case.
std::size_t FindMacro(const WideString& text, const WideString& macro, std::size_t from) {
  if (macro.empty() || text.size() < macro.size()) return WideString::npos;
  for (std::size_t i = from; i + macro.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < macro.size() && FoldAscii(text[i + k]) == FoldAscii(macro[k])) ++k;
    if (k == macro.size()) return i;
  }
  return WideString::npos;
}

template <class F>
void ReplaceAll(WideString& text, const WideString& macro, F&& valueOf) {
  std::size_t at = FindMacro(text, macro, 0);
  while (at != WideString::npos) {
    text.erase(at, macro.size());
    const WideString value = valueOf();
    text.insert(at, value);
    at = FindMacro(text, macro, at + value.size());
  }
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::size_t LastSeparator(const WideString& path) {
  for (std::size_t i = path.size(); i-- > 0;)
    if (IsSeparator(path[i])) return i;
  return WideString::npos;
}

// The position of the extension's dot in the file-name part, or npos.
std::size_t ExtensionDot(const WideString& path) {
  const std::size_t sep = LastSeparator(path);
  const std::size_t dot = path.rfind(u'.');
  if (dot == WideString::npos || (sep != WideString::npos && dot < sep)) return WideString::npos;
  return dot;
}

WideString DecimalText(std::int64_t v) {
  const std::string s = std::to_string(v);
  return WideString(s.begin(), s.end());
}

}  // namespace

// ---- path forms -------------------------------------------------------------

WideString MacroFileNameExt(const WideString& path) {
  const std::size_t sep = LastSeparator(path);
  return sep == WideString::npos ? path : path.substr(sep + 1);
}

WideString MacroFileName(const WideString& path) {
  const WideString name = MacroFileNameExt(path);
  const std::size_t dot = name.rfind(u'.');
  return dot == WideString::npos ? name : name.substr(0, dot);
}

WideString MacroPathName(const WideString& path) {
  const std::size_t dot = ExtensionDot(path);
  return dot == WideString::npos ? path : path.substr(0, dot);
}

WideString MacroFolderPath(const WideString& path) {
  const std::size_t sep = LastSeparator(path);
  return sep == WideString::npos ? WideString() : path.substr(0, sep + 1);
}

WideString MacroFolderName(const WideString& path) {
  const std::size_t last = LastSeparator(path);
  if (last == WideString::npos) return {};
  const std::size_t before = LastSeparator(path.substr(0, last));
  if (before == WideString::npos) return {};
  return path.substr(before + 1, last - before - 1);
}

// ---- TMTParser ------------------------------------------------------------------

WideString TMTParser::Expand(const WideString& text) {
  ZM_ASSERT(static_cast<bool>(GetValue), "Macro parser without a value callback");
  WideString s = text;
  auto ask = [this](const WideString& macro) {
    WideString v;
    GetValue(macro, v);
    return v;
  };
  for (const char16_t* m : kDirectMacros) {
    const WideString macro = m;
    ReplaceAll(s, macro, [&] { return ask(macro); });
  }
  using TDerive = WideString (*)(const WideString&);
  const std::pair<const char16_t*, TDerive> pathForms[] = {
      {u"<%MainImg.FileName%>", MacroFileName},       {u"<%MainImg.PathName%>", MacroPathName},
      {u"<%MainImg.FileNameExt%>", MacroFileNameExt}, {u"<%MainImg.FolderPath%>", MacroFolderPath},
      {u"<%MainImg.FolderName%>", MacroFolderName},
  };
  for (const auto& form : pathForms) {
    const TDerive derive = form.second;
    ReplaceAll(s, form.first, [&] { return derive(ask(kPathMacro)); });
  }
  ReplaceAll(s, kDateMacro, [&] {
    const WideString v = ask(kDateMacro);
    return v.substr(0, v.find(u' '));
  });
  ReplaceAll(s, kTimeMacro, [&] {
    const WideString v = ask(kTimeMacro);
    const std::size_t blank = v.find(u' ');
    return blank == WideString::npos ? WideString() : v.substr(blank + 1);
  });
  if (s.empty()) s = u" ";
  return s;
}

// ---- TMacroResolver -----------------------------------------------------------

TMacroResolver::TMacroResolver(TMacroSlideFacts facts) : facts_(std::move(facts)) {}

void TMacroResolver::Dispose() {
  iptc_ = nullptr;
  facts_.OpenPicture = nullptr;
  TRefObject::Dispose();
}

TMacroValueProc TMacroResolver::Callback() {
  TRef<TMacroResolver> self(this);
  return [self](const WideString& macro, WideString& value) { self->GetValue(macro, value); };
}

void TMacroResolver::LoadMetadata() {
  if (loaded_) return;
  loaded_ = true;
  iptc_ = zm::MakeRef<TIPTCData>();
  if (!facts_.HasPicture || !facts_.OpenPicture) return;
  // Metadata is a nicety: a picture whose file cannot be read or whose
  // metadata is damaged simply has none (or what could be read).
  try {
    TRef<zm::TStream> stream = facts_.OpenPicture();
    if (!stream) return;
    exif_.Load(stream.get());
    stream->SetPosition(0);
    iptc_->LoadFromJPEG(stream.get());
  } catch (const zm::Exception&) {
  }
}

void TMacroResolver::GetValue(const WideString& macro, WideString& value) {
  value.clear();
  if (SameText(macro, u"<%SlideIndex%>")) {
    value = DecimalText(std::int64_t(facts_.SlideIndex) + 1);
    return;
  }
  if (SameText(macro, u"<%SlidesCount%>")) {
    value = DecimalText(facts_.SlidesCount);
    return;
  }
  if (!facts_.HasPicture) return;
  if (SameText(macro, kPathMacro)) {
    value = facts_.PicturePath;
  } else if (SameText(macro, u"<%MainImg.Width%>")) {
    value = DecimalText(facts_.PictureWidth);
  } else if (SameText(macro, u"<%MainImg.Height%>")) {
    value = DecimalText(facts_.PictureHeight);
  } else if (SameText(macro, kDateMacro) || SameText(macro, kTimeMacro)) {
    LoadMetadata();
    // When the picture was taken; an edited file may carry only its own date.
    value = zm::Trim(!exif_.DateTimeOriginal.empty() ? exif_.DateTimeOriginal
                     : !exif_.DateTime.empty()       ? exif_.DateTime
                                                     : exif_.DateTimeDigitized);
  } else if (SameText(macro, u"<%MainImg.Exif.Comment%>")) {
    LoadMetadata();
    value = zm::Trim(exif_.UserComment);
  } else if (SameText(macro, u"<%MainImg.Exif.Description%>")) {
    LoadMetadata();
    value = zm::Trim(exif_.ImageDescription);
  } else {
    for (const TIptcMacro& m : kIptcMacros) {
      if (!SameText(macro, m.Macro)) continue;
      LoadMetadata();
      value = zm::Trim(iptc_->GetString(m.Dataset));
      return;
    }
  }
}

}  // namespace oru
