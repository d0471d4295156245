// The cut page ("audio-cut"): load one file (open-file dialog, drop on the waveform, or a
// recording handed over by the recorder page), listen to it, choose a stretch with the
// markers of the waveform view or by typing its times, audition it, add cut entries to
// "audio-cut-list" and export each one with the transcoder. The view zooms ("zoom-in",
// "zoom-out", "zoom-fit", the wheel) and scrolls ("wave-scroll"); the keys of WaveKeyFor drive
// the player and the markers while the page is shown.
//
// Owns the player and its position ticker; the view owns the waveform reader. Window thread
// only: the player's end callback (its reading thread) only sets the state and posts
// WM_PLAY_END; the ticker and the reader only post.
#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "media/AudioPlayer.h"
#include "media/PositionTicker.h"
#include "ui/FileChooser.h"
#include "ui/WaveViewModel.h"
#include "ui/pages/Page.h"

namespace tw {

class CPaintViewUI;
class CutKeyFilter;

class CutPage : public Page {
 public:
  explicit CutPage(PageContext& context);
  // Stops the ticker and the player before the window's controls go.
  ~CutPage() override;

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-cut";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  void Init() override;
  bool Notify(const QString& type, QObject* sender) override;
  bool HandleMessage(Message& message) override;

  // A file chosen by the user (dialog or drop): markers unset (-1), then loaded and played.
  void LoadFile(const QString& path);
  // Receiving a recording: the recorder page's "recorderCutBtn" hands over its row's entry.
  // The cut page is selected, both times start at 0, and the recording is loaded and played.
  void ReceiveRecording(const FileEntry& recording);

  // State, for the window's other parts and for tests.
  const FileEntry& CutFile() const { return cutFile_; }
  bool HasFile() const { return !cutFile_.fullPath.empty(); }
  double LeftTime() const { return leftTime_; }
  double RightTime() const { return rightTime_; }
  bool AuditionStopAtRight() const { return auditionStopAtRight_; }
  AudioPlayer* Player() const { return player_.get(); }
  CPaintViewUI* View() const { return view_; }

  // The open-file dialog's filter pairs, in the dialog's order.
  static const std::vector<FileFilter>& OpenFilters();

  // A key pressed while the page is shown, for the control that has the focus; true when the
  // page acted on it.
  bool HandleKey(WaveKey key);

 protected:
  // A finished export: the result's own size replaces the source's in the entry.
  void AfterTaskDone(const FinishRecord& finish, QWidget* row) override;

 private:
  void ChooseAndLoad();
  // Resets the times to markerTime, files the entry and runs the load (steps 4-8).
  void Load(const FileEntry& file, double markerTime);
  void StartFile();
  // Replaces the player with a new one playing cutFile_ from the start: the player's result
  // (0, or -2 / -1 with the prompt shown and no player left).
  int StartPlayer();
  void StopPlayer();
  void ShowPlaying(bool playing);
  // Seeks the player and lets it report the end of the file again.
  void Seek(double seconds);
  // A player that has played to the end rests, paused, where the next seek puts it.
  void WakeFinished();
  void Audition(double markerTime, bool stopAtRight);
  void SetTimeText(const char* editName, double seconds);
  // The view's marker follows a start or end time set on the page.
  void ShowMarker(bool left, double seconds);
  // A time typed into an edit box moves its marker at once when it is a time of the file.
  void OnTimeTyped(bool left, const QString& text);
  // The checks of the typed times, then a new entry: its task id, or -1 after a prompt.
  int AddCutEntry();
  // Adds the entry of the chosen stretch and starts its export at once.
  void ExportSelection();
  // The play position moves to t (a click on the waveform, a key): a paused player rests there.
  void MovePlayhead(double seconds);
  void PlayOrPause();
  // Seconds: where the player plays, or rests when it does not play.
  double PlayPosition() const;
  void MarkAtPlayPosition(bool left);
  void OnPlayTick();
  void SyncScrollBar();

  CPaintViewUI* view_ = nullptr;
  QString noFileText_;  // the file label before any file is loaded
  FileEntry cutFile_;
  double leftTime_ = -1;  // seconds; -1 until chosen after a dialog load
  double rightTime_ = -1;
  bool leftGrabWhilePlaying_ = false;
  bool rightGrabWhilePlaying_ = false;
  bool auditionStopAtRight_ = false;
  std::unique_ptr<AudioPlayer> player_;
  std::int64_t playerSerial_ = 0;  // of player_; a late end report of an old player is ignored
  PositionTicker ticker_;
  // A load asked for while another one waits for old threads; run when that one is done.
  bool loadRunning_ = false;
  std::optional<std::pair<FileEntry, double>> pendingLoad_;
  std::unique_ptr<CutKeyFilter> keys_;
};

}  // namespace tw
