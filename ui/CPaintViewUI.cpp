#include "ui/CPaintViewUI.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include "app/Messages.h"
#include "ui/Skin.h"

namespace tw {
namespace {

QColor Argb(std::uint32_t argb) {
  return QColor(static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
                static_cast<int>(argb & 0xFF), static_cast<int>(argb >> 24));
}

QRectF BoxRect(const WaveBox& box) {
  return QRectF(box.x, box.y, box.w, box.h);
}

}  // namespace

QStringList DroppedLocalFiles(const QMimeData* mime) {
  QStringList paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (QFileInfo(path).isFile()) paths << path;
  }
  return paths;
}

CPaintViewUI::CPaintViewUI(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);  // the hand cursor over the time axis
  setAcceptDrops(true);
  setMinimumHeight(170);
}

// The reader's own destructor aborts it and waits for its threads; nothing it posted
// afterwards can reach a view that is gone.
CPaintViewUI::~CPaintViewUI() = default;

void CPaintViewUI::RegisterDefault() {
  Skin::RegisterWidget(GetClass(), [](QWidget* parent) { return new CPaintViewUI(parent); });
}

void CPaintViewUI::ResetView() {
  model_.ResetView();
}

void CPaintViewUI::SetTotalTime(double seconds) {
  model_.SetTotalTime(seconds);
}

void CPaintViewUI::Refresh() {
  update();
}

int CPaintViewUI::LoadWave(const std::string& pathUtf8, const MessagePump& pump) {
  const int rc = ReplaceWaveReader(reader_, owner_, pathUtf8, pump);
  update();
  return rc;
}

bool CPaintViewUI::Loading() const {
  return reader_ && reader_->Opened() && !reader_->Done() &&
         !(reader_->ReadThreadExited() && reader_->DecodeThreadExited());
}

WaveGeometry CPaintViewUI::Geometry() const {
  WaveGeometry g;
  g.right = width();
  g.bottom = height();
  return g;
}

void CPaintViewUI::Post(const std::vector<WaveEvent>& events) {
  if (!owner_) return;
  for (const WaveEvent& e : events) {
    if (e.message == WM_CUT_START || e.message == WM_CUT_END || e.message == WM_WAVE_CLICK)
      PostRecord<SecondsRecord>(owner_, e.message, e.seconds);
    else
      PostValue(owner_, e.message, 0);
  }
}

void CPaintViewUI::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.fillRect(rect(), QColor("#ffffff"));
  QFont font = p.font();
  font.setFamily(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(12);
  font.setWeight(QFont::Normal);
  p.setFont(font);

  const std::vector<std::int32_t>* peaks = reader_ && reader_->Done() ? &reader_->Peaks() : nullptr;
  for (const WaveShape& s : model_.Layout(Geometry(), peaks)) {
    const QColor colour = Argb(s.argb);
    switch (s.kind) {
      case WaveShapeKind::Line:
        p.setPen(QPen(colour, 1));
        p.drawLine(QPointF(s.from.x, s.from.y), QPointF(s.to.x, s.to.y));
        break;
      case WaveShapeKind::Polyline: {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(s.points.size()));
        for (const WavePointF& pt : s.points) points.append(QPointF(pt.x, pt.y));
        p.setPen(QPen(colour, 1));
        p.drawPolyline(points.constData(), static_cast<int>(points.size()));
        break;
      }
      case WaveShapeKind::Ellipse:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(BoxRect(s.box));
        p.setBrush(Qt::NoBrush);
        break;
      case WaveShapeKind::Rect:
        p.fillRect(BoxRect(s.box), colour);
        break;
      case WaveShapeKind::Text:
        p.setPen(colour);
        p.drawText(BoxRect(s.box),
                   Qt::AlignVCenter | (s.align == WaveAlign::Right ? Qt::AlignRight : Qt::AlignLeft),
                   QString::fromStdString(s.text));
        break;
    }
  }
}

void CPaintViewUI::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPoint pos = event->position().toPoint();
  Post(model_.MouseDown(Geometry(), pos.x(), pos.y()));
  update();
}

void CPaintViewUI::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const WaveGeometry g = Geometry();
  if (OnTimeAxis(g, pos.x(), pos.y()) || model_.Dragging())
    setCursor(Qt::PointingHandCursor);
  else
    unsetCursor();
  const bool wasDragging = model_.Dragging();
  Post(model_.MouseMove(g, pos.x(), pos.y()));
  if (wasDragging || model_.Dragging()) update();
}

void CPaintViewUI::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  const QPoint pos = event->position().toPoint();
  Post(model_.MouseUp(Geometry(), pos.x(), pos.y()));
  update();
}

void CPaintViewUI::dragEnterEvent(QDragEnterEvent* event) {
  if (onDrop_ && !DroppedLocalFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void CPaintViewUI::dragMoveEvent(QDragMoveEvent* event) {
  if (onDrop_ && !DroppedLocalFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void CPaintViewUI::dropEvent(QDropEvent* event) {
  const QStringList paths = DroppedLocalFiles(event->mimeData());
  if (!onDrop_ || paths.isEmpty()) return event->ignore();
  event->acceptProposedAction();
  // Loading waits for the old file's threads while serving events: not inside the drop.
  QMetaObject::invokeMethod(
      this, [this, paths] { onDrop_(paths); }, Qt::QueuedConnection);
}

}  // namespace tw
