#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/Application.h"
#include "runtime/UserInterface.h"
#include "runtime/Variant.h"

namespace kestrola {

class Dictionary;

// Runs small scripts written as JSON and turns each one into one output text. A script is an
// array: its texts are copied to the output and its objects are commands ("alert", "input",
// "switch", "set", "get", "if", "return"); any other command name is written out as a template
// call "<%NAME(arguments)%>" for whoever consumes the output.
//
// Failures are raised as kestrola::Error and end the whole call; nothing is caught here.
// Object required (424) covers a value that must be an object or array and is not, including
// a command that needs parameters but was given a text. Variables set before a failure keep
// their values, and the nesting count is restored on the way out.
//
// A script whose root is an object is run as that one command object.
//
// The texts an instance holds (the outputs being built and its variables) are counted against
// a memory limit; a script that would go beyond it fails with error 7 ("Out of memory") instead
// of exhausting the machine. An output counts 4 bytes per character (its UTF-16 text and the
// copy handed to its caller), a variable 2 bytes per character of its name and text.
class cJSONScript {
 public:
  // Evaluations nested deeper than this are refused with kNestingExceeded.
  static constexpr int32_t kMaxNestingLevel = 41;
  static constexpr const char16_t* kNestingExceeded = u"ERROR: Nesting level exceeded.";

  static constexpr int64_t kDefaultMemoryLimit = int64_t{1} << 30;  // 1 GiB

  explicit cJSONScript(UserInterface& ui = Application::Ui());

  // The memory limit in bytes; error 5 below 1. Lowering it below what the variables already
  // take makes the next text that is added fail.
  void SetMemoryLimit(int64_t bytes);
  int64_t MemoryLimit() const { return memoryLimit_; }

  // Parses and runs a script. When the text has parse problems, they are shown in a message
  // box captioned "Parser Error" and the result is the empty text.
  std::u16string Eval(const std::u16string& script);
  // Evaluates one script value.
  std::u16string ExecCommand(const Variant& value);

  // The number of ExecCommand evaluations in progress (0 between calls).
  int32_t NestingLevel() const { return nestingLevel_; }

 private:
  class Output;
  struct Command;
  // Runs one command of a script object, appending what it produces to the output.
  using Handler = void (cJSONScript::*)(const Command&, Output&);

  // Runs every member of a command object, in order, through the command table.
  void RunCommands(const Dictionary& commands, Output& out);
  // The handler of a command name in lower case; Template for a name that is no command.
  static Handler FindCommand(std::u16string_view lowerName);
  void Alert(const Command& c, Output& out);
  void Input(const Command& c, Output& out);
  void Switch(const Command& c, Output& out);
  void Set(const Command& c, Output& out);
  void Get(const Command& c, Output& out);
  void If(const Command& c, Output& out);
  void Return(const Command& c, Output& out);
  void Template(const Command& c, Output& out);
  // Counts `bytes` more against the limit (error 7 beyond it), or gives them back.
  void Charge(int64_t bytes);
  void Release(int64_t bytes) noexcept { memoryInUse_ -= bytes; }

  UserInterface& ui_;
  int64_t memoryLimit_ = kDefaultMemoryLimit;
  int64_t memoryInUse_ = 0;
  int32_t nestingLevel_ = 0;
  std::shared_ptr<Dictionary> variables_;  // created on first use, kept for the instance's life
};

}  // namespace kestrola
