// The window side of the upgrade check: starts checks (the silent one at start-up, the one
// the user asks for from the menu) on the checker thread, and when WM_UPGRADE_CHECKED arrives
// tells the user: the offer and the download (ShowUpgradeOffer), "没有发现新版本!" or, for a
// check the user asked for that got no answer, "网络错误!". One check and one offer at a time:
// asking again while a check runs only makes it tell its result; while an offer is open it
// raises that offer. Owned by the main window; window thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

#include "app/MessageSink.h"
#include "net/UpgradeCheck.h"

namespace tw {

enum class UpgradeOutcome {
  kDeclined,    // the user did not take the offer
  kCancelled,   // the user stopped a download that was not mandatory
  kFailed,      // the download or the installer's start failed (the user was told)
  kEndProgram,  // the installer started, or a mandatory update was refused or left to the browser
  kBrowser,     // the download address went to the browser
};

// The offer ("发现新版本啦!", a confirmation, or only a notice when mandatory), then the
// download dialog: only for an https address with a plain file name and the installer's
// SHA-256, and the file is opened only when it matches. Any other offer opens its address in
// the browser instead of fetching it. Modal over owner.
UpgradeOutcome ShowUpgradeOffer(QWidget* owner, const UpgradeReply& reply);

class UpgradeController {
 public:
  // endProgram ends the whole program (the installer replaces it).
  UpgradeController(QWidget* owner, MessageSink* sink, std::function<void()> endProgram);

  // notifyNoUpdate: the user asked, so say so when nothing is new or no answer came.
  void Check(bool notifyNoUpdate);
  // WM_UPGRADE_CHECKED. True when handled.
  bool HandleMessage(Message& message);

  bool Checking() const { return checker_.Running(); }
  bool Offering() const { return offering_; }

 private:
  QPointer<QWidget> owner_;
  MessageSink* sink_;
  std::function<void()> endProgram_;
  bool offering_ = false;
  bool notifyPending_ = false;
  UpgradeChecker checker_;  // last: joined before the rest goes
};

}  // namespace tw
