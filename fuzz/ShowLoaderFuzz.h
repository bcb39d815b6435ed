#pragma once
// Shared by the show-loader fuzz target and the test that runs its seeds.
// The input is a flags byte and a show description. The description goes
// into a container (served from memory) beside a few fixed entries, the show
// is opened, and every name its "FileMap" and "RotationState" lines mention
// is opened, mapped, turned and read; the show source is made and colour
// management applied. Aborts on a broken promise.
#include <cstdint>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
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
    TRef<TOruShowLocator> show = OpenContainerShow(kContainerName, error);
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
    for (const WideString& name : names) {
      source->MappedName(name);
      const std::int32_t r = source->RotationOf(name);
      Check(r == 1 || r == 3 || r == 6 || r == 8);
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
