#pragma once

#include <string>

// What the program does before its window exists: the command line, the choice of the
// application data directory and the checks that make a start on the wrong files impossible.
namespace kestrola::Arranque {

struct Opciones {
  bool ayuda = false;      // --help, -h
  bool version = false;    // --version
  bool logStdout = false;  // --log-stdout
  std::string appDir;      // --app-dir DIR or --app-dir=DIR
  std::string error;       // set for an unknown option or a missing folder name
};

// Reads the command line. Arguments that are not options are ignored, as they always were;
// "--" ends the options.
Opciones LeerOpciones(int argc, char** argv);

// The usage text printed by --help and after a command-line error.
std::string Uso();

// True when no display is configured: none of DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM is
// set to a non-empty value.
bool SinPantalla();

// The application data directory chosen by --app-dir, else KESTROLA_HOME, as an absolute path;
// empty when neither is given (the program's folder serves).
std::string DirectorioDatos(const Opciones& opciones);

// Checks that the application data directory can hold this copy's files: the folder exists (it
// is created when missing), config.ini can be read (or, when missing, created), and neither
// config.ini nor printers.ini is a link or a foreign owner's file. Returns the message for the
// person at the terminal, or the empty text when everything can be used.
std::u16string ComprobarDatos(const std::u16string& dataDir);

}  // namespace kestrola::Arranque
