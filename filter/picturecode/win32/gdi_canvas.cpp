#include "filter/picturecode/win32/gdi_canvas.h"

#include <cstdint>
#include <vector>

#include "filter/picturecode/bitmap_file.h"

namespace sentrel::picturecode {
namespace {

constexpr int kCharacterSet = 136;
constexpr DWORD kOutputPrecision = 2;
constexpr DWORD kClipPrecision = 1;
constexpr DWORD kQuality = 0;
constexpr DWORD kPitchAndFamily = 1;

BITMAPINFO Bottom24(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: bottom row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace

GdiFont::GdiFont(const LogicalFont& font, const std::string& faceName)
    : font_(::CreateFontA(font.height, 0, font.escapement, font.orientation, font.weight,
                          font.italic ? TRUE : FALSE, FALSE, FALSE, kCharacterSet, kOutputPrecision,
                          kClipPrecision, kQuality, kPitchAndFamily, faceName.c_str())) {}

GdiFont::~GdiFont() {
  if (font_ != nullptr) ::DeleteObject(font_);
}

GdiCanvas::GdiCanvas(int width, int height) : width_(width), height_(height) {
  if (width < 1 || height < 1) return;
  HDC screen = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (screen != nullptr && ::GetDeviceCaps(screen, BITSPIXEL) * ::GetDeviceCaps(screen, PLANES) > 8) {
    dc_ = ::CreateCompatibleDC(screen);
    bitmap_ = ::CreateCompatibleBitmap(screen, width, height);
  } else {
    // No display to be compatible with (a service without a desktop, or a
    // palette display): a true-colour section of our own.
    dc_ = ::CreateCompatibleDC(nullptr);
    BITMAPINFO info = Bottom24(width, height);
    void* bits = nullptr;
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  }
  if (screen != nullptr) ::DeleteDC(screen);
  if (!Valid()) return;
  originalBitmap_ = ::SelectObject(dc_, bitmap_);
  FillWhite();
}

GdiCanvas::~GdiCanvas() {
  if (dc_ != nullptr) {
    if (originalFont_ != nullptr) ::SelectObject(dc_, originalFont_);
    if (originalBitmap_ != nullptr) ::SelectObject(dc_, originalBitmap_);
    ::DeleteDC(dc_);
  }
  if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
}

void GdiCanvas::FillWhite() {
  if (!Valid()) return;
  RECT all{0, 0, width_, height_};
  ::FillRect(dc_, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
}

void GdiCanvas::Line(int x1, int y1, int x2, int y2, int penWidth) {
  if (!Valid()) return;
  HPEN pen = ::CreatePen(PS_SOLID, penWidth, RGB(0, 0, 0));
  if (pen == nullptr) return;
  HGDIOBJ before = ::SelectObject(dc_, pen);
  ::MoveToEx(dc_, x1, y1, nullptr);
  ::LineTo(dc_, x2, y2);
  ::SelectObject(dc_, before);
  ::DeleteObject(pen);
}

void GdiCanvas::UseFont(HFONT font) {
  if (!Valid()) return;
  if (font == nullptr) {
    if (originalFont_ != nullptr) ::SelectObject(dc_, originalFont_);
    originalFont_ = nullptr;
    return;
  }
  HGDIOBJ before = ::SelectObject(dc_, font);
  if (originalFont_ == nullptr) originalFont_ = before;
}

int GdiCanvas::MeasureChar(char ch) {
  if (!Valid()) return 0;
  RECT rect{0, 0, 0, 0};
  char text[1] = {ch};
  ::DrawTextA(dc_, text, 1, &rect, DT_CALCRECT | DT_SINGLELINE | DT_VCENTER);
  return rect.right - rect.left;
}

void GdiCanvas::DrawChar(const Rect& r, char ch) {
  if (!Valid()) return;
  ::SetBkMode(dc_, TRANSPARENT);
  ::SetTextColor(dc_, RGB(0, 0, 0));
  RECT rect{r.left, r.top, r.right, r.bottom};
  char text[1] = {ch};
  ::DrawTextA(dc_, text, 1, &rect, DT_SINGLELINE | DT_VCENTER);
}

// The bitmap is taken out of the context while its bits are read or written,
// as the transfer routines ask.
Canvas GdiCanvas::Read() {
  Canvas canvas(width_, height_);
  if (!Valid()) return canvas;
  const std::size_t rowSize = BitmapRowSize(width_);
  std::vector<std::uint8_t> rows(rowSize * static_cast<std::size_t>(height_));
  BITMAPINFO info = Bottom24(width_, height_);
  ::SelectObject(dc_, originalBitmap_);
  const int got = ::GetDIBits(dc_, bitmap_, 0, static_cast<UINT>(height_), rows.data(), &info,
                              DIB_RGB_COLORS);
  ::SelectObject(dc_, bitmap_);
  if (got != height_) return canvas;
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* row = rows.data() + rowSize * static_cast<std::size_t>(height_ - 1 - y);
    for (int x = 0; x < width_; ++x) {
      const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      canvas.SetPixel(x, y, static_cast<Colour>(p[2]) << 16 | static_cast<Colour>(p[1]) << 8 | p[0]);
    }
  }
  return canvas;
}

void GdiCanvas::Load(const Canvas& canvas) {
  if (!Valid() || canvas.Width() != width_ || canvas.Height() != height_) return;
  const std::size_t rowSize = BitmapRowSize(width_);
  std::vector<std::uint8_t> rows(rowSize * static_cast<std::size_t>(height_), 0);
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* row = rows.data() + rowSize * static_cast<std::size_t>(height_ - 1 - y);
    for (int x = 0; x < width_; ++x) {
      const Colour c = canvas.Pixel(x, y);
      row[3 * x + 0] = static_cast<std::uint8_t>(c);
      row[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(c >> 16);
    }
  }
  BITMAPINFO info = Bottom24(width_, height_);
  ::SelectObject(dc_, originalBitmap_);
  ::SetDIBits(dc_, bitmap_, 0, static_cast<UINT>(height_), rows.data(), &info, DIB_RGB_COLORS);
  ::SelectObject(dc_, bitmap_);
}

}  // namespace sentrel::picturecode
