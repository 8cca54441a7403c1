#pragma once

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/Variant.h"

namespace kestrola {

namespace jsonbag {
class Parser;
class Store;
template <class Char>
class Writer;

// Narrow text that JsonBag takes as UTF-8: string literals, char pointers, std::string and
// std::string_view. Such arguments get overloads of their own, so that a literal is never
// read through the pointer-to-bool conversion as a Variant holding true.
template <class T>
concept Utf8Text = std::is_convertible_v<const T&, std::string_view>;
}  // namespace jsonbag

// One JSON node: an object (ordered, named members with case-sensitive names) or an array
// (ordered, unnamed elements). Values are Variants; a nested object or array is another
// JsonBag held by shared reference. The JSON property parses and writes the node's text.
//
// Keys are Variants: a string key is a member name, any other key is a 1-based position.
// Item, SetItem, Exists, Remove, AddNewArray and AddNewObject also take a member name as UTF-8
// narrow text (bag.Item("total")), and SetItem a UTF-8 text value; a null char pointer stands
// for Null.
// Errors are raised as kestrola::Error with the source "JsonBag"; store errors (absent name,
// position out of range) carry the source "Collection".
//
// Storage is compact: one block per node holds the values (16 bytes each plus a one-byte kind
// tag) and, for objects, the member names; an object of more than a few members gets a hash
// index on its first lookup by name, so a member is found by name and an item by position in
// constant time. A parsed document makes the nodes of most small children (empty ones, pairs
// of numbers, and in a large document any small one) only when they are first read; it is the
// same node on every later read. Reading a node from several threads at once is safe; changing
// it is not.
class JsonBag : public Object {
 public:
  JsonBag();
  ~JsonBag() override;
  JsonBag(const JsonBag&) = delete;
  JsonBag& operator=(const JsonBag&) = delete;

  // A new, empty object node.
  static std::shared_ptr<JsonBag> Create() { return std::make_shared<JsonBag>(); }

  bool Whitespace() const { return whitespace_; }
  void SetWhitespace(bool value) { whitespace_ = value; }

  int32_t Count() const { return static_cast<int32_t>(count_); }

  bool DecimalMode() const { return decimalMode_; }
  void SetDecimalMode(bool value) { decimalMode_ = value; }

  bool IsArray() const { return isArray_; }
  void SetIsArray(bool value);

  Variant Item(const Variant& key) const;
  void SetItem(const Variant& key, const Variant& value);
  template <jsonbag::Utf8Text K>
  Variant Item(const K& name) const {
    return Item(Arg(name));
  }
  template <class K, class V>
  requires(jsonbag::Utf8Text<K> || jsonbag::Utf8Text<V>) &&
      (jsonbag::Utf8Text<K> || std::is_constructible_v<Variant, const K&>)&&(
          jsonbag::Utf8Text<V> ||
          std::is_constructible_v<Variant, const V&>)void SetItem(const K& key, const V& value) {
    SetItem(Arg(key), Arg(value));
  }

  // Read: the node and everything below it as JSON text. Write: clear and parse.
  std::u16string JSON() const;
  void SetJSON(std::u16string_view text);
  // The same text as JSON(), written as UTF-8 directly (ToUtf8(JSON()) without the UTF-16
  // copy). The output is always valid UTF-8: surrogate code units are written as escapes.
  std::string JSONUtf8() const;
  // Parses UTF-8 text: the same as SetJSON(Text::FromUtf8(text)), error positions in UTF-16
  // code units included, without making the converted copy.
  void SetJSONUtf8(std::string_view text);

  // Strict reading accepts exactly the JSON texts of RFC 8259 and rejects everything else
  // with error 13 or 6: commas are required between items and allowed nowhere else, numbers
  // have no leading zeros and need digits after "." and "e", escape letters are lower case,
  // UTF-8 text must be valid inside strings, and nothing but blanks may follow the document.
  // A document may then also be a single value (42, "text", null): the bag holds it as an
  // array of that one item and writes it back as the value alone until the bag is changed.
  // Off by default (the lenient reading). Like DecimalMode it affects only later parsing.
  bool Strict() const { return strict_; }
  void SetStrict(bool value) { strict_ = value; }

  // Where the last JSON write of this node failed: the 1-based character position (UTF-16
  // code units, as in the error's description) and the 1-based line and column of that
  // position (a line ends at LF, CR LF or CR; columns count UTF-16 code units). All three
  // are 0 when the last parse succeeded or none was made.
  int32_t ErrorPosition() const;
  int32_t ErrorLine() const;
  int32_t ErrorColumn() const;

  std::u16string Name(int32_t index) const;
  std::vector<std::u16string> Version() const { return {u"1.6"}; }

  std::shared_ptr<JsonBag> AddNewArray(const Variant& key = Variant::Null());
  std::shared_ptr<JsonBag> AddNewObject(const Variant& key = Variant::Null());
  template <jsonbag::Utf8Text K>
  std::shared_ptr<JsonBag> AddNewArray(const K& name) {
    return AddNewArray(Arg(name));
  }
  template <jsonbag::Utf8Text K>
  std::shared_ptr<JsonBag> AddNewObject(const K& name) {
    return AddNewObject(Arg(name));
  }
  void Clear();
  bool Exists(const Variant& key) const;
  template <jsonbag::Utf8Text K>
  bool Exists(const K& name) const {
    return Exists(Arg(name));
  }
  // The member names in member order (a snapshot).
  std::vector<std::u16string> NewEnum() const;
  void Remove(const Variant& key);
  template <jsonbag::Utf8Text K>
  void Remove(const K& name) {
    Remove(Arg(name));
  }

  // Range-for over the items, in order: for (const auto& [name, value] : bag). The name is
  // empty for array elements. Each step reads the item at the next position, so changing the
  // bag while walking it never reads past its end.
  struct Entry {
    std::u16string name;
    Variant value;
  };
  class Iterator {
   public:
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    const Entry& operator*() const;
    const Entry* operator->() const { return &**this; }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    void operator++(int) { ++index_; }
    bool operator==(std::default_sentinel_t) const { return !bag_ || index_ >= bag_->count_; }

   private:
    friend class JsonBag;
    explicit Iterator(const JsonBag* bag) : bag_(bag) {}
    const JsonBag* bag_ = nullptr;
    uint32_t index_ = 0;
    mutable Entry current_;
  };
  Iterator begin() const { return Iterator(this); }
  std::default_sentinel_t end() const { return {}; }

  // Deepest nesting the parser accepts; deeper text fails with error 28.
  static constexpr int kMaxDepth = 4000;

 private:
  friend class jsonbag::Parser;
  friend class jsonbag::Store;
  template <class Char>
  friend class jsonbag::Writer;

  // A UTF-8 argument as the Variant the described interface takes; other arguments as they are.
  template <class T>
  static Variant Arg(const T& arg) {
    if constexpr (jsonbag::Utf8Text<T>) {
      if constexpr (std::is_null_pointer_v<T>) {
        return Variant::Null();
      } else {
        if constexpr (std::is_pointer_v<T>) {
          if (!arg) return Variant::Null();
        }
        return Utf8Arg(std::string_view(arg));
      }
    } else {
      return Variant(arg);
    }
  }
  static Variant Utf8Arg(std::string_view text);
  void ForgetErrorPlace();

  // Item storage; the layout of the block is private to jsonbag::Store.
  union {
    void* block_ = nullptr;  // the item block, unless the node is compact
    uint8_t smallTags_[8];   // a compact node's kind bytes
  };
  uint32_t count_ : 27 = 0;
  uint32_t arenaBlock_ : 1 = 0;  // the block is a parsed one taken from an arena, given back there
  uint32_t compact_ : 1 = 0;     // a small parsed node: its block follows it, its tags are inline
  uint32_t strict_ : 1 = 0;
  uint32_t scalarRoot_ : 1 = 0;  // a strictly parsed lone value, written back without brackets
  uint32_t errorPlace_ : 1 = 0;  // the last parse failed: its place is kept aside (rarely used)
  uint32_t capacity_ : 28 = 0;
  uint32_t ownBlock_ : 1 = 0;  // the block lies in the node's own allocation (made by the parser)
  uint32_t whitespace_ : 1 = 0;
  uint32_t decimalMode_ : 1 = 0;
  uint32_t isArray_ : 1 = 0;

  // Releases the items; children owned only by this node go to orphans, to be taken apart
  // by the caller. ReleaseTree does that for the whole tree, without recursion.
  void ReleaseItems(std::vector<ObjectRef>& orphans);
  void ReleaseTree();
};

}  // namespace kestrola
