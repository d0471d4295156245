// The waveform view of the cut page ("PaintView" in MainWindow.xml, found as "paint-view"):
// a file's waveform above a time ruler, the play cursor and the two markers that choose the
// stretch to keep. Mouse gestures become messages to the owner's sink (WM_CUT_START ...
// WM_WAVE_CLICK, seconds in a SecondsRecord); the owner writes the total time, the play time
// and the marker times through Model(). Local files dropped on it go to the drop handler.
//
// Owns the waveform reader (one at a time; LoadWave replaces it, the destructor aborts and
// waits for it). Window thread only; the reader's threads only post to the sink.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/MessageSink.h"
#include "media/PcmWave.h"
#include "ui/WaveViewModel.h"

class QMimeData;

namespace tw {

class CPaintViewUI : public QWidget {
  Q_OBJECT
 public:
  explicit CPaintViewUI(QWidget* parent = nullptr);
  ~CPaintViewUI() override;

  // Registers this class as the skin's "PaintView".
  static void RegisterDefault();
  static QString GetClass() { return QStringLiteral("PaintView"); }

  // Receives the view's messages and the reader's progress; must outlive the reader.
  void SetOwner(MessageSink* owner) { owner_ = owner; }
  void SetDropHandler(std::function<void(const QStringList& paths)> handler) { onDrop_ = std::move(handler); }

  void ResetView();
  void SetTotalTime(double seconds);
  // Repaints soon.
  void Refresh();
  // Replaces the reader (the old one is aborted and waited for, pump served meanwhile) and
  // starts reading the file: 0 when loading has started.
  int LoadWave(const std::string& pathUtf8, const MessagePump& pump = {});

  WaveViewModel& Model() { return model_; }
  const WaveViewModel& Model() const { return model_; }
  // The current reader, or null before the first load.
  const PcmWave* Reader() const { return reader_.get(); }
  // The reader of the current file is still at work (opened, not done, threads running).
  bool Loading() const;
  // The control's rectangle in its own coordinates.
  WaveGeometry Geometry() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void Post(const std::vector<WaveEvent>& events);

  WaveViewModel model_;
  MessageSink* owner_ = nullptr;
  std::unique_ptr<PcmWave> reader_;
  std::function<void(const QStringList&)> onDrop_;
};

// The local files (not folders) among dropped URLs.
QStringList DroppedLocalFiles(const QMimeData* mime);

}  // namespace tw
