// The print-queue service: one window that polls the queue of its terminal once a second.
// The command line is ignored.
#include <QApplication>

#include "runtime/Application.h"
#include "service/QtUserInterface.h"
#include "service/frmKestrola.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kestrola::QtUserInterface ui;
  kestrola::Application::SetUi(&ui);

  kestrola::frmKestrola window;
  ui.SetParent(&window);
  window.Form_Load();
  if (window.Terminar()) return 0;
  window.show();
  int rc = app.exec();
  kestrola::Application::SetUi(nullptr);
  return rc;
}
