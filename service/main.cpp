// The print-queue service: one window that polls the queue of its terminal once a second.
// The command line is ignored.
#include <QApplication>

#include "printing/ReceiptPreview.h"
#include "runtime/Application.h"
#include "service/CicloCola.h"
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
  // The queue cycle pauses between jobs without freezing the window.
  kestrola::CicloCola ciclo(&kestrola::frmKestrola::EsperarProcesandoEventos);
  window.SetCiclo([&ciclo](kestrola::frmKestrola& w) { ciclo.Ejecutar(w.Datos()); });
  window.Form_Load();
  if (window.Terminar()) return 0;
  window.show();
  int rc = app.exec();
  kestrola::Application::SetUi(nullptr);
  return rc;
}
