// The waveform band of the cut page as the skin places it ("PaintView" in MainWindow.xml).
// Until the waveform view proper is registered in its place (Skin::RegisterWidget), this
// stand-in draws the empty band with its hint. Window thread only.
#pragma once

#include <QWidget>

namespace tw {

class PaintView : public QWidget {
  Q_OBJECT
 public:
  explicit PaintView(QWidget* parent = nullptr);

  // Registers this class as the skin's "PaintView" unless another factory is registered.
  static void RegisterDefault();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tw
