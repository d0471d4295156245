#include "ui/dialogs/UserManualDialog.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <cstdio>

#include "app/SettingsFile.h"

namespace tw {
namespace {
QString Numbered(const char* prefix, int index) {
  return QString::asprintf("%s%02d", prefix, index);
}

// The caption of each picture, drawn over the band at its foot.
const char* const kCaptions[UserManualDialog::kPageCount] = {
    QT_TRANSLATE_NOOP("UserManualDialog", "音频剪辑：添加文件，拖动两个标记选出片段，试听后导出"),
    QT_TRANSLATE_NOOP("UserManualDialog", "录音：选择声音来源，可开启降噪和自动增益，录成 MP3"),
    QT_TRANSLATE_NOOP("UserManualDialog", "格式转换：选好格式、声道、采样率和比特率，一键转换"),
    QT_TRANSLATE_NOOP("UserManualDialog", "音频合并：用上下箭头排好顺序，把多个文件合成一个"),
    QT_TRANSLATE_NOOP("UserManualDialog", "音频变速：加快或放慢播放速度，音调保持不变"),
    QT_TRANSLATE_NOOP("UserManualDialog", "音频降噪：去除音频和视频里持续的背景噪声"),
    QT_TRANSLATE_NOOP("UserManualDialog", "背景音乐：选一首音乐，调好音量和延迟，混在声音下面"),
};
}  // namespace

QString UserManualDialog::Caption(int index) {
  return QStringLiteral("%1/%2  %3")
      .arg(index + 1)
      .arg(kPageCount)
      .arg(QCoreApplication::translate("UserManualDialog", kCaptions[index]));
}

UserManualDialog::UserManualDialog(QWidget* owner) : SkinDialog(owner, QString()) {
  timer_.setObjectName(QString::number(kAdvanceTimerId));
  timer_.setInterval(kAdvancePeriodMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Advance(); });
}

UserManualDialog::~UserManualDialog() {
  MarkSeen();
}

UserManualDialog* UserManualDialog::ShowAtFirstStart(QWidget* owner) {
  if (SettingsFile::Instance().GetInt(kSettingsSection, kKeyUserManual, 0) != 0) return nullptr;
  auto* dialog = new UserManualDialog(owner);
  try {
    dialog->Create();
  } catch (const DialogError& e) {
    LOG(ERROR) << e.what();
    delete dialog;
    return nullptr;
  }
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->CenterWindow();
  dialog->show();
  return dialog;
}

void UserManualDialog::InitWindow() {
  images_.clear();
  markers_.clear();
  for (int i = 0; i < kPageCount; ++i) {
    images_ << Require<QWidget>(Numbered("image", i).toLatin1().constData());
    markers_ << Require<QAbstractButton>(Numbered("page", i).toLatin1().constData());
  }
  caption_ = Require<QLabel>("manual-caption");
  caption_->setText(Caption(0));
  nextBtn_ = Require<QAbstractButton>("nextBtn");
  closeButton_ = Require<QAbstractButton>("closebtn");
  current_ = 0;
  timer_.start();
}

void UserManualDialog::ShowPage(int index) {
  for (QWidget* image : images_) image->hide();
  images_[index]->show();
  caption_->setText(Caption(index));
  current_ = index;
}

void UserManualDialog::Advance() {
  const int next = (current_ + 1) % kPageCount;
  ShowPage(next);
  selecting_ = true;
  markers_[next]->setChecked(true);
  selecting_ = false;
}

void UserManualDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click" && sender == nextBtn_) {
    timer_.stop();
    std::printf("index: %d\n", current_);
    std::fflush(stdout);
    Advance();
    timer_.start();
    return;
  }
  if (type == "click" && sender == closeButton_) return Close(0);
  if (type == "selectchanged" && !selecting_) {
    const int index = markers_.indexOf(qobject_cast<QAbstractButton*>(sender));
    if (index >= 0) {
      timer_.stop();
      ShowPage(index);
      timer_.start();
      return;
    }
  }
  SkinDialog::Notify(type, sender);
}

void UserManualDialog::showEvent(QShowEvent* event) {
  SkinDialog::showEvent(event);
  shown_ = true;
}

void UserManualDialog::done(int result) {
  timer_.stop();
  MarkSeen();
  SkinDialog::done(result);
}

void UserManualDialog::MarkSeen() {
  if (!shown_ || marked_) return;
  marked_ = true;
  if (!SettingsFile::Instance().WriteString(kSettingsSection, kKeyUserManual, "1"))
    LOG(ERROR) << "cannot write user-manual to " << SettingsFile::Instance().Path();
}

}  // namespace tw
