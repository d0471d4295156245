#include "ui/PaintView.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/Skin.h"

namespace tw {

PaintView::PaintView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumHeight(120);
}

void PaintView::RegisterDefault() {
  Skin::RegisterWidget("PaintView", [](QWidget* parent) { return new PaintView(parent); });
}

void PaintView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), QColor("#ffffff"));
  const QRectF band = QRectF(rect()).adjusted(1, 1, -1, -1);
  QPainterPath path;
  path.addRoundedRect(band, 6, 6);
  p.fillPath(path, QColor("#f3f6fc"));
  p.setPen(QPen(QColor("#dbe3f0"), 1));
  p.drawPath(path);
  p.setPen(QPen(QColor("#c9d5ea"), 1, Qt::DashLine));
  const double mid = band.center().y();
  p.drawLine(QPointF(band.left() + 10, mid), QPointF(band.right() - 10, mid));
  p.setPen(QColor("#8a94a6"));
  p.drawText(band, Qt::AlignCenter, QStringLiteral("添加文件后在此显示波形"));
}

}  // namespace tw
