// The noise page ("audio-noise"): its list, the noise level buttons and the denoiser jobs of its
// rows, run through the window's queue as NoiseRun handles. Window thread only; the jobs post
// from their own threads.
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
  // WM_NOISE_PROGRESS and WM_NOISE_DONE of a row's current job.
  bool HandleMessage(Message& message) override;
  const char* RunAllButtonName() const override { return "all-noise-btn"; }

  int NoiseLevel() const { return noiseLevel_; }

 protected:
  // A denoiser job with the formats and the level of this moment.
  RowJob MakeRowJob(int taskId, const FileEntry& entry) override;

 private:
  int noiseLevel_ = 2;
};

}  // namespace tw
