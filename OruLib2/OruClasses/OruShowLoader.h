#pragma once
// Opening a show from one of its two homes, a container (appended to the
// program or in a file of its own) or a project folder on disk, and handing
// the player one TOruShowLocator: the show description, the file accessor
// every file of the show is opened through, and the show source (made on
// first use). Opening also applies the show's colour management.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruUnpack.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLists.h"

namespace oru {

class TOruSource;

// Steps a name may take through the name map (and "|" cuts) before it is
// given up: mapped names form chains, and a chain may run in a circle.
constexpr std::int32_t kMaxNameSteps = 16;
// The block size asked of the load callback for container entries.
constexpr std::int32_t kLoadCallbackBlockSize = 32768;

// Files on disk, with the show's name map and rotation table. The map and
// the table are filled while the show opens, on one thread, and only read
// afterwards, from any thread.
class TMappedFileSource : public TFileSource {
public:
  TMappedFileSource();
  void Dispose() override;
  zm::TStream* OpenFile(const WideString& name) override;
  // The name followed as OpenFile follows it, the file not opened.
  std::int64_t FileSize(const WideString& name) override;

  // "FileMap" lines; those that do not parse are skipped, and of two lines
  // for one name (letter case ignored) the first counts.
  void LoadFileMap(zm::TIniSection* section);
  // "RotationState" lines (orientations 1, 3, 6, 8; the first line of a
  // name counts); when any was read, pictures of the listed names are
  // turned as they load (TFileSource image callback). A section still
  // waiting in a long description's text is read on a thread of its own,
  // beside the rest of the opening: the first picture that asks waits for
  // it (and then the hook is there whatever the lines held).
  void LoadRotationTable(zm::TIniSection* section);
  // The mapped name, or empty. Opening follows chains of mapped names a
  // bounded number of steps, so a name mapped to itself opens nothing.
  WideString MappedName(const WideString& name) const;
  // The orientation of a file name (1 when none is listed).
  std::int32_t RotationOf(const WideString& name) const;
  // Relative names are looked for in this folder first (the project's own
  // folder: the player is rarely started from there), then as given. Set
  // before the source is shared between threads.
  void SetRootFolder(const WideString& folder) { rootFolder_ = folder; }
  const WideString& RootFolder() const { return rootFolder_; }

protected:
  // Opens a name the map no longer changes; nil sends a name holding "|"
  // on as its part before the first "|". Here: an existing disk file (after
  // ExpandPathVars) for reading; a name holding "|" is always cut first.
  virtual zm::TStream* OpenResolved(const WideString& name);
  zm::TStream* OpenDiskFile(const WideString& name) const;
  // The size of what OpenResolved would open, -1 for nothing.
  virtual std::int64_t ResolvedSize(const WideString& name);
  std::int64_t DiskFileSize(const WideString& name) const;

private:
  WideString rootFolder_;
  zm::TNameTable map_;       // upper-cased name -> the name to open instead
  zm::TNameTable rotation_;  // upper-cased name -> orientation
  zm::TRef<TCallbackHandle> rotationHook_;
  // The rotation table while its thread fills it: readers wait for ready.
  void ReadRotationLines(zm::TIniSection* section, zm::TNameTable& table);
  void WaitForRotation() const;
  void EndRotationThread();
  std::thread rotationThread_;
  mutable std::mutex rotationLock_;
  mutable std::condition_variable rotationMade_;
  std::atomic<bool> rotationReady_{true};
  zm::TLoadStop rotationStop_;
};

// Files in a container.
class TPackedFileSource : public TMappedFileSource {
public:
  // With ownsUnpack the source takes over the caller's reference to the
  // container reader; otherwise the caller keeps it alive longer.
  TPackedFileSource(TOruUnpack* unpack, bool ownsUnpack);
  void Dispose() override;
  // The entry through the name map; a name holding "|" that is no entry is
  // tried again by its part before the first "|". Entries are read through
  // the load callback. Raises what the container reader raises for a
  // damaged entry (EStreamError, EZDecompressionError) or a container file
  // that went away (EFileOpenError). An entry found damaged once is not
  // read again: later opens raise the same EStreamError at once.
  zm::TStream* OpenFile(const WideString& name) override;
  TOruUnpack* Unpack() const { return unpack_; }

protected:
  zm::TStream* OpenResolved(const WideString& name) override;
  // The entry's bytes in the container (packed ones for a deflated entry),
  // from its directory; -1 for an entry found damaged.
  std::int64_t ResolvedSize(const WideString& name) override;

private:
  TOruUnpack* unpack_;
  bool ownsUnpack_;
  std::mutex damagedLock_;
  std::map<WideString, std::string> damaged_;  // upper-cased entry name -> why
};

class TOruShowLocator : public zm::TRefObject {
public:
  // Reads FileName through the accessor as the show description (nil when
  // missing or not ini text); fills a mapped source's name map and rotation
  // table. With ownsAccessor the locator takes over the caller's reference.
  TOruShowLocator(TFileAccessor* accessor, const WideString& fileName, bool ownsAccessor);
  void Dispose() override;

  TFileAccessor* Accessor() const { return accessor_; }
  zm::TIniFile* Description() const { return description_.get(); }
  const WideString& DescriptionName() const { return descriptionName_; }
  const WideString& Version() const { return version_; }  // main "OruVersion"
  bool FromContainer() const { return fromContainer_; }
  void SetFromContainer(bool value) { fromContainer_ = value; }
  // The show source, made on first use over the accessor and description
  // (it holds references of its own to both). One per show: the player
  // plays this one. Raises what the source's construction raises.
  TOruSource* GetSource();

private:
  TFileAccessor* accessor_;
  bool ownsAccessor_;
  zm::TRef<zm::TIniFile> description_;
  WideString descriptionName_;
  WideString version_;
  zm::TRef<TOruSource> source_;
  bool fromContainer_ = false;
  std::mutex sourceLock_;
};

// A show in a container file; nil with ErrorText ("Slide-show File Modified",
// "Slide-show File Damaged", "Executable SlideShow Open Error" or the
// container reader's other texts) when it cannot be opened. A file that
// cannot be opened gives nil with an empty text; a container whose trailer or
// directory is damaged past reading gives "Slide-show File Damaged".
zm::TRef<TOruShowLocator> OpenContainerShow(const WideString& fileName, WideString& errorText);
// A show project on disk ("Project.oru" or any description file); nil when
// its description cannot be read.
zm::TRef<TOruShowLocator> OpenProjectShow(const WideString& fileName);

// A container name that stands for a project on disk (names compared
// without letter case); an empty project path removes it.
void RegisterProjectSubstitution(const WideString& containerName, const WideString& projectPath);

// Applies the show's "ColorManagement" setting (done by the two openers).
void ApplyShowColorManagement(TOruShowLocator* locator);
// Whether the last applied show is colour-managed.
bool ShowColorManaged();
// Set when the last applied show asked for no colour management (its
// "ColorManagement" empty) or the program switched it off.
bool ShowNotColorManaged();

// The current show and the stack of earlier ones. PushShow makes Locator
// current (a reference is taken) and keeps the previous one; PopShow makes
// the previous one current again and re-applies its colour management.
// PopShow with nothing kept does nothing. The current show may be read from
// any thread; CurrentShowRef holds it while the caller works with it.
TOruShowLocator* CurrentShow();
zm::TRef<TOruShowLocator> CurrentShowRef();
void SetCurrentShow(TOruShowLocator* locator);
void PushShow(TOruShowLocator* locator);
void PopShow();
std::int32_t ShowStackDepth();

// Whether the colour-management library is (or can be made) available for
// the show; the program fills it. Nil means it is not.
using TLoadLcmsProc = bool (*)(TOruShowLocator* show);
extern TLoadLcmsProc LoadLcmsHook;

// Program-wide colour switches (filled at start-up): colour management off,
// and an output profile forced from the command line (nil: none).
extern bool NoColorManagement;
zm::TColorProfile* ForcedOutputProfile();
void SetForcedOutputProfile(zm::TColorProfile* profile);  // takes a reference

void InitShowLoader();
void FiniShowLoader();  // releases every locator on the stack

}  // namespace oru
