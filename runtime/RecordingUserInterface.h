#pragma once

#include <string>
#include <vector>

#include "runtime/UserInterface.h"

namespace kestrola {

// Records every box shown and answers input boxes from a queue of prepared answers
// (the empty text, a cancel, once the queue is used up).
class RecordingUserInterface : public UserInterface {
 public:
  struct Box {
    bool isInput = false;
    std::u16string text;  // message or prompt
    MessageIcon icon = MessageIcon::None;
    std::u16string caption;
    std::u16string defaultText;
  };

  void MessageBox(const std::u16string& text, MessageIcon icon,
                  const std::u16string& caption) override {
    boxes.push_back({false, text, icon, caption, u""});
  }
  std::u16string InputBox(const std::u16string& prompt, const std::u16string& caption,
                          const std::u16string& defaultText) override {
    boxes.push_back({true, prompt, MessageIcon::None, caption, defaultText});
    if (answers.empty()) return u"";
    std::u16string a = answers.front();
    answers.erase(answers.begin());
    return a;
  }

  std::vector<Box> boxes;
  std::vector<std::u16string> answers;
};

}  // namespace kestrola
