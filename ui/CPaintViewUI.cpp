#include "ui/CPaintViewUI.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/Messages.h"
#include "ui/MessageEvent.h"
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

// Zoom buttons and keys step by this factor.
constexpr double kZoomStep = 2.0;
// A stretch is asked for with this share of its length to spare on each side, so that a short
// scroll needs no new read; and with this many buckets per pixel.
constexpr double kDetailSpare = 0.25;
constexpr int kDetailBucketsPerPixel = 2;

bool Covers(WaveSpan outer, WaveSpan inner, double toleranceSec = 1e-9) {
  return outer.start <= inner.start + toleranceSec && outer.End() >= inner.End() - toleranceSec;
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
  setMouseTracking(true);  // the cursor's shape over the axis and the markers
  setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumHeight(170);
  port_ = WindowPort::Create();
  port_->Attach(this);
}

// The readers' own destructors abort them and wait for their threads; nothing they posted
// afterwards can reach a view that is gone.
CPaintViewUI::~CPaintViewUI() {
  port_->Detach();
  stretch_.reset();
}

void CPaintViewUI::RegisterDefault() {
  Skin::RegisterWidget(GetClass(), [](QWidget* parent) { return new CPaintViewUI(parent); });
}

void CPaintViewUI::ResetView() {
  model_.ResetView();
  emit visibleChanged();
}

void CPaintViewUI::SetTotalTime(double seconds) {
  model_.SetTotalTime(seconds);
  emit visibleChanged();
}

void CPaintViewUI::Refresh() {
  update();
}

int CPaintViewUI::LoadWave(const std::string& pathUtf8, const MessagePump& pump) {
  if (stretch_) stretch_->Cancel();
  model_.gain = 1;
  gainFor_ = nullptr;
  asked_ = 0;
  detail_ = WaveEnvelope{};
  path_ = pathUtf8;
  const int rc = ReplaceWaveReader(reader_, owner_, pathUtf8, pump);
  if (rc == 0) {
    // Opened now, the file is ready for the first zoom.
    if (!stretch_) stretch_ = std::make_unique<WaveStretchReader>(port_);
    stretch_->Prepare(pathUtf8);
  }
  update();
  return rc;
}

const WaveEnvelope* CPaintViewUI::Overview() const {
  return reader_ && reader_->Done() ? &reader_->Envelope() : nullptr;
}

void CPaintViewUI::ZoomBy(double factor) {
  const WaveGeometry g = Geometry();
  if (model_.ZoomAt(g, (g.AxisStart() + g.AxisEnd()) / 2.0, factor)) VisibleChanged();
}

void CPaintViewUI::ZoomFit() {
  if (!model_.Zoomed()) return;
  model_.ZoomFit();
  VisibleChanged();
}

void CPaintViewUI::ScrollTo(double startSec) {
  const WaveSpan before = model_.Visible();
  model_.ScrollTo(startSec);
  if (!(model_.Visible() == before)) VisibleChanged();
}

void CPaintViewUI::EnsureVisible(double t) {
  if (model_.EnsureVisible(t)) VisibleChanged();
}

void CPaintViewUI::VisibleChanged() {
  RequestDetail();
  update();
  emit visibleChanged();
}

namespace {

// Values read for a stretch fit a view when they hold its whole stretch in buckets that tile
// its pixel columns exactly: every column then takes the extremes of its own samples.
// slack: how far (in buckets) the buckets' edges may lie from the columns'.
bool FitsView(double startSec, double endSec, double perBucket, double slack, WaveSpan view,
              double perPixel) {
  if (!(perBucket > 0) || !Covers({startSec, endSec - startSec}, view, slack * perBucket + 1e-9))
    return false;
  // A whole number of buckets a column, and the stretch's first and last edges on bucket edges:
  // then every column edge between is on one too.
  const double perColumn = perPixel / perBucket;
  const double first = (view.start - startSec) / perBucket;
  const double last = (view.End() - startSec) / perBucket;
  return std::round(perColumn) >= 1 && std::abs(perColumn - std::round(perColumn)) < 1e-3 &&
         std::abs(first - std::round(first)) <= slack && std::abs(last - std::round(last)) <= slack;
}

}  // namespace

bool CPaintViewUI::ShowsRealValues() const {
  const WaveGeometry g = Geometry();
  const WaveSpan view = model_.Visible();
  if (g.AxisLength() <= 0 || !(view.length > 0)) return false;
  const double perPixel = view.length / g.AxisLength();
  // The overview is enough where several of its buckets fall on each pixel.
  const WaveEnvelope* overview = Overview();
  if (overview && overview->SecondsPerBucket() <= perPixel) return true;
  return !detail_.Empty() && FitsView(detail_.startSec, detail_.EndSec(), detail_.SecondsPerBucket(),
                                      WaveBucketSlack(detail_), view, perPixel);
}

void CPaintViewUI::RequestDetail() {
  const WaveGeometry g = Geometry();
  const WaveSpan view = model_.Visible();
  if (path_.empty() || !model_.Zoomed() || g.AxisLength() <= 0 || ShowsRealValues()) return;
  const double perPixel = view.length / g.AxisLength();
  if (asked_ && FitsView(askedSpan_.start, askedSpan_.End(), askedPerBucket_, 1e-6, view, perPixel))
    return;  // on its way
  // Whole columns to spare on each side, so that the buckets keep to the columns' edges.
  const int spare = static_cast<int>(std::ceil(g.AxisLength() * kDetailSpare));
  const int before = std::min(spare, static_cast<int>(view.start / perPixel));
  const int after = std::min(spare, static_cast<int>((model_.totalTime - view.End()) / perPixel));
  const double from = view.start - before * perPixel;
  const int buckets = (before + g.AxisLength() + after) * kDetailBucketsPerPixel;
  const double to = from + (before + g.AxisLength() + after) * perPixel;
  if (!stretch_) stretch_ = std::make_unique<WaveStretchReader>(port_);
  asked_ = stretch_->Request(path_, from, to, buckets);
  askedSpan_ = {from, to - from};
  askedPerBucket_ = perPixel / kDetailBucketsPerPixel;
}

bool CPaintViewUI::event(QEvent* event) {
  if (event->type() != MessageEvent::EventType()) return QWidget::event(event);
  Message& message = static_cast<MessageEvent*>(event)->message();
  auto* record = message.As<WaveStretchRecord>();
  if (message.id == WM_WAVE_STRETCH && record && record->request == asked_) {
    detail_ = std::move(record->envelope);
    asked_ = 0;
    update();
    RequestDetail();  // the view may have moved on meanwhile
  }
  return true;
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

  std::vector<const WaveEnvelope*> sources;
  if (const WaveEnvelope* overview = Overview()) {
    sources.push_back(overview);
    if (gainFor_ != overview) {
      int peak = 0;
      for (std::size_t k = 0; k < overview->Size(); ++k)
        if (overview->mins[k] <= overview->maxs[k])
          peak = std::max(
              {peak, std::abs(static_cast<int>(overview->mins[k])), static_cast<int>(overview->maxs[k])});
      model_.gain = GainForPeak(peak);
      gainFor_ = overview;
    }
  }
  if (!detail_.Empty()) sources.push_back(&detail_);
  for (const WaveShape& s : model_.Layout(Geometry(), sources)) {
    const QColor colour = Argb(s.argb);
    switch (s.kind) {
      case WaveShapeKind::Line:
        p.setPen(QPen(colour, 1));
        p.drawLine(QPointF(s.from.x, s.from.y), QPointF(s.to.x, s.to.y));
        break;
      case WaveShapeKind::Polyline:
      case WaveShapeKind::Polygon: {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(s.points.size()));
        for (const WavePointF& pt : s.points) points.append(QPointF(pt.x, pt.y));
        if (s.kind == WaveShapeKind::Polyline) {
          p.setPen(QPen(colour, 1));
          p.drawPolyline(points.constData(), static_cast<int>(points.size()));
        } else {
          p.setPen(Qt::NoPen);
          p.setBrush(colour);
          p.drawPolygon(points.constData(), static_cast<int>(points.size()));
          p.setBrush(Qt::NoBrush);
        }
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

void CPaintViewUI::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RequestDetail();
}

void CPaintViewUI::mousePressEvent(QMouseEvent* event) {
  const bool pan = event->button() == Qt::MiddleButton;
  if (event->button() != Qt::LeftButton && !pan) return QWidget::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  const QPoint pos = event->position().toPoint();
  Post(model_.MouseDown(Geometry(), pos.x(), pos.y(), pan));
  UpdateCursor(pos.x(), pos.y());
  update();
}

void CPaintViewUI::UpdateCursor(int x, int y) {
  const WaveGeometry g = Geometry();
  if (model_.Panning())
    setCursor(Qt::ClosedHandCursor);
  else if (model_.Dragging() || (!model_.MouseIsDown() && model_.MarkerAt(g, x, y) != WaveMarker::None))
    setCursor(Qt::SizeHorCursor);
  else if (model_.Zoomed() && OnLabelStrip(g, x, y))
    setCursor(Qt::OpenHandCursor);
  else if (OnTimeAxis(g, x, y))
    setCursor(Qt::PointingHandCursor);
  else
    unsetCursor();
}

void CPaintViewUI::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const WaveSpan before = model_.Visible();
  const bool wasDragging = model_.Dragging();
  Post(model_.MouseMove(Geometry(), pos.x(), pos.y()));
  UpdateCursor(pos.x(), pos.y());
  if (!(model_.Visible() == before))
    VisibleChanged();
  else if (wasDragging || model_.Dragging())
    update();
}

void CPaintViewUI::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::MiddleButton)
    return QWidget::mouseReleaseEvent(event);
  const QPoint pos = event->position().toPoint();
  Post(model_.MouseUp(Geometry(), pos.x(), pos.y()));
  UpdateCursor(pos.x(), pos.y());
  update();
}

void CPaintViewUI::wheelEvent(QWheelEvent* event) {
  const QPoint angle = event->angleDelta();
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  if (model_.Wheel(Geometry(), event->position().x(), angle.y(), angle.x(), shift)) VisibleChanged();
  event->accept();
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
