#include "jsonscript/JSON.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Collection.h"
#include "runtime/Decimal.h"
#include "runtime/Dictionary.h"
#include "runtime/Error.h"
#include "runtime/Hex.h"
#include "text/cStringBuilder.h"

namespace kestrola::JSON {

namespace {

// The messages of the latest parse, one text for the whole process.
std::u16string gErrorText;

constexpr std::u16string_view kLineEnd = u"\r\n";

std::u16string ToText(int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

bool IsNumberChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.' || c == u'e' || c == u'E';
}

// Characters that ReadKey treats specially: quotes, the colon and the blanks it drops.
bool IsKeySpecial(char16_t c) {
  return c == u'"' || c == u'\'' || c == u':' || c == u'\r' || c == u'\n' || c == u'\t' ||
         c == u' ';
}

// The readers share one position (1-based, only moving forward) over one text. `stopped_`
// is set once a reader has given up on a failure; every enclosing reader then returns too.
class Reader {
 public:
  explicit Reader(const std::u16string& text) : t_(text), len_(static_cast<int64_t>(text.size())) {}

  ObjectRef ReadRoot() {
    SkipBlanks();
    if (At(u'{')) return ReadObject();
    if (At(u'[')) return ReadArray();
    gErrorText = u"Invalid JSON";
    return nullptr;
  }

 private:
  bool AtEnd() const { return pos_ > len_; }
  char16_t Char() const { return t_[static_cast<size_t>(pos_ - 1)]; }
  bool At(char16_t c) const { return !AtEnd() && Char() == c; }

  // Up to `n` characters from position `from` (1-based).
  std::u16string_view Mid(int64_t from, int64_t n) const {
    if (from > len_) return {};
    return std::u16string_view(t_).substr(static_cast<size_t>(from - 1), static_cast<size_t>(n));
  }
  std::u16string_view Right(int64_t n) const {
    std::u16string_view v(t_);
    return v.size() <= static_cast<size_t>(n) ? v : v.substr(v.size() - static_cast<size_t>(n));
  }

  static void Message(std::initializer_list<std::u16string_view> parts) {
    for (auto p : parts) gErrorText.append(p);
    gErrorText.append(kLineEnd);
  }

  // The message lines of the containers. They stay out of line so that the frames of the
  // recursive readers hold no message temporaries: deep nesting then needs less stack.
  [[gnu::noinline]] void MissingClose(std::u16string_view text) { Message({text, Right(20)}); }
  [[gnu::noinline]] void Stop(std::u16string_view description, std::u16string_view where) {
    Message({description, u": ", where});
    stopped_ = true;
  }

  // Skips blanks, parentheses and comments. A "/" or "*" just seen is `pending`; `comment`
  // holds inside any comment and `block` inside a block comment.
  void SkipBlanks() {
    bool pending = false, comment = false, block = false;
    while (pos_ <= len_) {
      switch (Char()) {
        case u'\r':
        case u'\n':
          if (!block) pending = comment = false;
          break;
        case u'\t':
        case u' ':
        case u'(':
        case u')':
          break;
        case u'/':
          if (block) {
            if (pending) block = pending = comment = false;
          } else if (pending) {
            pending = false;
            comment = true;
          } else {
            pending = true;
            comment = block = false;
          }
          break;
        case u'*':
          if (pending) {
            pending = false;
            comment = block = true;
          } else {
            pending = true;
          }
          break;
        default:
          if (!comment) return;
      }
      ++pos_;
    }
  }

  // The scalar readers stay out of line (noinline) so that the frames of the recursive readers
  // (ReadValue, ReadObject, ReadArray) are small and deep nesting needs little stack.
  Variant ReadValue() {
    SkipBlanks();
    if (AtEnd()) return ReadNumber();
    switch (Char()) {
      case u'{':
      case u'[': {
        if (depth_ >= kMaxNesting) throw Error::Standard(kErrOutOfStack, u"JSON");
        if (Char() == u'{') return Variant(ReadObject());
        return Variant(ReadArray());
      }
      case u'"':
      case u'\'':
        return Variant(ReadString());
      case u't':
      case u'f':
        return Variant(ReadBoolean());
      case u'n':
        return ReadNull();
      default:
        return ReadNumber();
    }
  }

  struct Nest {
    explicit Nest(int& d) : depth(d) { ++depth; }
    ~Nest() { --depth; }
    int& depth;
  };

  std::shared_ptr<Dictionary> ReadObject() {
    auto dict = std::make_shared<Dictionary>();
    Nest nest(depth_);
    ++pos_;
    for (;;) {
      SkipBlanks();
      if (At(u'}')) {
        ++pos_;
        return dict;
      }
      if (At(u',')) {
        ++pos_;
        SkipBlanks();
      } else if (AtEnd()) {
        MissingClose(u"Missing '}': ");
        return dict;
      }
      std::u16string key = ReadKey();
      try {
        Variant value = ReadValue();
        dict->Add(key, std::move(value));
      } catch (const Error& e) {
        Stop(e.Description(), key);
      } catch (const std::bad_alloc&) {
        Stop(Error::StandardDescription(kErrOutOfMemory), key);
      }
      if (stopped_) return dict;
    }
  }

  // The items of the open arrays wait on one stack and move into their collection when the
  // array ends, so that a collection is allocated once, at its final size.
  struct Pending {
    explicit Pending(std::vector<Variant>& s) : stack(s), start(s.size()) {}
    ~Pending() { stack.resize(start); }  // nothing is left behind, whatever happens
    std::vector<Variant>& stack;
    const size_t start;
  };

  std::shared_ptr<Collection> Complete(std::shared_ptr<Collection> list, const Pending& items) {
    list->AddRange(pending_.data() + items.start, pending_.data() + pending_.size());
    return list;
  }

  std::shared_ptr<Collection> ReadArray() {
    auto list = std::make_shared<Collection>();
    Nest nest(depth_);
    Pending items(pending_);
    ++pos_;
    for (;;) {
      SkipBlanks();
      if (At(u']')) {
        ++pos_;
        return Complete(std::move(list), items);
      }
      if (At(u',')) {
        ++pos_;
        SkipBlanks();
      } else if (AtEnd()) {
        MissingClose(u"Missing ']': ");
        return Complete(std::move(list), items);
      }
      int64_t before = pos_;
      try {
        pending_.push_back(ReadValue());
      } catch (const Error& e) {
        Stop(e.Description(), Mid(pos_, 20));
      } catch (const std::bad_alloc&) {
        Stop(Error::StandardDescription(kErrOutOfMemory), Mid(pos_, 20));
      }
      // A literal that could not be read leaves the position where it was (and has said so);
      // nothing else can be read from here.
      if (pos_ == before && !AtEnd()) stopped_ = true;
      if (stopped_) return Complete(std::move(list), items);
    }
  }

  [[gnu::noinline]] std::u16string ReadKey() {
    SkipBlanks();
    std::u16string key;
    bool inDouble = false, inSingle = false;
    while (pos_ <= len_) {
      char16_t c = Char();
      if (c == u'"' || c == u'\'') {
        bool& flag = c == u'"' ? inDouble : inSingle;
        flag = !flag;
        ++pos_;
        if (!flag) {
          SkipBlanks();
          if (!At(u':')) {
            Message({u"Invalid Key at position ", ToText(pos_), u" : ", key});
            break;
          }
        }
      } else if (c == u':') {
        ++pos_;
        if (!inDouble && !inSingle) break;
        key.push_back(c);
      } else if (c == u'\r' || c == u'\n' || c == u'\t' || c == u' ') {
        ++pos_;
      } else {
        // Ordinary characters are taken as one run.
        int64_t end = pos_ + 1;
        while (end <= len_ && !IsKeySpecial(t_[static_cast<size_t>(end - 1)])) ++end;
        key.append(Mid(pos_, end - pos_));
        pos_ = end;
      }
    }
    return key;
  }

  [[gnu::noinline]] std::u16string ReadString() {
    SkipBlanks();
    const char16_t quote = Char();
    ++pos_;
    std::optional<cStringBuilder> sb;
    auto append = [&](std::u16string_view piece) {
      if (piece.empty()) return;
      if (!sb) sb.emplace();
      sb->Append(piece);
    };
    int64_t runStart = pos_;  // start of the characters copied as they stand
    auto flush = [&] { append(Mid(runStart, pos_ - runStart)); };
    while (pos_ <= len_) {
      char16_t c = Char();
      if (c == u'\\') {
        flush();
        ++pos_;
        runStart = pos_;
        if (AtEnd()) break;
        char16_t e = Char();
        char16_t out = 0;
        switch (e) {
          case u'"':
          case u'\\':
          case u'/':
          case u'\'':
            out = e;
            break;
          case u'b':
            out = u'\b';
            break;
          case u'f':
            out = u'\f';
            break;
          case u'n':
            out = u'\n';
            break;
          case u'r':
            out = u'\r';
            break;
          case u't':
            out = u'\t';
            break;
          case u'u': {
            ++pos_;
            unsigned value = 0;
            for (int64_t k = 0; k < 4 && pos_ + k <= len_; ++k) {
              int d = Hex::Digit(t_[static_cast<size_t>(pos_ + k - 1)]);
              if (d < 0) break;
              value = value * 16 + static_cast<unsigned>(d);
            }
            char16_t unit = static_cast<char16_t>(value);
            append(std::u16string_view(&unit, 1));
            pos_ += 4;
            runStart = pos_;
            continue;
          }
          default:
            // Not an escape: the backslash is dropped and the character read as it stands.
            continue;
        }
        append(std::u16string_view(&out, 1));
        ++pos_;
        runStart = pos_;
      } else if (c == quote) {
        flush();
        ++pos_;
        return sb ? sb->toString() : std::u16string();
      } else {
        ++pos_;
      }
    }
    // The text ended before the closing quote: what was collected is the value.
    flush();
    return sb ? sb->toString() : std::u16string();
  }

  [[gnu::noinline]] Variant ReadNumber() {
    SkipBlanks();
    int64_t start = pos_;
    while (pos_ <= len_) {
      if (IsNumberChar(Char())) {
        ++pos_;
        continue;
      }
      // Every character taken is ASCII, so the text narrows one to one.
      std::u16string_view digits = Mid(start, pos_ - start);
      char stackBuf[64];
      std::string heapBuf;
      char* narrow = stackBuf;
      if (digits.size() > sizeof stackBuf) {
        heapBuf.resize(digits.size());
        narrow = heapBuf.data();
      }
      for (size_t i = 0; i < digits.size(); ++i) narrow[i] = static_cast<char>(digits[i]);
      Decimal d;
      bool overflow = false;
      if (!Decimal::TryParse(std::string_view(narrow, digits.size()), d, &overflow)) {
        throw Error::Standard(overflow ? kErrOverflow : kErrTypeMismatch, u"JSON");
      }
      return Variant(d);
    }
    // The number ran to the end of the text: nothing is converted.
    return Variant();
  }

  [[gnu::noinline]] bool ReadBoolean() {
    SkipBlanks();
    if (Mid(pos_, 4) == u"true") {
      pos_ += 4;
      return true;
    }
    if (Mid(pos_, 5) == u"false") {
      pos_ += 5;
      return false;
    }
    Message({u"Invalid Boolean at position ", ToText(pos_), u" : ", Mid(pos_, kMaxQuoted)});
    return false;
  }

  [[gnu::noinline]] Variant ReadNull() {
    SkipBlanks();
    if (Mid(pos_, 4) == u"null") {
      pos_ += 4;
      return Variant::Null();
    }
    Message({u"Invalid null value at position ", ToText(pos_), u" : ", Mid(pos_, kMaxQuoted)});
    return Variant();
  }

  const std::u16string& t_;
  const int64_t len_;
  int64_t pos_ = 1;
  int depth_ = 0;
  bool stopped_ = false;
  std::vector<Variant> pending_;
};

}  // namespace

ObjectRef ParseJson(const std::u16string& text) {
  gErrorText.clear();
  try {
    Reader reader(text);
    return reader.ReadRoot();
  } catch (const std::exception&) {
    // Only resource exhaustion gets here (std::bad_alloc, std::length_error): the reader turns
    // every problem of the text into a message itself. The caller sees no object.
    return nullptr;
  }
}

std::u16string LastParseErrors() {
  return gErrorText;
}

}  // namespace kestrola::JSON
