#pragma once

#include <QLabel>
#include <chrono>
#include <string>

#include "service/EstadoServicio.h"

namespace kestrola {

// The status line under the activity box: in a few Spanish lines, whether the service runs,
// the database connection, each printer of this terminal, the jobs waiting and the last job
// printed, and any setting or log failure that needs the cashier. Lives on the window's thread.
class LineaEstado : public QLabel {
 public:
  explicit LineaEstado(QWidget* parent = nullptr);

  // Shows a state; the text changes only when the state does.
  void Mostrar(const FotoEstado& foto);

  // The text for a state, one line per subject. Times of today show as "hh:mm:ss", earlier
  // ones with their date.
  static std::u16string Texto(const FotoEstado& foto, std::chrono::system_clock::time_point ahora);
  // True when something shown needs attention (drawn in red).
  static bool HayProblema(const FotoEstado& foto);
};

}  // namespace kestrola
