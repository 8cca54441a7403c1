#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Application.h"
#include "runtime/UserInterface.h"
#include "runtime/Variant.h"

namespace kestrola {

class Dictionary;
class cStringBuilder;

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
class cJSONScript {
 public:
  static constexpr int32_t kErrObjectRequired = 424;
  // Evaluations nested deeper than this are refused with kNestingExceeded.
  static constexpr int32_t kMaxNestingLevel = 41;
  static constexpr const char16_t* kNestingExceeded = u"ERROR: Nesting level exceeded.";

  explicit cJSONScript(UserInterface& ui = Application::Ui());

  // Parses and runs a script. When the text has parse problems, they are shown in a message
  // box captioned "Parser Error" and the result is the empty text.
  std::u16string Eval(const std::u16string& script);
  // Evaluates one script value.
  std::u16string ExecCommand(const Variant& value);

  // The number of ExecCommand evaluations in progress (0 between calls).
  int32_t NestingLevel() const { return nestingLevel_; }

 private:
  void RunCommands(const Dictionary& commands, cStringBuilder& out);

  UserInterface& ui_;
  int32_t nestingLevel_ = 0;
  std::shared_ptr<Dictionary> variables_;  // created on first use, kept for the instance's life
};

}  // namespace kestrola
