#pragma once
// Owners for the Windows objects the tray program creates, besides kernel
// handles (support/os_handle.h): fonts and other GDI objects, menus, memory
// device contexts, registry keys and COM interface pointers. Each object is
// given back to the system exactly once, when its owner ends or is reset,
// on every road out of a function.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace lirrin {

template <typename THandle, auto Release>
struct TReleaseWith {
  void operator()(THandle handle) const { Release(handle); }
};

// A handle of type THandle (a pointer type) given back with Release.
template <typename THandle, auto Release>
using TOwned = std::unique_ptr<std::remove_pointer_t<THandle>, TReleaseWith<THandle, Release>>;

using TFont = TOwned<HFONT, DeleteObject>;
using TBitmap = TOwned<HBITMAP, DeleteObject>;
using TPen = TOwned<HPEN, DeleteObject>;
using TMenu = TOwned<HMENU, DestroyMenu>;
using TMemoryDC = TOwned<HDC, DeleteDC>;
using TRegKey = TOwned<HKEY, RegCloseKey>;

struct TComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
// A COM interface pointer that holds one reference.
template <typename TInterface>
using TComPtr = std::unique_ptr<TInterface, TComRelease>;

// For a call that hands out an interface pointer through a parameter:
// `call(..., Receive(owner))` gives `owner` the reference once the call's
// full expression ends (nothing when the call handed out null).
template <typename TInterface>
class TComReceiver {
 public:
  explicit TComReceiver(TComPtr<TInterface>& owner) : Owner(owner) {}
  ~TComReceiver() { Owner.reset(Raw); }
  TComReceiver(const TComReceiver&) = delete;
  TComReceiver& operator=(const TComReceiver&) = delete;
  operator TInterface**() { return &Raw; }
  operator void**() { return reinterpret_cast<void**>(&Raw); }

 private:
  TComPtr<TInterface>& Owner;
  TInterface* Raw = nullptr;
};

template <typename TInterface>
TComReceiver<TInterface> Receive(TComPtr<TInterface>& owner) {
  return TComReceiver<TInterface>(owner);
}

}  // namespace lirrin
