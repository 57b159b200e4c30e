// Turns a window template into Qt widgets: dialog units become pixels through the base units
// of the dialog font, and every control becomes the widget that behaves like it.
#pragma once

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "monitor/brush.h"
#include "window/window_template.h"

namespace dravik::ui {

// The dialog font: 9 point IPA P Gothic, else another Japanese font.
QFont dialogFont();
// The status panel's font: 18 point IPA Gothic, else another Japanese font.
QFont statusFont();

// Dialog base units of a font: x from the average width of A-Z and a-z, y its height.
struct BaseUnits {
  int x = 0;
  int y = 0;
};
BaseUnits baseUnits(const QFont& font);
QRect toPixels(const window::Rect& rect, BaseUnits units);

// Tells a lamp or a label which brush paints it, asked at every paint.
using BrushSource = std::function<Brush(int id)>;

// The colour a brush paints with; invalid for Brush::Default.
QColor brushColour(Brush brush);

// A lamp: a sunken edge filled with its brush.
class LampWidget : public QFrame {
 public:
  LampWidget(int id, BrushSource brushes, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int id_;
  BrushSource brushes_;
};

// A static text; with a brush other than Default it is painted white on that brush.
class BrushedLabel : public QLabel {
 public:
  BrushedLabel(int id, BrushSource brushes, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int id_;
  BrushSource brushes_;
};

struct BuiltControl {
  const window::ControlTemplate* source;
  QWidget* widget;
};

struct BuiltWindow {
  std::vector<BuiltControl> controls;  // template order
  std::map<int, QWidget*> byId;        // controls with an identifier
};

// Creates every control of `tmpl` as a direct child of `host`, in template order (which is
// also the tab order), and gives `host` the template's fixed size and the dialog font.
BuiltWindow buildWindow(QWidget& host, const window::WindowTemplate& tmpl, BrushSource brushes);

}  // namespace dravik::ui
