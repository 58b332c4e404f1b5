#pragma once
// PNG pictures from the program's resources, decoded and drawn by GDI+
// through its flat API (part of every system since XP), so the program
// carries no imaging library of its own.

#include <windows.h>

#include <memory>

#include "app/system/win_owned.h"

namespace lirrin {

// GDI+ for the lifetime of the object; pictures must go before it does.
class TGdiplusSession {
 public:
  TGdiplusSession();
  ~TGdiplusSession();
  TGdiplusSession(const TGdiplusSession&) = delete;
  TGdiplusSession& operator=(const TGdiplusSession&) = delete;

 private:
  ULONG_PTR Token = 0;
};

class TPngPicture {
 public:
  // The RCDATA resource `id` of `module`; an empty picture when it is
  // missing or cannot be decoded.
  TPngPicture(HMODULE module, int id);
  ~TPngPicture();
  TPngPicture(const TPngPicture&) = delete;
  TPngPicture& operator=(const TPngPicture&) = delete;

  bool Empty() const { return Bitmap == nullptr; }
  // Stretched to `rect` with high-quality filtering, blended over what the
  // device context already holds.
  void Draw(HDC dc, const RECT& rect) const;

 private:
  TComPtr<IStream> Stream;  // the PNG bytes
  void* Bitmap = nullptr;   // GpBitmap decoded from the stream, disposed of before it
};

}  // namespace lirrin
