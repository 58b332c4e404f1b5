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

}  // namespace lirrin
