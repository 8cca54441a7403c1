#pragma once

// The CREATE TABLE statements of the print queue (impresora, colaimpresion,
// detallecolaimpresion), read from db/schema/queue.sql when the program is built. The demo, the
// tests and the benchmarks create their queue databases with them; bench/load.py reads the
// same file.

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Text.h"

namespace kestrola::QueueSchema {

// The text of queue.sql (the build writes it into QueueSchemaText.inc).
inline constexpr std::string_view kText =
#include "db/schema/QueueSchemaText.inc"
    ;

// The statements of queue.sql in file order: comments ("--" to the end of the line) dropped,
// each run of blanks and line ends made one blank, the closing ";" left off. With
// `whenMissing`, each CREATE TABLE becomes CREATE TABLE IF NOT EXISTS, for a database that may
// already hold the tables.
inline std::vector<std::u16string> Statements(bool whenMissing = false) {
  std::vector<std::u16string> statements;
  std::string current;
  auto blank = [&] {
    if (!current.empty() && current.back() != ' ') current += ' ';
  };
  auto finish = [&] {
    while (!current.empty() && current.back() == ' ') current.pop_back();
    if (current.empty()) return;
    constexpr std::string_view kCreate = "CREATE TABLE ";
    if (whenMissing && current.starts_with(kCreate)) {
      current.insert(kCreate.size(), "IF NOT EXISTS ");
    }
    statements.push_back(Text::FromUtf8(current));
    current.clear();
  };
  for (size_t i = 0; i < kText.size(); ++i) {
    const char c = kText[i];
    if (kText.substr(i, 2) == "--") {
      i = kText.find('\n', i);
      if (i == std::string_view::npos) break;
      blank();
    } else if (c == ';') {
      finish();
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      blank();
    } else {
      current += c;
    }
  }
  finish();
  return statements;
}

}  // namespace kestrola::QueueSchema
