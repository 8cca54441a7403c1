#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Variant.h"

namespace kestrola {

namespace jsonbag {
class Parser;
class Store;
class Writer;
}  // namespace jsonbag

// One JSON node: an object (ordered, named members with case-sensitive names) or an array
// (ordered, unnamed elements). Values are Variants; a nested object or array is another
// JsonBag held by shared reference. The JSON property parses and writes the node's text.
//
// Keys are Variants: a string key is a member name, any other key is a 1-based position.
// Errors are raised as kestrola::Error with the source "JsonBag"; store errors (absent name,
// position out of range) carry the source "Collection".
//
// Storage is compact: one block per node holds the values (16 bytes each plus a one-byte kind
// tag) and, for objects, the member names and a hash index once the object grows past a few
// members, so a member is found by name and an item by position in constant time.
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

  // Read: the node and everything below it as JSON text. Write: clear and parse.
  std::u16string JSON() const;
  void SetJSON(std::u16string_view text);
  // Parses UTF-8 text: the same as SetJSON(Text::FromUtf8(text)), error positions in UTF-16
  // code units included, without making the converted copy.
  void SetJSONUtf8(std::string_view text);

  std::u16string Name(int32_t index) const;
  std::vector<std::u16string> Version() const { return {u"1.6"}; }

  std::shared_ptr<JsonBag> AddNewArray(const Variant& key = Variant::Null());
  std::shared_ptr<JsonBag> AddNewObject(const Variant& key = Variant::Null());
  void Clear();
  bool Exists(const Variant& key) const;
  // The member names in member order (a snapshot).
  std::vector<std::u16string> NewEnum() const;
  void Remove(const Variant& key);

  // Deepest nesting the parser accepts; deeper text fails with error 28.
  static constexpr int kMaxDepth = 4000;

 private:
  friend class jsonbag::Parser;
  friend class jsonbag::Store;
  friend class jsonbag::Writer;

  // Item storage; the layout of the block is private to jsonbag::Store.
  union {
    void* block_ = nullptr;  // the item block, unless the node is compact
    uint8_t smallTags_[8];   // a compact node's kind bytes
  };
  uint32_t count_ : 28 = 0;
  uint32_t compact_ : 1 = 0;  // a small parsed node: its block follows it, its tags are inline
  uint32_t capacity_ : 28 = 0;
  uint32_t ownBlock_ : 1 = 0;  // the block lies in the node's own allocation (made by the parser)
  uint32_t whitespace_ : 1 = 0;
  uint32_t decimalMode_ : 1 = 0;
  uint32_t isArray_ : 1 = 0;

  void ReleaseItems(std::vector<ObjectRef>& orphans);
};

}  // namespace kestrola
