// The noise page ("audio-noise"): the list handed to the denoisers and the noise level.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class NoisePage : public Page {
 public:
  explicit NoisePage(PageContext& context) : Page(context, OperationKind::Noise) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-noise";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool Notify(const QString& type, QObject* sender) override;
  bool HandleMessage(Message& message) override;

  int NoiseLevel() const { return noiseLevel_; }

 private:
  int noiseLevel_ = 2;
};

}  // namespace tw
