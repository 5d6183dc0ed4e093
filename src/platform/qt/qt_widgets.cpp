#include "platform/qt/qt_widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "platform/qt/qt_style.h"

namespace kestovane::qt {

FormWindow::FormWindow(std::function<void()> onCloseRequest) : onCloseRequest_(std::move(onCloseRequest)) {}

void FormWindow::closeEvent(QCloseEvent* event) {
  // Closing runs the form's handlers on our loop; the window stays until the
  // form has hidden itself and the next sync hides the widget.
  event->ignore();
  if (onCloseRequest_) onCloseRequest_();
}

LabelWidget::LabelWidget(QWidget* parent, std::function<void()> onDblClick)
    : QLabel(parent), onDblClick_(std::move(onDblClick)) {
  setTextFormat(Qt::PlainText);
}

void LabelWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && onDblClick_) onDblClick_();
  QLabel::mouseDoubleClickEvent(event);
}

LogoWidget::LogoWidget(QWidget* parent) : QWidget(parent) {}

void LogoWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF plate = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  if (plate.width() <= 0 || plate.height() <= 0) return;
  const qreal radius = std::min(plate.width(), plate.height()) / 4;

  // A dark blue plate with a light rim: readable on the grey window.
  QLinearGradient fill(plate.topLeft(), plate.bottomLeft());
  fill.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
  fill.setColorAt(1, QColor(0x10, 0x2c, 0x52));
  p.setPen(QPen(QColor(0xc8, 0xd8, 0xec), 1.5));
  p.setBrush(fill);
  p.drawRoundedRect(plate, radius, radius);

  // The name fills most of the plate's width, whatever the control's size.
  const QString text = QStringLiteral("KESTOVANE");
  QFont font;
  font.setFamilies(FontFamilies("Tahoma"));
  font.setBold(true);
  font.setPixelSize(100);
  const QFontMetricsF metrics(font);
  const qreal scale = std::min(plate.width() * 0.82 / metrics.horizontalAdvance(text),
                               plate.height() * 0.62 / metrics.height());
  font.setPixelSize(std::max(1, static_cast<int>(100 * scale)));
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(plate, Qt::AlignCenter, text);
}

PanelWidget::PanelWidget(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  setAutoFillBackground(true);
}

void PanelWidget::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (caption_.isEmpty()) return;
  QPainter p(this);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

StatusBarWidget::StatusBarWidget(QWidget* parent) : QWidget(parent) {}

void StatusBarWidget::Apply(const std::vector<TStatusPanel>& panels, int width, int height) {
  while (labels_.size() < panels.size()) {
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setIndent(2);
    label->show();
    labels_.push_back(label);
  }
  while (labels_.size() > panels.size()) {
    delete labels_.back();
    labels_.pop_back();
  }
  int x = 0;
  for (size_t i = 0; i < panels.size(); ++i) {
    const bool last = i + 1 == panels.size();
    const int w = last ? std::max(0, width - x) : std::max(0, panels[i].width);
    labels_[i]->setGeometry(x, 0, w, height);
    labels_[i]->setText(ToQString(panels[i].text));
    x += w;
  }
}

}  // namespace kestovane::qt
