#include "OruLib2/OruClasses/OruShowLoader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include "OruLib2/OruClasses/OruGlyphCache.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/Graphics/winColorManagement.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/VectorGraphics/zmTextKeys.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

TLoadLcmsProc LoadLcmsHook = nullptr;
bool NoColorManagement = false;

namespace {

// The shared colour tables of the 3D layer follow the program's switch.
bool ProgramColorManaged() { return !NoColorManagement && ColorManagementEnabled.load(); }
zm::THookInstall<std::atomic<zm::TColorManagementOnProc>> gColorManagedHook;

// More "PathModifiers" entries than this are not read.
constexpr std::int32_t kMaxPathModifiers = 65536;

// ---- Loader state ------------------------------------------------------------------

std::mutex gLock;  // the current show, the stack, the substitutions, the forced profile
TRef<TOruShowLocator> gCurrent;
std::vector<TRef<TOruShowLocator>> gStack;
std::map<WideString, WideString> gSubstitutions;  // lower-cased container name -> project
TRef<TColorProfile> gForcedProfile;
std::atomic<bool> gColorManaged{false};
std::atomic<bool> gNotColorManaged{false};

// ---- Name map and rotation table ----------------------------------------------------

bool IsBlank(char16_t c) { return c <= u' '; }

WideString TrimBlanks(const WideString& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

WideString Unquote(const WideString& s) {
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') return s.substr(1, s.size() - 2);
  return s;
}

// The text of a section's line as it was written: "name=value" for keys,
// the text itself for comments and other text; empty for blocks.
WideString LineOf(std::uint8_t kind, std::string_view name, std::string_view value) {
  if (kind == kIniObjectLine) return {};
  if (kind == kIniTextLine) return BytesToWide(value);
  return BytesToWide(name) + u"=" + BytesToWide(value);
}

bool ParseFileMapLine(WideString line, WideString& name, WideString& target) {
  if (!line.empty() && line[0] == u';') line.erase(0, 1);
  bool quoted = false;
  std::size_t eq = WideString::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == u'"') quoted = !quoted;
    else if (line[i] == u'=' && !quoted) {
      eq = i;
      break;
    }
  }
  if (eq == WideString::npos) return false;
  name = Unquote(TrimBlanks(line.substr(0, eq)));
  target = Unquote(TrimBlanks(line.substr(eq + 1)));
  return !name.empty() && !target.empty();
}

bool ParseRotationLine(const WideString& line, WideString& name, std::int32_t& orientation) {
  if (line.size() < 2 || line[0] != u';' || line[1] != u'"') return false;
  std::size_t end = line.find(u"\"=", 2);
  if (end == WideString::npos) return false;
  name = line.substr(2, end - 2);
  if (name.empty() || !TryStrToInt(TrimBlanks(line.substr(end + 2)), orientation)) return false;
  return orientation == 1 || orientation == 3 || orientation == 6 || orientation == 8;
}

// ---- The same on plain ASCII bytes ----------------------------------------------------
// A long table's lines are read where they lie in the description's text,
// without a wide copy of each: for bytes below 128 every step gives what
// the steps above give on the decoded line (other bytes may decode to the
// quotes and signs looked for, so such lines take the steps above).

bool IsAscii(std::string_view bytes) {
  std::uint64_t any = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes.data() + i, sizeof w);
    any |= w;
  }
  for (; i < bytes.size(); ++i) any |= static_cast<std::uint8_t>(bytes[i]);
  return (any & 0x8080808080808080ull) == 0;
}

std::string_view TrimAsciiBlanks(std::string_view s) {
  while (!s.empty() && static_cast<std::uint8_t>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<std::uint8_t>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::string_view UnquoteAscii(std::string_view s) {
  return s.size() >= 2 && s.front() == '"' && s.back() == '"' ? s.substr(1, s.size() - 2) : s;
}

// As UpperCase maps plain letters.
void AsciiUpper(std::string_view s, std::string& out) {
  out.resize(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(s[i]);
    out[i] = static_cast<char>(c - (static_cast<std::uint8_t>(c - 'a') < 26 ? 32 : 0));
  }
}

WideString AsciiWide(std::string_view s) { return WideString(s.begin(), s.end()); }

// A "FileMap" line of plain ASCII (line: as LineOf writes it).
bool ParseAsciiFileMapLine(std::string_view line, std::string_view& name, std::string_view& target) {
  if (!line.empty() && line[0] == ';') line.remove_prefix(1);
  bool quoted = false;
  std::size_t eq = std::string_view::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == '=' && !quoted) {
      eq = i;
      break;
    }
  }
  if (eq == std::string_view::npos) return false;
  name = UnquoteAscii(TrimAsciiBlanks(line.substr(0, eq)));
  target = UnquoteAscii(TrimAsciiBlanks(line.substr(eq + 1)));
  return !name.empty() && !target.empty();
}

// A "RotationState" text line of plain ASCII; a key line never is one.
bool ParseAsciiRotationLine(std::string_view line, std::string_view& name, std::int32_t& orientation) {
  if (line.size() < 2 || line[0] != ';' || line[1] != '"') return false;
  const std::size_t end = line.find("\"=", 2);
  if (end == std::string_view::npos) return false;
  name = line.substr(2, end - 2);
  if (name.empty()) return false;
  const std::string_view number = TrimAsciiBlanks(line.substr(end + 2));
  // One digit reads as itself; anything longer as the wide steps read it.
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') orientation = number[0] - '0';
  else if (!TryStrToInt(AsciiWide(number), orientation)) return false;
  return orientation == 1 || orientation == 3 || orientation == 6 || orientation == 8;
}

// The image callback of a source with a rotation table: pictures of listed
// names load turned upright.
TRef<TImage> RotatedImage(void* data, TFileSource* source, const WideString& name) {
  const auto* self = static_cast<const TMappedFileSource*>(data);
  const std::int32_t orientation = self->RotationOf(name);
  TLevelFixUpProc fixUp = RotateBitmapProcFor(orientation);
  if (!fixUp) return nullptr;
  TStream* stream;
  {
    TLockScope guard(source->Lock());
    stream = source->OpenFile(name);
  }
  if (!stream) return nullptr;
  TImageLoadHandler handler;
  handler.FixUpFor = [fixUp](const WideString&) { return fixUp; };
  try {
    TRef<TBitmapStore> store = LoadBitmapStore(stream, name, true, handler);
    if (!store) return nullptr;
    // Quarter turns stand the picture on its side.
    if (orientation == 6 || orientation == 8) std::swap(store->Params.Width, store->Params.Height);
    return MakeRef<TImage>(store.get());
  } catch (const Exception&) {
    // The plain load that follows reports the damage.
    return nullptr;
  }
}

// ---- Colour management ------------------------------------------------------------

std::vector<std::uint8_t> ReadWholeStream(TStream* stream) {
  std::vector<std::uint8_t> data;
  const std::int64_t size = stream->GetSize() - stream->GetPosition();
  if (size <= 0 || size > kMaxProfileFileSize) return data;
  data.resize(static_cast<std::size_t>(size));
  std::int32_t got = stream->Read(TReadBuffer(data.data(), data.size()), static_cast<std::int32_t>(size), 0);
  data.resize(static_cast<std::size_t>(std::max(got, 0)));
  return data;
}

// A profile file of the show; nil when it is missing or empty.
TRef<TColorProfile> ShowProfile(TOruShowLocator* locator, const WideString& name) {
  std::vector<std::uint8_t> data;
  try {
    TRef<TStream> stream = TRef<TStream>::Adopt(locator->Accessor()->OpenFile(name));
    if (stream) data = ReadWholeStream(stream.get());
  } catch (const Exception&) {
    data.clear();
  }
  return ColorProfileFromData(data, name);
}

bool LoadsColorLibrary(TOruShowLocator* locator) { return LoadLcmsHook && LoadLcmsHook(locator); }

TRef<TColorProfile> ForcedProfileRef() {
  std::lock_guard<std::mutex> guard(gLock);
  return gForcedProfile;
}

}  // namespace

// ============================================================================
// TMappedFileSource
// ============================================================================

TMappedFileSource::TMappedFileSource() = default;

void TMappedFileSource::Dispose() {
  EndRotationThread();
  rotationHook_ = nullptr;
  map_.Clear();
  rotation_.Clear();
  TFileSource::Dispose();
}

void TMappedFileSource::LoadFileMap(TIniSection* section) {
  if (!section) return;
  std::string line, upper;
  section->ForEachLine([&](std::uint8_t kind, std::string_view key, std::string_view value) {
    if (kind == kIniObjectLine) return true;
    if (IsAscii(key) && IsAscii(value)) {
      line.assign(key);
      if (kind == kIniKeyLine) line += '=';
      line += value;
      std::string_view name, target;
      if (!ParseAsciiFileMapLine(line, name, target)) return true;
      AsciiUpper(name, upper);
      map_.AddAscii(upper, 0, target);
      return true;
    }
    WideString name, target;
    if (ParseFileMapLine(LineOf(kind, key, value), name, target)) map_.Add(UpperCase(name), 0, target);
    return true;
  });
  map_.MakeIndex();
}

namespace {
// A long table's lines are read in parts of at least this many bytes, side
// by side on up to kTableParts threads.
constexpr std::int32_t kTableParts = 4;
constexpr std::int32_t kTablePartBytes = 1 << 20;
}  // namespace

void TMappedFileSource::ReadRotationLines(TIniSection* section, TNameTable& table) {
  std::vector<TNameTable> parts;
  std::vector<std::string> uppers;
  section->ForEachLineInParts(
      std::min<std::int32_t>(kTableParts, std::max<std::int32_t>(GetProcessorCount(), 1)), kTablePartBytes,
      [&](std::int32_t n) {
        parts.clear();
        parts.resize(static_cast<std::size_t>(n));
        uppers.assign(static_cast<std::size_t>(n), std::string());
      },
      [&](std::int32_t part, std::uint8_t kind, std::string_view key, std::string_view value) {
        if (kind == kIniObjectLine) return;
        TNameTable& into = parts[static_cast<std::size_t>(part)];
        std::int32_t orientation = 0;
        if (IsAscii(key) && IsAscii(value)) {
          std::string_view name;
          if (kind == kIniTextLine && ParseAsciiRotationLine(value, name, orientation)) {
            std::string& upper = uppers[static_cast<std::size_t>(part)];
            AsciiUpper(name, upper);
            into.AddAscii(upper, orientation);
          }
          return;
        }
        WideString name;
        if (ParseRotationLine(LineOf(kind, key, value), name, orientation)) into.Add(UpperCase(name), orientation);
      });
  for (TNameTable& part : parts) table.Append(std::move(part));
  table.MakeIndex();
}

void TMappedFileSource::LoadRotationTable(TIniSection* section) {
  if (!section) return;
  WaitForRotation();
  EndRotationThread();
  // A long description's table is read beside the rest of the opening; the
  // section and its document's text are held meanwhile.
  if (section->Pending() && section->Owner()) {
    struct TWork {
      TRef<TIniList> Section, Document;
      TNameTable Table;
    };
    auto work = std::make_shared<TWork>();
    work->Section = TRef<TIniList>(section);
    work->Document = TRef<TIniList>(section->Owner());
    work->Table = std::move(rotation_);
    rotation_ = TNameTable();
    rotationReady_.store(false, std::memory_order_release);
    rotationStop_.Reset();
    if (!rotationHook_) rotationHook_ = AddCallback(&RotatedImage, this);
    auto fill = [this, work] {
      {
        TLoadStopScope scope(&rotationStop_);
        try {
          ReadRotationLines(static_cast<TIniSection*>(work->Section.get()), work->Table);
        } catch (const ELoadStopped&) {
          work->Table.Clear();  // the source goes
        } catch (const std::exception& e) {
          LogLine(u"RotationState not read: " + UTF8Decode(TByteString(e.what())));
          work->Table.Clear();
        } catch (...) {
          LogLine(u"RotationState not read");
          work->Table.Clear();
        }
      }
      work->Section = nullptr;
      work->Document = nullptr;
      std::lock_guard<std::mutex> guard(rotationLock_);
      rotation_ = std::move(work->Table);
      rotationReady_.store(true, std::memory_order_release);
      rotationMade_.notify_all();
    };
    try {
      rotationThread_ = std::thread(fill);
    } catch (const std::system_error&) {
      fill();  // no thread to spare: read here
    }
    return;
  }
  const std::size_t before = rotation_.EntryCount();
  ReadRotationLines(section, rotation_);
  if (rotation_.EntryCount() > before && !rotationHook_) rotationHook_ = AddCallback(&RotatedImage, this);
}

void TMappedFileSource::WaitForRotation() const {
  if (rotationReady_.load(std::memory_order_acquire)) return;
  std::unique_lock<std::mutex> guard(rotationLock_);
  rotationMade_.wait(guard, [this] { return rotationReady_.load(std::memory_order_acquire); });
}

void TMappedFileSource::EndRotationThread() {
  if (!rotationThread_.joinable()) return;
  rotationStop_.Request();
  rotationThread_.join();
}

WideString TMappedFileSource::MappedName(const WideString& name) const {
  std::int32_t value = 0;
  WideString target;
  return !name.empty() && map_.Find(UpperCase(name), value, &target) ? target : WideString();
}

std::int32_t TMappedFileSource::RotationOf(const WideString& name) const {
  std::int32_t orientation = 1;
  if (name.empty()) return orientation;
  WaitForRotation();
  rotation_.Find(UpperCase(name), orientation);
  return orientation;
}

namespace {

// The way OpenFile follows a name: through the map, and cut at its first
// "|" when the name as it is gives nothing; Try gives a result or Nothing.
template <class Result, class Try>
Result FollowName(const TMappedFileSource& source, const WideString& name, Result nothing, Try attempt) {
  WideString n = name;
  for (std::int32_t step = 0; step < kMaxNameSteps && !n.empty(); ++step) {
    WideString mapped = source.MappedName(n);
    if (!mapped.empty()) {
      n = std::move(mapped);
      continue;
    }
    Result r = attempt(n);
    if (r != nothing) return r;
    std::size_t bar = n.find(u'|');
    if (bar == WideString::npos) return nothing;
    n.resize(bar);
  }
  return nothing;
}

// A file or a folder: a folder in a file's place is opened (and refused,
// with a line in the log) rather than passed over.
bool NameExists(const WideString& path) { return FileExists(path) || DirectoryExists(path); }

// The disk path of a name: its path variables expanded, a relative one
// found in the root folder first; empty when there is nothing to look for.
WideString DiskPathOf(const WideString& rootFolder, const WideString& name) {
  WideString path = ExpandPathVars(name);
  if (path.empty() || rootFolder.empty()) return path;
  WideString inRoot = zm::ResolveRelativePath(rootFolder, path);
  return inRoot != path && NameExists(inRoot) ? inRoot : path;
}

}  // namespace

namespace {

// A text's stored outlines are entries of a show container, never files of
// a folder: a folder show is not searched for them (a search of its folders
// for every text).
bool StoredOutlinesName(const WideString& name) {
  return name.starts_with(zm::kVectorTextKeyPrefix) || name.starts_with(kVectorTextCachePrefix);
}

}  // namespace

TStream* TMappedFileSource::OpenDiskFile(const WideString& name) const {
  if (StoredOutlinesName(name)) return nullptr;
  const WideString path = DiskPathOf(rootFolder_, name);
  return !path.empty() && NameExists(path) ? OpenFileForReading(path) : nullptr;
}

std::int64_t TMappedFileSource::DiskFileSize(const WideString& name) const {
  if (StoredOutlinesName(name)) return -1;
  const WideString path = DiskPathOf(rootFolder_, name);
  return path.empty() ? -1 : FileSizeOf(path);
}

TStream* TMappedFileSource::OpenResolved(const WideString& name) {
  return name.find(u'|') == WideString::npos ? OpenDiskFile(name) : nullptr;
}

std::int64_t TMappedFileSource::ResolvedSize(const WideString& name) {
  return name.find(u'|') == WideString::npos ? DiskFileSize(name) : -1;
}

TStream* TMappedFileSource::OpenFile(const WideString& name) {
  return FollowName<TStream*>(*this, name, nullptr, [this](const WideString& n) { return OpenResolved(n); });
}

std::int64_t TMappedFileSource::FileSize(const WideString& name) {
  return FollowName<std::int64_t>(*this, name, -1, [this](const WideString& n) { return ResolvedSize(n); });
}

// ============================================================================
// TPackedFileSource
// ============================================================================

TPackedFileSource::TPackedFileSource(TOruUnpack* unpack, bool ownsUnpack) : unpack_(unpack), ownsUnpack_(ownsUnpack) {}

void TPackedFileSource::Dispose() {
  TOruUnpack* unpack = std::exchange(unpack_, nullptr);
  if (ownsUnpack_ && unpack) unpack->Free();
  ownsUnpack_ = false;
  TMappedFileSource::Dispose();
}

namespace {

TStream* OpenEntry(TOruUnpack* unpack, const WideString& name) {
  std::int64_t position = 0, size = 0;
  std::uint8_t method = 0;
  if (!unpack || !unpack->FindEntry(name, position, method, size)) return nullptr;
  TRef<TFileStream> file = unpack->OpenContainerFile();
  if (!file) return nullptr;
  TRef<TStream> s = TOruUnpack::OpenEntryStream(file.Detach(), method, true, unpack->Key(), position, size);
  if (!s) return nullptr;
  TPartialStream* window = nullptr;
  if (auto* crypt = dynamic_cast<TCryptStream*>(s.get())) {
    window = dynamic_cast<TPartialStream*>(crypt->Source());
  } else if (!(window = dynamic_cast<TPartialStream*>(s.get()))) {
    // An inflated entry held in memory.
    const std::int64_t whole = s->GetSize();
    s = MakeRef<TPartialStream>(s.Detach(), true, 0, whole);
    window = static_cast<TPartialStream*>(s.get());
  }
  if (window) window->SetReadCallback(kLoadCallbackBlockSize, &LoadCallbackRead, nullptr);
  return s.Detach();
}

}  // namespace

TStream* TPackedFileSource::OpenFile(const WideString& name) { return TMappedFileSource::OpenFile(name); }

std::int64_t TPackedFileSource::ResolvedSize(const WideString& name) {
  {
    std::lock_guard<std::mutex> guard(damagedLock_);
    if (damaged_.count(UpperCase(name))) return -1;
  }
  std::int64_t position = 0, size = 0;
  std::uint8_t method = 0;
  return unpack_ && unpack_->FindEntry(name, position, method, size) && size >= 0 ? size : -1;
}

TStream* TPackedFileSource::OpenResolved(const WideString& name) {
  const WideString key = UpperCase(name);
  {
    std::lock_guard<std::mutex> guard(damagedLock_);
    if (auto it = damaged_.find(key); it != damaged_.end()) {
      EStreamError e;
      e.SetMessage(it->second);
      throw e;
    }
  }
  try {
    return OpenEntry(unpack_, name);
  } catch (const EStreamError& e) {
    // The data is what it is: reading it again (a deflate bomb inflated
    // on every try) would only fail again.
    bool first;
    {
      std::lock_guard<std::mutex> guard(damagedLock_);
      first = damaged_.emplace(key, e.Message()).second;
    }
    if (first) LogLine(u"Damaged entry \"" + name + u"\": " + UTF8Decode(TByteString(e.what())));
    throw;
  }
}

// ============================================================================
// TOruShowLocator
// ============================================================================

TOruShowLocator::TOruShowLocator(TFileAccessor* accessor, const WideString& fileName, bool ownsAccessor)
    : accessor_(accessor), ownsAccessor_(ownsAccessor), descriptionName_(fileName) {
  ZM_ASSERT(accessor, "TOruShowLocator.Create - Accessor not Assigned");
  try {
    TRef<TIniFile> description = MakeRef<TIniFile>();
    // Their lines are read where they lie in the text.
    description->KeepPending({u"FileMap", u"RotationState"});
    bool loaded = false;
    try {
      TRef<TStream> stream = TRef<TStream>::Adopt(accessor_->OpenFile(fileName));
      loaded = stream && description->LoadFromStream(stream.get());
    } catch (const EStreamError&) {
      loaded = false;  // a damaged entry
    } catch (const EFileError&) {
      loaded = false;
    }
    if (!loaded) return;
    description_ = description;
    version_ = description_->ReadString(u"main", u"OruVersion", u"");
    if (auto* mapped = dynamic_cast<TMappedFileSource*>(accessor_->Source())) {
      mapped->LoadFileMap(description_->FindSection(u"FileMap"));
      mapped->LoadRotationTable(description_->FindSection(u"RotationState"));
    }
  } catch (...) {
    // A locator that fails still frees what it was given to own.
    if (ownsAccessor_) FreeObject(std::exchange(accessor_, nullptr));
    throw;
  }
}

void TOruShowLocator::Dispose() {
  source_ = nullptr;
  description_ = nullptr;
  TFileAccessor* accessor = std::exchange(accessor_, nullptr);
  if (ownsAccessor_ && accessor) accessor->Free();
  ownsAccessor_ = false;
  TRefObject::Dispose();
}

TOruSource* TOruShowLocator::GetSource() {
  std::lock_guard<std::mutex> guard(sourceLock_);
  if (!source_) {
    // The source holds the accessor and the description itself: an engine
    // still playing the show may outlive the locator.
    const bool hold = accessor_ && description_;
    if (hold) {
      accessor_->AddRef();
      description_->AddRef();
    }
    source_ = MakeRef<TOruSource>(accessor_, hold, description_.get());
  }
  return source_.get();
}

// ============================================================================
// Opening
// ============================================================================

namespace {

WideString SubstitutionFor(const WideString& containerName) {
  std::lock_guard<std::mutex> guard(gLock);
  auto it = gSubstitutions.find(LowerCase(containerName));
  return it == gSubstitutions.end() ? WideString() : it->second;
}

void ApplyPathModifiers(TIniSection* section) {
  const std::int32_t count = std::min(IniGetInt(section->Find(u"Count"), 0), kMaxPathModifiers);
  TPathVarTable table;
  for (std::int32_t i = 0; i < count; ++i) {
    const WideString n = IntToStr(i);
    WideString env = section->ReadString(u"Env" + n);
    if (env.empty()) continue;  // a variable without a name is never met
    RegisterPathVar(table, env, section->ReadString(u"Path" + n), section->ReadString(u"Def" + n) == u"1");
  }
  SetPathVars(table);
}

}  // namespace

TRef<TOruShowLocator> OpenContainerShow(const WideString& fileName, WideString& errorText) {
  errorText.clear();
  WideString project = SubstitutionFor(fileName);
  if (!project.empty()) return OpenProjectShow(project);

  TRef<TOruUnpack> unpack;
  try {
    unpack = MakeRef<TOruUnpack>(fileName);
  } catch (const EFileError&) {
    return nullptr;  // no such file: the caller names what it tried
  } catch (const EStreamError&) {
    errorText = u"Slide-show File Damaged";
    return nullptr;
  }
  if (!unpack->HasShow()) {
    errorText = unpack->ErrorText();
    return nullptr;
  }
  TRef<TPackedFileSource> source = MakeRef<TPackedFileSource>(unpack.Detach(), true);
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  accessor->SetBaseFolder(ExtractFilePath(fileName, true));
  TRef<TOruShowLocator> locator = MakeRef<TOruShowLocator>(accessor.Detach(), u"Project.oru", true);
  if (!locator->Description()) {
    errorText = u"Executable SlideShow Open Error";
    return nullptr;
  }
  locator->SetFromContainer(true);
  ApplyShowColorManagement(locator.get());
  return locator;
}

TRef<TOruShowLocator> OpenProjectShow(const WideString& fileName) {
  TRef<TMappedFileSource> source = MakeRef<TMappedFileSource>();
  source->SetRootFolder(ExtractFilePath(zm::ResolveRelativePath(zm::GetCurrentDir(true), fileName), true));
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  TRef<TOruShowLocator> locator = MakeRef<TOruShowLocator>(accessor.Detach(), fileName, true);
  TIniFile* description = locator->Description();
  if (!description) return nullptr;
  locator->Accessor()->SetBaseFolder(ExtractFilePath(description->ReadString(u"main", u"opt_exefn", u""), true));
  if (TIniSection* modifiers = description->FindSection(u"PathModifiers")) ApplyPathModifiers(modifiers);
  ApplyShowColorManagement(locator.get());
  return locator;
}

void RegisterProjectSubstitution(const WideString& containerName, const WideString& projectPath) {
  std::lock_guard<std::mutex> guard(gLock);
  if (projectPath.empty()) gSubstitutions.erase(LowerCase(containerName));
  else gSubstitutions[LowerCase(containerName)] = projectPath;
}

// ============================================================================
// Colour management
// ============================================================================

void ApplyShowColorManagement(TOruShowLocator* locator) {
  gColorManaged = false;
  gNotColorManaged = false;
  if (!locator) return;
  TIniFile* description = locator->Description();
  WideString v = description ? description->ReadString(u"main", u"ColorManagement", u"") : WideString();
  if (NoColorManagement || v.empty()) {
    gNotColorManaged = true;
    return;
  }
  TRef<TColorProfile> forced = ForcedProfileRef();
  if (v == u"*" && !forced) {
    SetDisplayColorProfile(FunkyRGBProfile(), false);
    return;
  }
  if (!LoadsColorLibrary(locator)) return;
  if (forced) {
    SetDisplayColorProfile(forced.get(), false);
  } else {
    TRef<TColorProfile> profile;
    bool monitor = false;
    if (v == u"?") {
      v.clear();
      monitor = MonitorProfilePathHook && MonitorProfilePathHook(0, v);
    }
    if (SameText(v, u"sRGB")) profile = TRef<TColorProfile>(sRGBProfile());
    else if (SameText(v, u"AdobeRGB")) profile = TRef<TColorProfile>(AdobeRGBProfile());
    else if (SameText(v, u"FunkyRGB")) profile = TRef<TColorProfile>(FunkyRGBProfile());
    else if (monitor) profile = ColorProfileFromData(LoadFileToBytes(v), v);  // a disk file, not one of the show
    else if (!v.empty()) profile = ShowProfile(locator, v);
    SetDisplayColorProfile(profile.get(), false);
  }
  gColorManaged = true;
}

bool ShowColorManaged() { return gColorManaged; }
bool ShowNotColorManaged() { return gNotColorManaged; }

TColorProfile* ForcedOutputProfile() {
  std::lock_guard<std::mutex> guard(gLock);
  return gForcedProfile.get();
}

void SetForcedOutputProfile(TColorProfile* profile) {
  TRef<TColorProfile> old;
  std::lock_guard<std::mutex> guard(gLock);
  old = std::exchange(gForcedProfile, TRef<TColorProfile>(profile));
}

// ============================================================================
// The current show
// ============================================================================

TOruShowLocator* CurrentShow() {
  std::lock_guard<std::mutex> guard(gLock);
  return gCurrent.get();
}

TRef<TOruShowLocator> CurrentShowRef() {
  std::lock_guard<std::mutex> guard(gLock);
  return gCurrent;
}

void SetCurrentShow(TOruShowLocator* locator) {
  TRef<TOruShowLocator> old;
  std::lock_guard<std::mutex> guard(gLock);
  old = std::exchange(gCurrent, TRef<TOruShowLocator>(locator));
}

void PushShow(TOruShowLocator* locator) {
  std::lock_guard<std::mutex> guard(gLock);
  gStack.push_back(std::exchange(gCurrent, TRef<TOruShowLocator>(locator)));
}

void PopShow() {
  TRef<TOruShowLocator> old, current;
  {
    std::lock_guard<std::mutex> guard(gLock);
    if (gStack.empty()) return;
    old = std::exchange(gCurrent, std::move(gStack.back()));
    gStack.pop_back();
    current = gCurrent;
  }
  // Outside the lock: the colour library hook may take its time.
  ApplyShowColorManagement(current.get());
}

std::int32_t ShowStackDepth() {
  std::lock_guard<std::mutex> guard(gLock);
  return static_cast<std::int32_t>(gStack.size());
}

void InitShowLoader() {
  gColorManaged = false;
  gNotColorManaged = false;
  gColorManagedHook.Install(zm::ColorManagementOnHook, &ProgramColorManaged);
}

void FiniShowLoader() {
  std::vector<TRef<TOruShowLocator>> stack;
  TRef<TOruShowLocator> current;
  TRef<TColorProfile> forced;
  {
    std::lock_guard<std::mutex> guard(gLock);
    stack.swap(gStack);
    current = std::move(gCurrent);
    forced = std::move(gForcedProfile);
    gSubstitutions.clear();
  }
  current = nullptr;
  while (!stack.empty()) stack.pop_back();
  forced = nullptr;
  gColorManagedHook.Restore();
}

}  // namespace oru
