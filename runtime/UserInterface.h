#pragma once

#include <string>
#include <vector>

namespace kestrola {

// Icons of a message box.
enum class MessageIcon { None, Critical, Question, Exclamation, Information };

// The modal boxes a component may show: a message box and an input box. The window supplies
// a Qt implementation; tools and tests use a console or recording one.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual void MessageBox(const std::u16string& text, MessageIcon icon,
                          const std::u16string& caption) = 0;
  // The text the user entered, or the empty text on cancel.
  virtual std::u16string InputBox(const std::u16string& prompt, const std::u16string& caption,
                                  const std::u16string& defaultText) = 0;
};

}  // namespace kestrola
