#include "ui/window_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/text_limits.h"

namespace dravik::ui {

using window::ControlKind;
using window::ControlTemplate;

namespace {

// Metric-compatible stand-ins first, then any Japanese font the machine has.
const QStringList kFallbackFamilies{"Noto Sans CJK JP", "VL PGothic", "TakaoPGothic",
                                    "Droid Sans Fallback", "WenQuanYi Zen Hei"};

QFont japaneseFont(const QString& family, int points) {
  QFont font(family, points);
  font.setFamilies(QStringList{family} + kFallbackFamilies);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

int scale(int dlu, int base, int divisor) {
  return static_cast<int>(std::lround(static_cast<double>(dlu) * base / divisor));
}

QWidget* makeEdit(const ControlTemplate& c, QWidget& parent) {
  if (c.style & window::kMultiLine) {
    auto* edit = new QPlainTextEdit(&parent);
    edit->setReadOnly(c.style & window::kReadOnly);
    edit->setVerticalScrollBarPolicy((c.style & window::kVScroll) ? Qt::ScrollBarAlwaysOn
                                                                  : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    if (!(c.style & window::kBorder)) {
      edit->setFrameShape(QFrame::NoFrame);
      edit->document()->setDocumentMargin(0);
      // A read-only field without a border reads like the window's own text.
      QPalette palette = edit->palette();
      palette.setColor(QPalette::Base, palette.color(QPalette::Window));
      edit->setPalette(palette);
    }
    return edit;
  }
  auto* edit = new QLineEdit(&parent);
  edit->setFrame(c.style & window::kBorder);
  edit->setReadOnly(c.style & window::kReadOnly);
  if (c.style & window::kDigitsOnly) edit->setValidator(new DigitsValidator(edit));
  return edit;
}

QWidget* makeLabel(const ControlTemplate& c, const BrushSource& brushes, QWidget& parent) {
  auto* label = new BrushedLabel(c.id, brushes, &parent);
  label->setText(QString::fromUtf8(c.text.data(), static_cast<qsizetype>(c.text.size())));
  Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop;
  if (c.style & window::kAlignCenter) align = Qt::AlignCenter;
  if (c.style & window::kAlignRight) align = Qt::AlignRight | Qt::AlignTop;
  label->setAlignment(align);
  if (c.style & window::kBorder) label->setFrameStyle(QFrame::Box | QFrame::Plain);
  return label;
}

QWidget* makeControl(const ControlTemplate& c, const BrushSource& brushes, QWidget& parent) {
  const QString text = QString::fromUtf8(c.text.data(), static_cast<qsizetype>(c.text.size()));
  switch (c.kind) {
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, &parent);
      // Enter must never press a main-window button; the title dialog keeps its default.
      button->setAutoDefault(c.style & window::kDefaultButton);
      button->setDefault(c.style & window::kDefaultButton);
      return button;
    }
    case ControlKind::Label:
      return makeLabel(c, brushes, parent);
    case ControlKind::Lamp:
      return new LampWidget(c.id, brushes, &parent);
    case ControlKind::GroupBox:
      return new QGroupBox(text, &parent);
    case ControlKind::Separator: {
      auto* line = new QFrame(&parent);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      return line;
    }
    case ControlKind::Edit:
      return makeEdit(c, parent);
    case ControlKind::CheckBox:
      return new QCheckBox(text, &parent);
    case ControlKind::ComboBox: {
      auto* combo = new QComboBox(&parent);
      combo->setEditable(false);
      return combo;
    }
  }
  return nullptr;
}

QRect placement(const ControlTemplate& c, QWidget& widget, BaseUnits units) {
  QRect rect = toPixels(c.rect, units);
  if (c.kind == ControlKind::Separator) rect.setHeight(2);
  // A drop-down list's height in the template includes its open list; the closed box keeps
  // its own height.
  if (c.kind == ControlKind::ComboBox) rect.setHeight(widget.sizeHint().height());
  // The stand-in font runs a little wider than the one the layout was drawn with; a caption
  // has free room to its right, so it shows whole rather than cut.
  if (c.kind == ControlKind::Label && c.id == window::kNoId) {
    rect.setWidth(std::max(rect.width(), widget.sizeHint().width()));
  }
  return rect;
}

}  // namespace

QFont dialogFont() {
  return japaneseFont("IPAPGothic", 9);
}

QFont statusFont() {
  return japaneseFont("IPAGothic", 18);
}

BaseUnits baseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect toPixels(const window::Rect& rect, BaseUnits units) {
  return QRect(scale(rect.x, units.x, 4), scale(rect.y, units.y, 8), scale(rect.w, units.x, 4),
               scale(rect.h, units.y, 8));
}

QColor brushColour(Brush brush) {
  switch (brush) {
    case Brush::Gray:
      return QColor(127, 127, 127);
    case Brush::Red:
      return QColor(255, 0, 0);
    case Brush::Black:
      return QColor(0, 0, 0);
    case Brush::Default:
      break;
  }
  return QColor();
}

LampWidget::LampWidget(int id, BrushSource brushes, QWidget* parent)
    : QFrame(parent), id_(id), brushes_(std::move(brushes)) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
}

void LampWidget::paintEvent(QPaintEvent* event) {
  const QColor colour = brushColour(brushes_ ? brushes_(id_) : Brush::Default);
  if (colour.isValid()) {
    QPainter painter(this);
    painter.fillRect(contentsRect(), colour);
  }
  QFrame::paintEvent(event);
}

BrushedLabel::BrushedLabel(int id, BrushSource brushes, QWidget* parent)
    : QLabel(parent), id_(id), brushes_(std::move(brushes)) {}

void BrushedLabel::paintEvent(QPaintEvent* event) {
  const QColor colour = brushColour(brushes_ ? brushes_(id_) : Brush::Default);
  if (!colour.isValid()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.fillRect(rect(), colour);
  painter.setPen(Qt::white);
  painter.setFont(font());
  painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
  drawFrame(&painter);
}

BuiltWindow buildWindow(QWidget& host, const window::WindowTemplate& tmpl, BrushSource brushes) {
  host.setFont(dialogFont());
  const BaseUnits units = baseUnits(host.font());
  BuiltWindow built;
  QWidget* previousStop = nullptr;
  QLabel* pendingBuddy = nullptr;
  for (const ControlTemplate& c : tmpl.controls) {
    QWidget* widget = makeControl(c, brushes, host);
    widget->setGeometry(placement(c, *widget, units));
    if (c.id != window::kNoId) {
      widget->setObjectName(QStringLiteral("c%1").arg(c.id));
      built.byId[c.id] = widget;
    }
    built.controls.push_back({&c, widget});
    if (widget->focusPolicy() & Qt::TabFocus) {
      if (previousStop) QWidget::setTabOrder(previousStop, widget);
      previousStop = widget;
      // A caption's mnemonic moves the focus to the next tab stop after it.
      if (pendingBuddy) pendingBuddy->setBuddy(widget);
      pendingBuddy = nullptr;
    } else if (c.kind == ControlKind::Label && c.text.find('&') != std::string_view::npos) {
      pendingBuddy = static_cast<QLabel*>(widget);
    }
  }
  host.setWindowTitle(
      QString::fromUtf8(tmpl.caption.data(), static_cast<qsizetype>(tmpl.caption.size())));
  host.setFixedSize(scale(tmpl.width, units.x, 4), scale(tmpl.height, units.y, 8));
  return built;
}

}  // namespace dravik::ui
