#include "app/ui/png_picture.h"

#include <objidl.h>
// GDI+'s headers need min and max from the Windows headers' macros.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace lirrin {

namespace gdip = Gdiplus::DllExports;

TGdiplusSession::TGdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&Token, &input, nullptr);
}

TGdiplusSession::~TGdiplusSession() {
  if (Token != 0) Gdiplus::GdiplusShutdown(Token);
}

TPngPicture::TPngPicture(HMODULE module, int id) {
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_RCDATA));
  if (resource == nullptr) return;
  const DWORD size = SizeofResource(module, resource);
  const void* bytes = LockResource(LoadResource(module, resource));
  if (bytes == nullptr || size == 0) return;
  // GDI+ decodes from a stream that must live as long as the bitmap; the
  // stream owns a copy of the bytes.
  const HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (copy == nullptr) return;
  CopyMemory(GlobalLock(copy), bytes, size);
  GlobalUnlock(copy);
  if (CreateStreamOnHGlobal(copy, TRUE, Receive(Stream)) != S_OK) {
    GlobalFree(copy);
    return;
  }
  Gdiplus::GpBitmap* decoded = nullptr;
  if (gdip::GdipCreateBitmapFromStream(Stream.get(), &decoded) == Gdiplus::Ok) Bitmap = decoded;
}

TPngPicture::~TPngPicture() {
  if (Bitmap != nullptr) gdip::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(Bitmap));
}

void TPngPicture::Draw(HDC dc, const RECT& rect) const {
  if (Bitmap == nullptr) return;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (gdip::GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok) return;
  gdip::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
  gdip::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHighQuality);
  gdip::GdipDrawImageRectI(graphics, static_cast<Gdiplus::GpImage*>(Bitmap), rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top);
  gdip::GdipDeleteGraphics(graphics);
}

}  // namespace lirrin
