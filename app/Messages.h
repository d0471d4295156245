// Every custom window message of Tunewell, by number. Engines post these through a
// MessageSink; the main window routes them by number to the page that handles them.
#pragma once

namespace tw {

constexpr unsigned WM_USER = 1024;

constexpr unsigned WM_NOISE_PROGRESS = WM_USER + 100;        // 1124 NoiseProgressRecord
constexpr unsigned WM_NOISE_DONE = WM_USER + 101;            // 1125 NoiseDoneRecord
constexpr unsigned WM_MENU_QUIT = WM_USER + 210;             // 1234
constexpr unsigned WM_MENU_HOME = WM_USER + 211;             // 1235
constexpr unsigned WM_MENU_HELP = WM_USER + 212;             // 1236
constexpr unsigned WM_MENU_SETTINGS = WM_USER + 213;         // 1237
constexpr unsigned WM_MENU_FEEDBACK = WM_USER + 214;         // 1238
constexpr unsigned WM_MENU_UPGRADE = WM_USER + 215;          // 1239
constexpr unsigned WM_TRAY_NOTIFY = WM_USER + 230;           // 1254 param: mouse message
constexpr unsigned WM_CUT_START = WM_USER + 300;             // 1324 SecondsRecord
constexpr unsigned WM_CUT_END = WM_USER + 301;               // 1325 SecondsRecord
constexpr unsigned WM_LEFT_MARKER_GRAB = WM_USER + 302;      // 1326
constexpr unsigned WM_RIGHT_MARKER_GRAB = WM_USER + 303;     // 1327
constexpr unsigned WM_LEFT_MARKER_RELEASE = WM_USER + 304;   // 1328
constexpr unsigned WM_RIGHT_MARKER_RELEASE = WM_USER + 305;  // 1329
constexpr unsigned WM_WAVE_CLICK = WM_USER + 320;            // 1344 SecondsRecord
constexpr unsigned WM_TASK_PROGRESS = WM_USER + 330;         // 1354 ProgressRecord
constexpr unsigned WM_TASK_DONE = WM_USER + 331;             // 1355 FinishRecord
constexpr unsigned WM_TASK_FAILED = WM_USER + 332;           // 1356 FailureRecord
constexpr unsigned WM_LIST_OPEN_DIR = WM_USER + 350;         // 1374 ListRecord
constexpr unsigned WM_LIST_ADD_TO_CONVERT = WM_USER + 351;   // 1375 ListRecord
constexpr unsigned WM_LIST_ADD_TO_SPEED = WM_USER + 352;     // 1376 ListRecord
constexpr unsigned WM_LIST_ADD_TO_NOISE = WM_USER + 353;     // 1377 ListRecord
constexpr unsigned WM_LIST_ADD_TO_VOLUME = WM_USER + 356;    // 1380 ListRecord
constexpr unsigned WM_LIST_REMOVE = WM_USER + 357;           // 1381 ListRecord
constexpr unsigned WM_LIST_DELETE = WM_USER + 358;           // 1382 ListRecord
// Row menus, "cancel-task": the row's job ends.
constexpr unsigned WM_LIST_CANCEL = WM_USER + 359;           // 1383 ListRecord
constexpr unsigned WM_LOADING_SHOW = WM_USER + 500;          // 1524 param: percent
constexpr unsigned WM_LOADING_HIDE = WM_USER + 501;          // 1525
// The values of a stretch the waveform view asked for, read on the view's stretch reader.
constexpr unsigned WM_WAVE_STRETCH = WM_USER + 502;          // 1526 WaveStretchRecord
constexpr unsigned WM_PLAY_TICK = WM_USER + 510;             // 1534
// The cut page's player has played to the end (posted from its reading thread).
constexpr unsigned WM_PLAY_END = WM_USER + 511;              // 1535 param: the player's serial
constexpr unsigned WM_RECORD_TIME = WM_USER + 700;           // 1724 param: seconds
// A recording that cannot go on (a device or the sound server went away, the file cannot be
// written), posted once by the recorder; param: the RecordFailure of media/AudioRecorder.h.
constexpr unsigned WM_RECORD_FAILED = WM_USER + 701;         // 1725 param: failure
// One file of the recordings folder, found by the recorder page's start-up scan.
constexpr unsigned WM_RECORD_SCAN_ENTRY = WM_USER + 702;     // 1726 RecordingRecord
// The default devices' levels as the sound server has them now (posted by the recorder page's
// LevelWatcher); param: (microphone level + 1) x 1000 + playback level + 1, each -1 when absent.
constexpr unsigned WM_RECORD_LEVELS = WM_USER + 703;         // 1727

// Not a window message of the table: requests of the queue's worker for row changes of a job
// it starts, which only the window thread may apply (RowRequestRecord).
constexpr unsigned WM_JOB_ROW_REQUEST = WM_USER + 800;       // 1824

// Nor these: the online services' requests run off the window thread and report here.
constexpr unsigned WM_UPGRADE_CHECKED = WM_USER + 810;       // 1834 UpgradeCheckRecord
constexpr unsigned WM_DOWNLOAD_PROGRESS = WM_USER + 811;     // 1835 param: percent
constexpr unsigned WM_DOWNLOAD_DONE = WM_USER + 812;         // 1836 DownloadDoneRecord
constexpr unsigned WM_FEEDBACK_DONE = WM_USER + 813;         // 1837 param: FeedbackResult

// The timer of the recorder page that scrolls the recordings list.
constexpr int kRecordListTimerId = 1001;

}  // namespace tw
