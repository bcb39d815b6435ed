#pragma once
// Shared by the show-loader fuzz target and the test that runs its seeds.
// The input is a flags byte and a show description. The description goes
// into a container (served from memory) beside a few fixed entries, the show
// is opened, and every name its "FileMap" and "RotationState" lines mention
// is opened, mapped, turned and read, and each table answers as the lines
// read the plain way give; the show source is made and colour management
// applied. Flag 8 reads the description as a long text is read. Aborts on a
// broken promise.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "fuzz/ShowContainerFuzz.h"

namespace zmfuzz {

inline bool AlwaysLoadsLcms(oru::TOruShowLocator*) { return true; }

// The names a section's items mention: the key, the value, and every text
// between two double quotes.
inline std::vector<zm::WideString> MentionedNames(zm::TIniSection* section) {
  std::vector<zm::WideString> names;
  if (!section) return names;
  for (std::int32_t i = 0; i < section->Count() && i < 64; ++i) {
    zm::TIniItem* item = section->Get(i);
    if (item->IsList()) continue;
    zm::WideString value = item->GetString();
    names.push_back(item->GetName());
    names.push_back(value);
    std::size_t open = value.find(u'"');
    while (open != zm::WideString::npos && names.size() < 256) {
      std::size_t close = value.find(u'"', open + 1);
      if (close == zm::WideString::npos) break;
      names.push_back(value.substr(open + 1, close - open - 1));
      open = value.find(u'"', close + 1);
    }
  }
  return names;
}

// The tables as the plain way reads them from the sections' items, each line
// written out as it stands ("name=value" for a key) and parsed as wide text;
// the first line of a name counts.
struct TReferenceTables {
  std::map<zm::WideString, std::int32_t> Rotation;
  std::map<zm::WideString, zm::WideString> Map;
};

inline zm::WideString TrimmedBlanks(const zm::WideString& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && s[a] <= u' ') ++a;
  while (b > a && s[b - 1] <= u' ') --b;
  return s.substr(a, b - a);
}

inline zm::WideString Unquoted(const zm::WideString& s) {
  return s.size() >= 2 && s.front() == u'"' && s.back() == u'"' ? s.substr(1, s.size() - 2) : s;
}

inline TReferenceTables ReadReferenceTables(zm::TIniFile* description) {
  using namespace zm;
  TReferenceTables t;
  auto lines = [&](const char16_t* name, auto take) {
    TIniSection* section = description->FindSection(name);
    for (std::int32_t i = 0; section && i < section->Count(); ++i) {
      const TIniItem* item = section->Get(i);
      if (item->IsList()) continue;
      take(item->Name().IsEmpty() ? item->GetString() : item->GetName() + u"=" + item->GetString());
    }
  };
  lines(u"RotationState", [&](const WideString& line) {
    if (line.size() < 2 || line[0] != u';' || line[1] != u'"') return;
    const std::size_t end = line.find(u"\"=", 2);
    std::int32_t n = 0;
    if (end == WideString::npos || end == 2 || !TryStrToInt(TrimmedBlanks(line.substr(end + 2)), n)) return;
    if (n == 1 || n == 3 || n == 6 || n == 8) t.Rotation.emplace(UpperCase(line.substr(2, end - 2)), n);
  });
  lines(u"FileMap", [&](WideString line) {
    if (!line.empty() && line[0] == u';') line.erase(0, 1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == u'"') quoted = !quoted;
      if (line[i] != u'=' || quoted) continue;
      const WideString name = Unquoted(TrimmedBlanks(line.substr(0, i)));
      const WideString target = Unquoted(TrimmedBlanks(line.substr(i + 1)));
      if (!name.empty() && !target.empty()) t.Map.emplace(UpperCase(name), target);
      return;
    }
  });
  return t;
}

inline bool CheckShowLoader(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  using namespace oru;
  if (size < 1) return true;
  const std::uint8_t flags = data[0];
  zmtest::TShowContainerWriter w;
  w.TrailerForm = (flags & 1) ? 2 : 1;
  w.Add("Project.oru", std::string(reinterpret_cast<const char*>(data + 1), size - 1),
        (flags & 2) ? zmtest::kStored : zmtest::kDeflated);
  w.Add("b.txt", "bee", zmtest::kEnciphered);
  w.Add("pics\\c.jpg", "not a picture", zmtest::kStored);
  w.Add("d.icc", std::string(200, 'i'), zmtest::kDeflated);

  TRef<TMemoryFileAPI> api = MakeRef<TMemoryFileAPI>(w.Bytes());
  TRef<TFileAPI> savedApi = FileAPIClass;
  const TLoadLcmsProc savedLcms = LoadLcmsHook;
  FileAPIClass = api;
  LoadLcmsHook = (flags & 4) ? &AlwaysLoadsLcms : nullptr;
  struct TRestore {
    TRef<TFileAPI>& Api;
    TLoadLcmsProc Lcms;
    ~TRestore() {
      FileAPIClass = Api;
      LoadLcmsHook = Lcms;
      SetDisplayColorProfile(nullptr, false);
    }
  } restore{savedApi, savedLcms};

  {
    WideString error;
    TRef<TOruShowLocator> show;
    {
      // Also as a long text is read: the tables where their lines lie in it.
      THookScope<std::int32_t> late(IniLateBytes);
      if (flags & 8) IniLateBytes = 1;
      show = OpenContainerShow(kContainerName, error);
    }
    // Any text reads as a description.
    Check(show && error.empty() && show->FromContainer() && show->Description());
    TIniFile* description = show->Description();
    if (description->ReadString(u"main", u"ColorManagement", u"").empty())
      Check(ShowNotColorManaged() && !ShowColorManaged());

    auto* source = dynamic_cast<TPackedFileSource*>(show->Accessor()->Source());
    Check(source != nullptr);
    std::vector<WideString> names = MentionedNames(description->FindSection(u"FileMap"));
    for (const WideString& n : MentionedNames(description->FindSection(u"RotationState"))) names.push_back(n);
    names.push_back(u"b.txt");
    const TReferenceTables reference = ReadReferenceTables(description);
    for (const WideString& name : names) {
      const WideString upper = UpperCase(name);
      const auto mapped = reference.Map.find(upper);
      Check(source->MappedName(name) == (name.empty() || mapped == reference.Map.end() ? WideString() : mapped->second));
      const std::int32_t r = source->RotationOf(name);
      const auto turned = reference.Rotation.find(upper);
      Check(r == (name.empty() || turned == reference.Rotation.end() ? 1 : turned->second));
      // The entries are sound: nothing here raises.
      TRef<TStream> s = TRef<TStream>::Adopt(source->OpenFile(name));
      std::uint8_t buf[512];
      while (s && s->Read(TReadBuffer(buf), sizeof buf, 0) > 0) {
      }
      source->CallImageCallbacks(name);
    }
    if (description->ReadInteger(u"Times", u"opt_slidescount", 0) <= 2000) {
      try {
        show->GetSource();
      } catch (const EAbort&) {
        // "Incorrect time"
      }
    }
  }
  Check(api->OpenHandles() == 0);  // every entry's handle went with its stream
  return true;
}

}  // namespace zmfuzz
