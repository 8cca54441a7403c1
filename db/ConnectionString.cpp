#include "db/ConnectionString.h"

namespace kestrola::ConnectionString {

std::u16string Build(std::u16string_view server, std::u16string_view database) {
  std::u16string text = u"server=";
  text += server;
  text += u";driver={SQL Server};database=";
  text += database;
  return text;
}

std::u16string QuoteValue(std::u16string_view value) {
  if (value.find_first_of(u";{}") == std::u16string_view::npos) return std::u16string(value);
  std::u16string quoted = u"{";
  for (char16_t c : value) {
    quoted += c;
    if (c == u'}') quoted += u'}';
  }
  quoted += u'}';
  return quoted;
}

std::u16string WithCredentials(std::u16string_view connectionString, std::u16string_view user,
                               std::u16string_view password) {
  std::u16string text(connectionString);
  if (!text.empty() && text.back() != u';') text += u';';
  text += u"UID=";
  text += QuoteValue(user);
  text += u";PWD=";
  text += QuoteValue(password);
  text += u';';
  return text;
}

}  // namespace kestrola::ConnectionString
