// The print-queue service: one window that polls the queue of its terminal once a second.
// The command line is ignored.
#include <QApplication>
#include <cstdlib>

#include "printing/ReceiptPreview.h"
#include "runtime/Application.h"
#include "service/QtUserInterface.h"
#include "service/frmKestrola.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kestrola::QtUserInterface ui;
  kestrola::Application::SetUi(&ui);

  // Receipts sent to folder printers get a picture beside them.
  kestrola::ReceiptPreview::Install();

  kestrola::frmKestrola window;
  ui.SetParent(&window);
  window.Form_Load();
  if (window.Terminar()) return 0;
  window.show();
  int rc = app.exec();
  // A job being delivered gets a bounded time to finish; a worker still blocked after it
  // (a printer or database that does not answer) is left with its job whole in the queue.
  if (!window.DetenerServicio()) std::_Exit(rc);
  kestrola::Application::SetUi(nullptr);
  return rc;
}
