#pragma once

#include <QPointer>
#include <QWidget>

#include "runtime/UserInterface.h"

namespace kestrola {

// Message and input boxes as Qt dialogs over the service window. On a platform without a
// screen (offscreen, minimal) nobody could answer a dialog, so message boxes are written to
// standard error and input boxes answer as cancelled.
//
// Threads: may be called from any thread. A message box asked for by another thread is shown
// on the window's thread without the caller waiting; an input box waits for its answer.
class QtUserInterface : public UserInterface {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }

  void MessageBox(const std::u16string& text, MessageIcon icon,
                  const std::u16string& caption) override;
  std::u16string InputBox(const std::u16string& prompt, const std::u16string& caption,
                          const std::u16string& defaultText) override;

  static bool Headless();

 private:
  QPointer<QWidget> parent_;
};

}  // namespace kestrola
