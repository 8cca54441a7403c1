#include "jsonscript/cJSONScript.h"

#include <algorithm>

#include "jsonscript/JSON.h"
#include "runtime/Collection.h"
#include "runtime/Dictionary.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "text/cStringBuilder.h"

namespace kestrola {

namespace {

constexpr const char16_t* kSource = u"cJSONScript";

[[noreturn]] void ObjectRequired() {
  throw Error::Standard(kErrObjectRequired, kSource);
}
[[noreturn]] void Fail(int32_t number) {
  throw Error::Standard(number, kSource);
}

// A named member of a parameter object. An absent member is the empty value; parameters given
// as an array have no names to read, and anything else is not an object at all.
const Variant& Member(const Variant& container, const std::u16string& name) {
  if (auto dict = container.ObjectAs<Dictionary>()) return dict->Item(name);
  if (container.ObjectAs<Collection>()) Fail(kErrInvalidCall);
  ObjectRequired();
}

// The plain text form of a raw (unevaluated) value: texts as they are, numbers with "." as
// decimal point, booleans "true"/"false", the empty value "". Null, objects and arrays have
// none.
std::u16string PlainText(const Variant& v) {
  if (v.IsString()) return v.AsString();
  if (v.IsBoolean()) return v.AsBoolean() ? u"true" : u"false";
  if (v.IsNull()) Fail(kErrInvalidUseOfNull);
  if (v.IsObject() || v.IsArray()) Fail(kErrTypeMismatch);
  return v.ToText();
}

struct LevelGuard {
  explicit LevelGuard(int32_t& l) : level(l) { ++level; }
  ~LevelGuard() { --level; }
  int32_t& level;
};

bool IsContainer(const Variant& v) {
  return v.ObjectAs<Dictionary>() != nullptr || v.ObjectAs<Collection>() != nullptr;
}

// The comparison of an "if" command; an unknown type is false. "eq" ignores letter case, the
// others compare the texts code unit by code unit.
bool Compare(std::u16string_view type, const std::u16string& value1, const std::u16string& value2) {
  if (type == u"eq") return Text::ToLower(value1) == Text::ToLower(value2);
  if (type == u"gt") return value1 > value2;
  if (type == u"lt") return value1 < value2;
  if (type == u"gte") return value1 >= value2;
  if (type == u"lte") return value1 <= value2;
  return false;
}

// Bytes counted per character of text.
constexpr int64_t kOutputBytesPerChar = 4;
constexpr int64_t kVariableBytesPerChar = 2;

}  // namespace

// An output text being built, counted against the instance's memory limit until it is gone.
class cJSONScript::Output {
 public:
  explicit Output(cJSONScript& owner) : owner_(owner) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() { owner_.Release(charged_); }

  void Append(std::u16string_view text) {
    const int64_t bytes = static_cast<int64_t>(text.size()) * kOutputBytesPerChar;
    owner_.Charge(bytes);
    charged_ += bytes;
    text_.Append(text);
  }
  std::u16string toString() const { return text_.toString(); }

 private:
  cJSONScript& owner_;
  cStringBuilder text_;
  int64_t charged_ = 0;
};

cJSONScript::cJSONScript(UserInterface& ui) : ui_(ui) {}

void cJSONScript::SetMemoryLimit(int64_t bytes) {
  if (bytes < 1) Fail(kErrInvalidCall);
  memoryLimit_ = bytes;
}

void cJSONScript::Charge(int64_t bytes) {
  if (bytes > memoryLimit_ - memoryInUse_) Fail(kErrOutOfMemory);
  memoryInUse_ += bytes;
}

std::u16string cJSONScript::Eval(const std::u16string& script) {
  ObjectRef root = JSON::ParseJson(script);
  std::u16string errors = JSON::LastParseErrors();
  Output out(*this);
  if (!errors.empty() || !root) {
    ui_.MessageBox(errors, MessageIcon::Exclamation, u"Parser Error");
    return out.toString();
  }
  auto list = std::dynamic_pointer_cast<Collection>(root);
  if (!list) {
    // A root object is one command object.
    out.Append(ExecCommand(Variant(root)));
    return out.toString();
  }
  const int32_t count = list->Count();
  for (int32_t i = 1; i <= count; ++i) {
    const Variant& element = list->Item(i);
    if (element.IsNull()) {
      out.Append(u"null");
    } else if (element.IsString()) {
      out.Append(element.AsString());
    } else if (element.VarType() == vbDate) {
      out.Append(element.ToText());
    } else if (IsContainer(element)) {
      out.Append(ExecCommand(element));
    } else {
      ObjectRequired();
    }
  }
  return out.toString();
}

std::u16string cJSONScript::ExecCommand(const Variant& value) {
  if (nestingLevel_ >= kMaxNestingLevel) return kNestingExceeded;
  LevelGuard guard(nestingLevel_);

  if (value.IsNull()) return u"null";
  if (value.IsString()) return value.AsString();
  if (value.IsBoolean()) return value.AsBoolean() ? u"true" : u"false";
  if (value.IsArray()) return u"";
  if (value.VarType() == vbDate) return value.ToText();
  if (value.IsObject()) {
    Output out(*this);
    if (auto dict = value.ObjectAs<Dictionary>()) {
      RunCommands(*dict, out);
    } else if (auto list = value.ObjectAs<Collection>()) {
      for (const Variant& item : *list) out.Append(ExecCommand(item));
    }
    return out.toString();
  }
  // Numbers and the empty value: their text form, always with "." as decimal point.
  std::u16string text = value.ToText();
  std::replace(text.begin(), text.end(), u',', u'.');
  return text;
}

// One member of a command object: its name, its value, and how to read its parameters.
struct cJSONScript::Command {
  const std::u16string& key;
  const Variant& value;
  // A text member is the command's text value; any other member holds its parameters.
  bool isText;

  // The parameters object; a command that needs one but was given a text has none.
  const Variant& Params() const {
    if (isText) ObjectRequired();
    return value;
  }
  const Variant& Param(const char16_t* name) const { return Member(Params(), name); }
};

cJSONScript::Handler cJSONScript::FindCommand(std::u16string_view lowerName) {
  static constexpr struct {
    std::u16string_view name;
    Handler handler;
  } kCommands[] = {
      {u"alert", &cJSONScript::Alert},   {u"input", &cJSONScript::Input},
      {u"switch", &cJSONScript::Switch}, {u"set", &cJSONScript::Set},
      {u"get", &cJSONScript::Get},       {u"if", &cJSONScript::If},
      {u"return", &cJSONScript::Return},
  };
  for (const auto& entry : kCommands) {
    if (entry.name == lowerName) return entry.handler;
  }
  return &cJSONScript::Template;
}

void cJSONScript::RunCommands(const Dictionary& commands, Output& out) {
  const std::vector<std::u16string> keys = commands.Keys();
  for (const std::u16string& key : keys) {
    const Variant& v = commands.Item(key);
    const Command command{key, v, v.IsString()};
    if (!command.isText && !IsContainer(v)) ObjectRequired();
    (this->*FindCommand(Text::ToLower(key)))(command, out);
  }
}

void cJSONScript::Alert(const Command& c, Output&) {
  std::u16string message = ExecCommand(c.Param(u"message"));
  std::u16string title = ExecCommand(c.Param(u"title"));
  ui_.MessageBox(message, MessageIcon::Information, title);
}

void cJSONScript::Input(const Command& c, Output& out) {
  std::u16string prompt = ExecCommand(c.Param(u"prompt"));
  std::u16string title = ExecCommand(c.Param(u"title"));
  std::u16string defaultText = ExecCommand(c.Param(u"default"));
  out.Append(ui_.InputBox(prompt, title, defaultText));
}

void cJSONScript::Switch(const Command& c, Output& out) {
  std::u16string result = ExecCommand(c.Param(u"default"));
  std::u16string wanted = Text::ToLower(ExecCommand(c.Param(u"case")));
  auto items = c.Param(u"items").ObjectAs<Collection>();
  if (!items) ObjectRequired();
  const int32_t count = items->Count();
  for (int32_t j = 1; j <= count; ++j) {
    const Variant& item = items->Item(j);
    const Variant& itemCase = Member(item, u"case");
    if (itemCase.IsNull()) continue;  // a null case never matches
    if (Text::ToLower(PlainText(itemCase)) == wanted) {
      result = ExecCommand(Member(item, u"return"));
      break;
    }
  }
  out.Append(result);
}

void cJSONScript::Set(const Command& c, Output&) {
  std::u16string name = PlainText(c.Param(u"name"));
  std::u16string text = ExecCommand(c.Param(u"value"));
  if (!variables_) variables_ = std::make_shared<Dictionary>();
  // The variable's new text is counted before it is stored, its old one given back after.
  const Variant& old = variables_->Item(name);
  const int64_t oldBytes =
      old.IsString() ? static_cast<int64_t>(old.AsString().size()) * kVariableBytesPerChar : 0;
  const int64_t newBytes = static_cast<int64_t>(text.size()) * kVariableBytesPerChar;
  const int64_t nameBytes =
      variables_->Exists(name) ? 0 : static_cast<int64_t>(name.size()) * kVariableBytesPerChar;
  // The charge is given back when the variable cannot be stored.
  struct Charged {
    cJSONScript& owner;
    const int64_t bytes;
    bool kept = false;
    ~Charged() {
      if (!kept) owner.Release(bytes);
    }
  };
  Charge(newBytes + nameBytes);
  Charged charged{*this, newBytes + nameBytes};
  variables_->SetItem(name, Variant(std::move(text)));
  charged.kept = true;
  Release(oldBytes);
}

void cJSONScript::Get(const Command& c, Output& out) {
  std::u16string name = PlainText(c.Param(u"name"));
  if (!variables_) variables_ = std::make_shared<Dictionary>();
  // Stored values are texts, so evaluating one changes no variable.
  const Variant& stored = variables_->Item(name);
  std::u16string result = ExecCommand(stored);
  if (result.empty()) result = ExecCommand(c.Param(u"default"));
  out.Append(result);
}

void cJSONScript::If(const Command& c, Output& out) {
  std::u16string value1 = ExecCommand(c.Param(u"value1"));
  std::u16string value2 = ExecCommand(c.Param(u"value2"));
  const Variant& rawType = c.Param(u"type");
  // A type that is not a plain value is no known comparison.
  std::u16string type;
  if (!rawType.IsNull() && !rawType.IsObject() && !rawType.IsArray()) {
    type = Text::ToLower(PlainText(rawType));
  }
  const bool condition = Compare(type, value1, value2);
  out.Append(ExecCommand(c.Param(condition ? u"true" : u"false")));
}

void cJSONScript::Return(const Command& c, Output& out) {
  if (!c.isText) Fail(kErrTypeMismatch);
  out.Append(c.value.AsString());
}

void cJSONScript::Template(const Command& c, Output& out) {
  // Not a command: a template call left for whoever consumes the output.
  std::u16string arguments;
  if (c.isText) {
    arguments = c.value.AsString();
  } else if (auto dict = c.value.ObjectAs<Dictionary>()) {
    bool first = true;
    for (const std::u16string& name : dict->Keys()) {
      if (!first) arguments.push_back(u',');
      first = false;
      arguments += PlainText(dict->Item(name));
    }
  }
  out.Append(u"<%");
  out.Append(Text::ToUpper(c.key));
  out.Append(u"(");
  out.Append(arguments);
  out.Append(u")%>");
}

}  // namespace kestrola
