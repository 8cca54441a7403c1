#include <gtest/gtest.h>

#include "runtime/Collection.h"
#include "runtime/Dictionary.h"
#include "runtime/Error.h"
#include "tests/support/Errors.h"

using namespace kestrola;

using kestrola::testing::ErrorNumberOf;

namespace {

std::u16string Order(const Collection& c) {
  std::u16string s;
  for (const Variant& v : c) s += v.AsString();
  return s;
}
}  // namespace

TEST(Collection, KeepsOrderAndPositions) {
  Collection c;
  c.Add(u"a");
  c.Add(u"c", u"KeyC");
  c.Add(u"b", std::nullopt, 2);
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(Order(c), u"abc");
  EXPECT_EQ(c.Item(2).AsString(), u"b");
  EXPECT_EQ(c.Item(u"keyc").AsString(), u"c");  // keys ignore letter case
  c.Remove(1);
  EXPECT_EQ(Order(c), u"bc");
  EXPECT_EQ(c.Item(u"KEYC").AsString(), u"c");  // key still found after positions moved
  c.Remove(u"keyC");
  EXPECT_EQ(Order(c), u"b");
  EXPECT_FALSE(c.Exists(u"keyc"));
}

TEST(Collection, Failures) {
  Collection c;
  c.Add(u"a", u"k");
  EXPECT_EQ(ErrorNumberOf([&] { c.Add(u"b", u"K"); }), kErrDuplicateKey);
  EXPECT_EQ(ErrorNumberOf([&] { c.Item(u"absent"); }), kErrInvalidCall);
  EXPECT_EQ(ErrorNumberOf([&] { c.Remove(u"absent"); }), kErrInvalidCall);
  EXPECT_EQ(ErrorNumberOf([&] { c.Item(0); }), kErrSubscript);
  EXPECT_EQ(ErrorNumberOf([&] { c.Item(2); }), kErrSubscript);
  EXPECT_EQ(ErrorNumberOf([&] { c.Remove(2); }), kErrSubscript);
  EXPECT_EQ(ErrorNumberOf([&] { c.Add(u"x", std::nullopt, 5); }), kErrSubscript);
  EXPECT_EQ(c.Count(), 1);  // failed calls change nothing
}

TEST(Collection, KeysStayWithTheirItemsAcrossInsertsRemovalsAndRanges) {
  Collection c;
  Variant plain[] = {Variant(u"1"), Variant(u"2")};
  c.AddRange(plain, plain + 2);  // no keys yet
  c.Add(u"k", u"");              // an empty key is a key
  c.Add(u"x", u"X", 1);          // first, before unkeyed items
  Variant more[] = {Variant(u"3")};
  c.AddRange(more, more + 1);
  EXPECT_EQ(Order(c), u"x12k3");
  EXPECT_EQ(c.Item(u"x").AsString(), u"x");
  EXPECT_EQ(c.Item(u"").AsString(), u"k");
  c.Remove(2);
  EXPECT_EQ(Order(c), u"x2k3");
  EXPECT_EQ(c.Item(u"").AsString(), u"k");
  c.Remove(u"x");
  EXPECT_EQ(Order(c), u"2k3");
  EXPECT_EQ(c.Item(u"").AsString(), u"k");
  EXPECT_EQ(c.Item(3).AsString(), u"3");
  EXPECT_EQ(ErrorNumberOf([&] { c.Add(u"y", u"", 1); }), kErrDuplicateKey);
  EXPECT_EQ(Order(c), u"2k3");
}

// The first item carries the key: every later change of positions must keep it.
TEST(Collection, KeyOfTheFirstItemSurvivesChangesOfPositions) {
  struct Case {
    const char* name;
    void (*change)(Collection&);
    std::u16string order;
  };
  const Case cases[] = {
      {"remove after it", [](Collection& c) { c.Remove(2); }, u"a"},
      {"insert before it", [](Collection& c) { c.Add(u"z", std::nullopt, 1); }, u"zab"},
      {"keyed insert before it", [](Collection& c) { c.Add(u"z", u"z", 1); }, u"zab"},
      {"remove by other key",
       [](Collection& c) {
         c.Add(u"c", u"c");
         c.Remove(u"c");
       },
       u"ab"},
      {"range then remove",
       [](Collection& c) {
         Variant more[] = {Variant(u"c")};
         c.AddRange(more, more + 1);
         c.Remove(2);
       },
       u"ac"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Collection c;
    c.Add(u"a", u"k");
    c.Add(u"b");
    test.change(c);
    EXPECT_EQ(Order(c), test.order);
    ASSERT_TRUE(c.Exists(u"K"));
    EXPECT_EQ(c.Item(u"k").AsString(), u"a");
    EXPECT_EQ(ErrorNumberOf([&] { c.Add(u"dup", u"k"); }), kErrDuplicateKey);
  }
}

TEST(Dictionary, InsertionOrderAndExactKeys) {
  Dictionary d;
  d.Add(u"b", 1.0);
  d.Add(u"a", 2.0);
  d.Add(u"A", 3.0);  // letter case counts
  EXPECT_EQ(d.Count(), 3);
  EXPECT_EQ(d.Keys(), (std::vector<std::u16string>{u"b", u"a", u"A"}));
  EXPECT_EQ(ErrorNumberOf([&] { d.Add(u"a", 9.0); }), kErrDuplicateKey);
  EXPECT_TRUE(d.Item(u"zz").IsEmpty());
  EXPECT_FALSE(d.Exists(u"zz"));  // reading an absent key inserts nothing
  d.SetItem(u"b", 5.0);           // replace keeps the position
  d.SetItem(u"c", 6.0);           // insert goes to the end
  EXPECT_EQ(d.Keys(), (std::vector<std::u16string>{u"b", u"a", u"A", u"c"}));
  EXPECT_EQ(d.Item(u"b").AsDouble(), 5.0);
  d.Remove(u"a");
  EXPECT_EQ(d.Keys(), (std::vector<std::u16string>{u"b", u"A", u"c"}));
  EXPECT_EQ(ErrorNumberOf([&] { d.Remove(u"a"); }), kErrInvalidCall);
}

TEST(Dictionary, ManyKeysStayFoundAcrossRemovals) {
  // Past the size searched directly, lookups go through the table; removals rebuild it.
  Dictionary d;
  for (int i = 0; i < 200; ++i)
    d.Add(u"k" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x'),
          double(i));
  EXPECT_EQ(d.Count(), 200);
  for (int i = 0; i < 200; i += 3) {
    d.Remove(u"k" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x'));
  }
  for (int i = 0; i < 200; ++i) {
    std::u16string key =
        u"k" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x');
    EXPECT_EQ(d.Exists(key), i % 3 != 0) << i;
    if (i % 3 != 0) {
      EXPECT_EQ(d.Item(key).AsDouble(), i);
    }
  }
  EXPECT_EQ(d.Keys().front(), u"kBx");
  EXPECT_EQ(ErrorNumberOf([&] { d.Add(u"kBx", 1.0); }), kErrDuplicateKey);
  d.RemoveAll();
  EXPECT_EQ(d.Count(), 0);
  EXPECT_FALSE(d.Exists(u"kBx"));
}
