// The noise page ("audio-noise"): its list, the noise level buttons and the runs of the
// denoisers, kept by row id. Window thread only; the jobs post from their own threads.
#pragma once

#include <memory>

#include "ui/pages/Page.h"

namespace tw {

class NoiseJobTable;

class NoisePage : public Page {
 public:
  explicit NoisePage(PageContext& context);
  ~NoisePage() override;

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-noise";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool Notify(const QString& type, QObject* sender) override;
  // WM_NOISE_PROGRESS and WM_NOISE_DONE.
  bool HandleMessage(Message& message) override;
  // The row's running denoiser ends and leaves nothing behind.
  void EndRowWork(int taskId) override;
  // Every running denoiser ends and leaves nothing behind.
  void WindowClosing() override;

  int NoiseLevel() const { return noiseLevel_; }
  // The running denoisers (one per row at most).
  const NoiseJobTable& Jobs() const { return *jobs_; }

 private:
  void StartNoise(QObject* button);
  void ShowFailed(int taskId);

  int noiseLevel_ = 2;
  std::unique_ptr<NoiseJobTable> jobs_;  // destroyed with the page: running jobs end quietly
};

}  // namespace tw
