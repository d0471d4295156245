// The recorder page ("audio-record"): source, levels, quality, start/pause/stop and the recordings list.
//
// The page owns the one AudioRecorder of the window (none while idle) and the start-up scan of the
// recordings folder. Window thread only, except the scan thread: it is started by Init, reads the
// folder and probes its MP3 files, posts one WM_RECORD_SCAN_ENTRY per file through the window's
// sink, ends on its own or on scanStop_, and is joined by the destructor.
#pragma once

#include <QString>
#include <QTimer>
#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "ui/pages/Page.h"

namespace tw {

class AudioRecorder;
class LevelWatcher;

// The record of WM_RECORD_SCAN_ENTRY: one recording found by the scan, probed. Owned by the
// receiver.
struct RecordingRecord : MessageRecord {
  explicit RecordingRecord(FileEntry e) : entry(std::move(e)) {}
  FileEntry entry;
};

// What a press of "recorder-start" does after looking at the devices.
enum class RecordStartCheck {
  Go,              // record as chosen
  NoRenderDevice,  // "未启用音频输出设备!", stay idle
  SystemOnly,      // "没有插入麦克风设备,仅录系统声音", then record the system sound alone
  NoMicrophone,    // "请先插入麦克风设备!", stay idle
};
RecordStartCheck CheckRecordStart(int voiceSource, bool hasRenderDevice, bool hasMicrophone);

// The bit rate of a "record-audio-quality" item text; 128000 for any other text.
int RecordBitRate(const QString& qualityText);
// "新录音-" + the local time as "%Y%m%d%H%M%S" + ".mp3".
std::string RecordingFileName(std::time_t when);
// True for a name whose text after the last "." is exactly "mp3" or "MP3".
bool IsListedRecording(const std::string& fileName);
// The entry a recordings row shows for folder + "/" + fileName: size 0 when the file cannot be
// read, duration 0 when it cannot be probed. Any thread.
FileEntry RecordingEntry(const std::string& folder, const std::string& fileName);
// The recordings folder (the output folder + "/录音"); made only when make is true.
std::string RecordingsFolder(bool make);

class RecordPage : public Page {
 public:
  explicit RecordPage(PageContext& context);
  ~RecordPage() override;

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-record";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  void Init() override;
  bool Notify(const QString& type, QObject* sender) override;
  bool HandleMessage(Message& message) override;
  // A recording in progress is stopped and its file finished before the window goes.
  void WindowClosing() override;

  // The recorder of the recording in progress or paused; null while idle.
  const AudioRecorder* Recorder() const { return recorder_.get(); }
  // The file of the current or last recording.
  std::string RecordingPath() const { return recordingsFolder_ + "/" + recordingFileName_; }
  // True until the start-up scan has delivered every file it found.
  bool Scanning() const { return scanPending_.load() > 0 || scanRunning_.load(); }

 private:
  void Start();
  void Pause();
  // Ends the recording and lists its file; failure, when not FailureNone, is then prompted.
  void Stop(int failure = 0);
  // Stops the recorder, waits for its file to be finished and destroys it; the recording's
  // failure (FailureNone when all went well).
  int FinishRecorder();
  void ShowRecording(bool recording, bool paused = false);
  void OnLevelChanged(const QString& name, int value);
  void OnSelectChanged(const QString& name, QObject* sender);
  void ReceiveInCutPage(QObject* button);
  void InitControls();
  void StartScan();
  void Scan(std::string folder);

  std::unique_ptr<AudioRecorder> recorder_;
  // The level sliders' link to the sound server (from Init on).
  std::unique_ptr<LevelWatcher> levels_;
  void ShowLevels(int capture, int render);
  std::string recordingFileName_;
  std::string recordingsFolder_;
  QTimer listTimer_;   // timer 1001: brings a new recording into view
  QString startText_;  // the layout's text of "recorder-start"
  bool afterStop_ = false;  // from a stop to the next start: WM_RECORD_TIME is late

  std::thread scan_;
  std::atomic<bool> scanStop_{false};
  std::atomic<bool> scanRunning_{false};
  std::atomic<int> scanPending_{0};  // scan entries posted and not yet handled
};

}  // namespace tw
