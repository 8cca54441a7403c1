#pragma once

#include <string>

#include "runtime/Variant.h"

// The lenient JSON reader. It turns JSON-like text into a tree of Dictionary objects (JSON
// objects) and Collection lists (JSON arrays) holding texts, Decimal numbers, booleans, null
// and, where nothing could be read, the empty value. Besides standard JSON it accepts
// single-quoted strings, unquoted member names, "//" and "/* */" comments and parentheses
// between tokens.
//
// Bad input never fails the call: the reader returns what it could build and collects one
// message line (ending in CR LF) per problem in a text shared by the whole process, which the
// caller must test with LastParseErrors() before trusting the tree.
//
// Behaviour worth knowing:
// - Containers nest at most kMaxNesting deep; a deeper one is reported as "Out of stack space".
// - When a value fails inside an object or an array (a number that cannot be converted, a
//   duplicate key, too deep a nesting), that container reports it, keeps what it built and
//   stops, and so does every container around it: the first problem is reported once instead
//   of being followed by a cascade of messages about misaligned text.
// - A "true", "false" or "null" that cannot be read inside an array stops the array in the same
//   way (inside an object the next member name moves the reader on).
// - The text quoted after "Invalid Boolean"/"Invalid null value" is the rest of the text, cut to
//   kMaxQuoted characters so that a long text with many bad literals stays linear.
namespace kestrola::JSON {

constexpr int kMaxNesting = 2000;
constexpr int kMaxQuoted = 256;

// Parses `text` (not changed). Returns the root Dictionary or Collection, or no object when
// the text does not start with "{" or "[" (after blanks and comments).
ObjectRef ParseJson(const std::u16string& text);

// The messages of the latest ParseJson: empty when it went well.
std::u16string LastParseErrors();

}  // namespace kestrola::JSON
