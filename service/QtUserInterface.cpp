#include "service/QtUserInterface.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QThread>
#include <iostream>

#include "runtime/Text.h"

namespace kestrola {

namespace {

QString ToQt(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string FromQt(const QString& s) {
  return s.toStdU16String();
}

}  // namespace

bool QtUserInterface::Headless() {
  QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void QtUserInterface::MessageBox(const std::u16string& text, MessageIcon icon,
                                 const std::u16string& caption) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() != app->thread()) {
    // Dialogs belong to the window's thread: the box is shown there, and this thread (the
    // queue worker or the log follower) goes on without waiting for the cashier.
    QMetaObject::invokeMethod(
        app, [this, text, icon, caption] { MessageBox(text, icon, caption); },
        Qt::QueuedConnection);
    return;
  }
  if (Headless()) {
    std::string line = Text::ToUtf8(caption.empty() ? text : caption + u": " + text);
    for (char& c : line) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    std::cerr << line << std::endl;
    return;
  }
  QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
  switch (icon) {
    case MessageIcon::Critical:
      qtIcon = QMessageBox::Critical;
      break;
    case MessageIcon::Question:
      qtIcon = QMessageBox::Question;
      break;
    case MessageIcon::Exclamation:
      qtIcon = QMessageBox::Warning;
      break;
    case MessageIcon::Information:
      qtIcon = QMessageBox::Information;
      break;
    case MessageIcon::None:
      break;
  }
  QMessageBox box(qtIcon, ToQt(caption), ToQt(text), QMessageBox::Ok, parent_.data());
  box.exec();
}

std::u16string QtUserInterface::InputBox(const std::u16string& prompt,
                                         const std::u16string& caption,
                                         const std::u16string& defaultText) {
  if (Headless()) return u"";
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() != app->thread()) {
    std::u16string answer;
    QMetaObject::invokeMethod(
        app, [&] { answer = InputBox(prompt, caption, defaultText); },
        Qt::BlockingQueuedConnection);
    return answer;
  }
  bool ok = false;
  QString answer = QInputDialog::getText(parent_.data(), ToQt(caption), ToQt(prompt),
                                         QLineEdit::Normal, ToQt(defaultText), &ok);
  return ok ? FromQt(answer) : u"";
}

}  // namespace kestrola
