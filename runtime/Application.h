#pragma once

#include <string>

namespace kestrola {

class UserInterface;

// The running program: its executable name and directory, the application data directory, and
// the user interface that components use for message and input boxes.
namespace Application {

// The executable's file name without extension (from /proc/self/exe).
std::u16string EXEName();
// The directory that holds the executable, without a trailing slash. Tests may replace it.
std::u16string Path();
void SetPath(std::u16string path);

// The application data directory: where config.ini, printers.ini and the daily logs live. It is
// the folder chosen with SetDataPath (the program's --app-dir option or KESTROLA_HOME), else
// Path(), so that a copied program folder keeps working on its own. No trailing slash.
std::u16string DataPath();
// An empty path goes back to Path().
void SetDataPath(std::u16string path);

// The user interface for message and input boxes. Until one is set, a console interface
// writes message boxes to standard error and reads input boxes from standard input.
UserInterface& Ui();
void SetUi(UserInterface* ui);

}  // namespace Application
}  // namespace kestrola
