#pragma once

// What the window's tests share: a QApplication on Qt's offscreen platform, and waiting for
// the window while its event loop runs.

#include <QApplication>
#include <QTest>

#include <chrono>
#include <functional>
#include <string>

namespace kestrola::testing {

// Creates the process's QApplication on the offscreen platform, once; `program` is its name.
inline void StartOffscreenApplication(const char* program) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (QApplication::instance()) return;
  // QApplication keeps argc and argv for its whole life.
  static int argc = 1;
  static std::string name = program;
  static char* argv[] = {name.data(), nullptr};
  new QApplication(argc, argv);
}

// Keeps the event loop running until `done` holds; false after `limit`.
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QTest::qWait(10);
  }
  return true;
}

}  // namespace kestrola::testing
