// Window pictures as PNG files: the screen's pixels under the window, read
// through GDI (under Wine they come from the X server) and written with libpng.
#include <png.h>

#include <cstdio>
#include <vector>

#include "GuiHarness.h"

namespace qvt::gui {
namespace {

// Grabs the window's rectangle of the screen as 24-bit top-down BGR rows.
bool GrabScreen(HWND window, int* width, int* height, std::vector<unsigned char>* pixels) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  *width = rect.right - rect.left;
  *height = rect.bottom - rect.top;
  if (*width <= 0 || *height <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = *width;
  info.bmiHeader.biHeight = -*height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap != nullptr && memory != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, *width, *height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
      const std::size_t stride = (static_cast<std::size_t>(*width) * 3 + 3) & ~std::size_t{3};
      const auto* source = static_cast<const unsigned char*>(bits);
      pixels->assign(source, source + stride * static_cast<std::size_t>(*height));
    }
    SelectObject(memory, old);
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (memory != nullptr) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool WritePng(FILE* file, int width, int height, const std::vector<unsigned char>& pixels) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  for (int y = 0; y < height; ++y) {
    png_write_row(png, pixels.data() + stride * static_cast<std::size_t>(y));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool SaveWindowPng(HWND window, const std::wstring& path, std::wstring* error) {
  // Let the window finish painting before its pixels are read.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);

  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
  if (!GrabScreen(window, &width, &height, &pixels)) {
    if (error != nullptr) *error = L"could not read the screen under the window";
    return false;
  }
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) {
    if (error != nullptr) *error = L"could not create " + path;
    return false;
  }
  const bool written = WritePng(file, width, height, pixels);
  const bool closed = std::fclose(file) == 0;
  if (!(written && closed)) {
    DeleteFileW(path.c_str());
    if (error != nullptr) *error = L"could not write " + path;
    return false;
  }
  return true;
}

}  // namespace qvt::gui
