// Layout sizes are given in twips (1/1440 inch) and turned into pixels at the
// screen's logical resolution.
#pragma once

#include <QRect>
#include <QWidget>
#include <cmath>

namespace sentrel::editor {

class Twips {
 public:
  explicit Twips(const QWidget* reference)
      : dpiX_(reference->logicalDpiX()), dpiY_(reference->logicalDpiY()) {}
  Twips(int dpiX, int dpiY) : dpiX_(dpiX), dpiY_(dpiY) {}

  int X(int twips) const { return static_cast<int>(std::lround(twips * dpiX_ / 1440.0)); }
  int Y(int twips) const { return static_cast<int>(std::lround(twips * dpiY_ / 1440.0)); }
  QRect Rect(int left, int top, int width, int height) const {
    return QRect(X(left), Y(top), X(width), Y(height));
  }

 private:
  int dpiX_;
  int dpiY_;
};

}  // namespace sentrel::editor
