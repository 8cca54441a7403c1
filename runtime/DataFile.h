#pragma once

#include <sys/types.h>

#include <string>

// Opening the files the program keeps in its application data directory (config.ini,
// printers.ini, the daily logs, the instance lock) so that nobody who can write into that
// directory redirects them elsewhere:
//  - a symbolic link in place of the file is never followed, and only regular files are opened
//    (a FIFO or a device would hang or misdirect the program);
//  - a file is used only when it belongs to this user, to root, or to a member of the
//    directory's group (the service's group in a shared directory);
//  - in a shared directory (set-group-ID bit set) a new file is readable and writable by the
//    group, so that every account of the terminal can use it; elsewhere it gets `newMode`.
// Refusals come back as a message for the person at the terminal.
namespace kestrola::DataFile {

// Opens `path` with `flags` (O_RDONLY, O_WRONLY, O_RDWR, O_APPEND, O_TRUNC; O_CREAT creates a
// missing file with `newMode`, less the umask; O_TRUNC empties the file only once it has passed
// the checks). Returns the descriptor (close-on-exec), or -1
// with `error` set. `created` tells whether this call created the file.
int Open(const std::string& path, int flags, mode_t newMode, std::u16string& error,
         bool* created = nullptr);

// Reads the whole file. False with `error` set when it is refused or cannot be read; a file
// that does not exist gives false with an empty `error`.
bool ReadAll(const std::string& path, std::string& bytes, std::u16string& error);

// Whether `dir` is a shared data directory: a directory with its set-group-ID bit set.
bool SharedDirectory(const std::string& dir);

// The folder part of `path` ("." when there is none).
std::string Folder(const std::string& path);

}  // namespace kestrola::DataFile
