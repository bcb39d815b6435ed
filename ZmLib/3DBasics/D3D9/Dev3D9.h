#pragma once
// The 3D engine on the software Direct3D 9 device: capabilities per adapter,
// adapters and display modes, the hidden 16 x 16 device and the creation of
// renderers. Devices are made and released on the UI thread; another thread
// posts its request to the application's event list.
//
// One process-wide recursive lock (Device3DLock) serialises device creation,
// disposal, present, resource work and the device-lost checks of the engine,
// the renderers, the stores and the resources.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxSystem.h"
#include "ZmLib/3DBasics/Dev3D.h"
#include "ZmLib/zmModules.h"

namespace zm {

class T3DRenderer9;
class TDevStore;
class TDumbWindow;

// ---- Globals ---------------------------------------------------------------------------

// The locks on the road of a frame, in the one order a thread takes them
// (it may skip any, never go back up):
//   1. the drawing lock (DrawingLock, a whole frame);
//   2. the 3D drawer's lock (textures of the loader thread, open and close,
//      a video picture's textures let go);
//   3. a resource's lost-event link (TLostLink), held while its event runs;
//   4. a video picture's monitor (its planes, written by the clip's
//      extractor, and the making and letting go of its textures);
//   5. Device3DLock;
//   6. a draw device's lock, a software device's own mutex;
//   7. leaves: the lost-event, window-list, panel-link, capability, screen's
//      renderer and texture's device-object locks; a picture's lost-content
//      lock, then its extractor's monitor.
// Device3DLock is thus taken last of the locks that callers above see:
// nothing that may wait for one of them runs under it. What a store tells
// its objects when it goes (their lost events, which let textures go under
// their pictures' monitors) and a device's release, which waits for its
// other holders, run once the thread has left it (After3DLock).
std::recursive_mutex& Device3DLock();

// Holds Device3DLock for a scope; leaving the thread's outermost hold runs
// what After3DLock put off, with the lock left.
class T3DLockScope {
public:
  explicit T3DLockScope(std::recursive_mutex& lock);
  ~T3DLockScope();
  T3DLockScope(const T3DLockScope&) = delete;
  T3DLockScope& operator=(const T3DLockScope&) = delete;

private:
  std::recursive_mutex& lock_;
};

// Runs Work once this thread holds no T3DLockScope: at once when it holds
// none, else when it leaves its outermost one (in the order given; a
// failure is reported and the rest still run).
void After3DLock(std::function<void()> work);

// Exclusive full screen may be used. Off by default: the desktop never
// grants it (the device refuses it), so full screen is a window over the
// monitor unless a caller turns this on.
extern std::atomic<bool> Exclusive3DAllowed;
// Whether the desktop composes windows (then a windowed device presents
// with the default interval). Always so on this desktop.
extern std::atomic<bool> DesktopComposition3D;
// Off: every thread counts as the UI thread (device work runs where asked).
extern std::atomic<bool> UIThreadCheck3D;
// The present interval a new engine takes: 0 default, 1 immediate, 2 one.
extern std::atomic<std::uint8_t> DefaultPresentInterval3D;

// True on the UI thread, or when the check is off.
bool On3DUIThread();

// ---- Result mapping ----------------------------------------------------------------------

// Stores the code of Result (0 ok, 1 invalid call, 2 out of video memory,
// 3 anything else) as the object's last result, marks a lost device (2) in
// the object's device-lost byte, logs "Dx Error = n" for any failure, and
// answers the code.
std::uint8_t MapDxResult(T3DCallState& target, plat::gfx::Result result);
// The same for a renderer, whose marker is its state.
std::uint8_t MapDxResult(T3DRenderer& target, plat::gfx::Result result);

// ---- Objects of a draw device's window list --------------------------------------------

// Guarded by one lock of this unit, so that the engine thread and the UI
// thread may look for and remove entries at the same time.
template <class T>
TRef<T> FindDeviceObject(TDrawDevice* device);
bool AddDeviceObject(TDrawDevice* device, TRefObject* object);  // the list takes a reference
// Takes the object out of the list and hands the list's reference to the
// caller (nil when it was not there).
TRef<TRefObject> ExtractDeviceObject(TDrawDevice* device, TRefObject* object);

namespace detail {
TRefObject* FindDeviceObjectLocked(TDrawDevice* device, bool (*match)(TRefObject*));
}

template <class T>
TRef<T> FindDeviceObject(TDrawDevice* device) {
  TRefObject* o =
      detail::FindDeviceObjectLocked(device, [](TRefObject* p) { return dynamic_cast<T*>(p) != nullptr; });
  return TRef<T>::Adopt(static_cast<T*>(o));  // the finder took a reference
}

// ---- Capabilities ------------------------------------------------------------------------

// The capability record of one adapter (not reference counted).
struct TCapsWrapper {
  plat::gfx::Caps Caps;
  plat::gfx::AdapterIdentifier Identifier;
  std::uint32_t Adapter = 0;
};

// ---- Messages to the UI thread --------------------------------------------------------

// A renderer to be made on the UI thread. The renderer forgets the message
// when it goes first (under the 3D lock); a message that goes first, handled
// or dropped unhandled, lets go of its renderer.
class TInitData : public TRefObject {
public:
  void Dispose() override;
  TRef<TDrawDevice> Device;
  T3DRenderer9* Renderer = nullptr;  // guarded by the 3D lock
  T3DDisplayMode Mode;
};

// A device to release on the UI thread, and the window rectangle to restore.
class TReleaseData : public TRefObject {
public:
  plat::gfx::Ref<plat::gfx::Device> Device;
  HWND Window = nullptr;
  TRect Rect;
};

// ---- T3DEngine9 ------------------------------------------------------------------------

class T3DEngine9 : public T3DEngine, public T3DCallState {
public:
  explicit T3DEngine9(plat::gfx::Ref<plat::gfx::System> d3d);
  void Dispose() override;

  std::int32_t FindAdapter(const TRect& rect) override;
  std::uint32_t GetCapValue(std::int32_t adapter, std::string_view key) override;
  WideString GetCapText(std::int32_t adapter, std::string_view key) override;
  bool GetDisplayMode(std::int32_t adapter, T3DDisplayMode& mode) override;
  TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const T3DDisplayMode& mode) override;
  bool CheckDevice() override;
  std::int32_t GetShaderLevel(std::int32_t adapter) override;

  plat::gfx::System* D3D() const { return d3d_.Get(); }
  // The hidden device (nil when it could not be made).
  plat::gfx::Device* HiddenDevice() const { return hidden_.Get(); }
  std::uint8_t PresentInterval() const { return interval_; }
  void SetPresentInterval(std::uint8_t interval) { interval_ = interval; }
  std::uint32_t ExclusiveBackBufferCount() const { return backBufferCount_; }
  void SetExclusiveBackBufferCount(std::uint32_t count) { backBufferCount_ = count; }

  // Renderer creation proper (UI thread); false when it failed (the
  // renderer is left to the caller).
  bool InternalCreateRenderer(TDrawDevice* device, const T3DDisplayMode& mode, T3DRenderer9* renderer);
  // Drops the window's store when no renderer uses it and its device, which
  // a renderer without a swap chain of its own draws on, has a back buffer
  // of another size than Mode wants; true when it did.
  bool DropResizedStore(TDrawDevice* device, const T3DDisplayMode& mode, bool usesSwapChain);
  // Hands a device to the UI thread for release; releases it here when no
  // application can take the message.
  void PostRelease(TRef<TReleaseData> data);
  // Ids of the three events (0 without an application).
  std::int32_t CreateReleaseEventId() const { return idMessage_; }

private:
  // Nil when the capability calls fail (nothing is cached then).
  const TCapsWrapper* CapsOf(std::int32_t adapter);
  void CreateHiddenDevice();
  void ResetHiddenDevice();
  static void EventHandler(void* data, TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  static void ReleaseNow(TReleaseData* data, T3DEngine9* engine);

  plat::gfx::Ref<plat::gfx::System> d3d_;
  std::mutex capsLock_;
  std::vector<std::unique_ptr<TCapsWrapper>> caps_;
  plat::gfx::Ref<plat::gfx::Device> hidden_;
  plat::gfx::PresentParameters hiddenPp_;
  std::int32_t idMessage_ = 0, idReset_ = 0, idHidden_ = 0;
  std::uint8_t interval_ = 0;
  std::uint32_t backBufferCount_ = 0;
};

// The engine factory the hook holds: nil when the device cannot start.
TRef<T3DEngine> Create3DEngine9(std::int32_t flags);

// The hidden utility window, made once per process (UI thread).
TDumbWindow* Dev3D9UtilityWindow();

// How many AddRef/Release rounds a release on the UI thread waits for the
// other holders of a device before it lets go of its reference anyway.
constexpr int kReleaseSpinLimit = 10000;

void InitDev3D9();
void FiniDev3D9();
// The units of the Direct3D 9 back end, after the application's modules.
std::span<const TModule> Dev3D9Modules();

}  // namespace zm
