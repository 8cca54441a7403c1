#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "tests/json/JsonBagTestUtil.h"

namespace {
// While set, every non-throwing array allocation of the program fails (the name index of a
// large object is allocated that way).
std::atomic<bool> failNothrowArrays{false};
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (failNothrowArrays.load()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace kestrola {
namespace {

using namespace kestrola::testing;

// Runs body(t) for t = 0 .. n - 1, each on a thread of its own, all started together, and
// waits for them.
template <class Body>
void RunTogether(int n, Body body) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < n; ++t) {
    threads.emplace_back([&, t] {
      for (++ready; ready.load() < n;) std::this_thread::yield();
      body(t);
    });
  }
  for (auto& thread : threads) thread.join();
}

std::vector<std::string> Names(const JsonBag& bag) {
  std::vector<std::string> out;
  for (auto& n : bag.NewEnum()) out.push_back(S(n));
  return out;
}

TEST(JsonBagModel, NamesAreCaseSensitive) {
  JsonBag bag;
  bag.SetItem(u"a", 1.0);
  bag.SetItem(u"A", 2.0);
  EXPECT_EQ(bag.Count(), 2);
  EXPECT_EQ(bag.Item(u"A").AsDouble(), 2.0);
  EXPECT_EQ(bag.Item(u"a").AsDouble(), 1.0);
  EXPECT_EQ(Names(bag), (std::vector<std::string>{"a", "A"}));
}

TEST(JsonBagModel, ReplacedMemberMovesToEnd) {
  JsonBag bag;
  bag.SetItem(u"a", 1.0);
  bag.SetItem(u"b", 2.0);
  bag.SetItem(u"a", 3.0);
  EXPECT_EQ(bag.Count(), 2);
  EXPECT_EQ(S(bag.Name(1)), "b");
  EXPECT_EQ(S(bag.Name(2)), "a");
  EXPECT_EQ(bag.Item(2).AsDouble(), 3.0);
  EXPECT_EQ(Json(bag), R"({"b":2,"a":3})");
}

TEST(JsonBagModel, LargeObjectKeepsLookupAndOrderThroughReplaceAndRemove) {
  JsonBag bag;
  for (int i = 0; i < 50; ++i) bag.SetItem(U("k" + std::to_string(i)), static_cast<int32_t>(i));
  bag.SetItem(u"k3", 300);
  bag.Remove(u"k10");
  bag.Remove(1);  // k0
  EXPECT_EQ(bag.Count(), 48);
  EXPECT_EQ(S(bag.Name(bag.Count())), "k3");
  EXPECT_EQ(S(bag.Name(1)), "k1");
  for (int i = 1; i < 50; ++i) {
    if (i == 10) continue;
    ASSERT_TRUE(bag.Exists(U("k" + std::to_string(i)))) << i;
    EXPECT_EQ(bag.Item(U("k" + std::to_string(i))).AsLong(), i == 3 ? 300 : i);
  }
  EXPECT_FALSE(bag.Exists(u"k10"));
  EXPECT_FALSE(bag.Exists(u"K1"));
}

// Without memory for its name index a large object stays whole and correct: the member is
// stored exactly once (not released again by the failed call), and lookups still find every
// member.
TEST(JsonBagModel, LargeObjectWithoutMemoryForItsIndexKeepsEveryMember) {
  for (const bool parsed : {false, true}) {
    auto bag = parsed ? Parse(R"({"k0":0,"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8})")
                      : JsonBag::Create();
    failNothrowArrays = true;
    for (int i = 0; i < 40; ++i) {
      bag->SetItem(U("k" + std::to_string(i)), Variant(U("value " + std::to_string(i))));
    }
    failNothrowArrays = false;
    ASSERT_EQ(bag->Count(), 40);
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(S(bag->Item(U("k" + std::to_string(i))).AsString()), "value " + std::to_string(i));
    }
    bag->SetItem(u"k40", 40);  // with memory again, the index comes back
    EXPECT_EQ(bag->Item(u"k39").AsString(), u"value 39");
    EXPECT_EQ(bag->Item(u"k40").AsLong(), 40);
  }
}

TEST(JsonBagModel, ArrayWritesReplaceInPlaceOrAppend) {
  JsonBag bag;
  bag.SetIsArray(true);
  for (int i = 1; i <= 3; ++i) bag.SetItem(Variant::Null(), static_cast<int32_t>(i));
  bag.SetItem(3, u"three");
  EXPECT_EQ(Json(bag), R"([1,2,"three"])");
  bag.SetItem(7, u"seven");
  EXPECT_EQ(bag.Count(), 4);
  EXPECT_EQ(S(bag.Item(4).AsString()), "seven");
  bag.SetItem(Variant::Null(), true);
  EXPECT_EQ(Json(bag), R"([1,2,"three","seven",true])");
  EXPECT_EQ(ErrorTextOf([&] { bag.SetItem(0, 1); }).substr(0, 2), "9:");
  EXPECT_EQ(ErrorTextOf([&] { bag.SetItem(u"x", 1); }),
            "5: Array values can only be changed by index or added via Null");
}

TEST(JsonBagModel, RemoveByPositionAndName) {
  auto arr = Parse("[1,2,3]");
  arr->Remove(3);
  EXPECT_EQ(Json(*arr), "[1,2]");
  arr->Remove(9);
  EXPECT_EQ(arr->Count(), 2);
  EXPECT_EQ(ErrorTextOf([&] { arr->Remove(u"a"); }), "5: Must remove by index for arrays");
  EXPECT_EQ(ErrorTextOf([&] { arr->Remove(0); }).substr(0, 2), "9:");

  auto obj = Parse(R"({"a":1,"b":2,"c":3})");
  obj->Remove(u"zz");
  obj->Remove(u"B");
  EXPECT_EQ(obj->Count(), 3);
  obj->Remove(u"b");
  EXPECT_EQ(Json(*obj), R"({"a":1,"c":3})");
  obj->Remove(2);
  EXPECT_EQ(Names(*obj), std::vector<std::string>{"a"});
}

TEST(JsonBagModel, ExistsOnBothForms) {
  JsonBag obj;
  obj.SetItem(u"x", 1);
  EXPECT_TRUE(obj.Exists(u"x"));
  EXPECT_FALSE(obj.Exists(u"X"));
  EXPECT_TRUE(obj.Exists(1));
  EXPECT_FALSE(obj.Exists(2));
  EXPECT_FALSE(obj.Exists(0));
  EXPECT_FALSE(obj.Exists(Variant::Null()));
  auto arr = Parse("[1,2]");
  EXPECT_FALSE(arr->Exists(1));
  EXPECT_FALSE(arr->Exists(u"x"));
}

TEST(JsonBagModel, ErrorsCarryNumbersTextsAndSource) {
  JsonBag obj;
  obj.SetItem(u"a", 1);
  try {
    obj.Item(Variant::Null());
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 94);
    EXPECT_EQ(S(e.Description()), "Key must be String or an index)");
    EXPECT_EQ(S(e.Source()), "JsonBag");
  }
  EXPECT_EQ(ErrorTextOf([&] { obj.SetIsArray(true); }),
            "5: Cannot change IsArray setting after items have been added");
  EXPECT_FALSE(obj.IsArray());
  EXPECT_EQ(ErrorTextOf([&] { obj.SetItem(1, 2); }),
            "5: Object values can only be changed or added by key not by index");
  EXPECT_EQ(ErrorTextOf([&] { obj.SetItem(Variant::Null(), 2); }),
            "5: Object values can only be changed or added by key not by index");
  EXPECT_NE(ErrorTextOf([&] { obj.Item(u"missing"); }), "");
  EXPECT_EQ(ErrorTextOf([&] { obj.Item(2); }).substr(0, 2), "9:");
  EXPECT_EQ(ErrorTextOf([&] { obj.Name(2); }).substr(0, 2), "9:");

  auto arr = Parse("[1]");
  EXPECT_EQ(ErrorTextOf([&] { arr->Item(u"a"); }), "5: Array values can only be acessed by index");
  EXPECT_EQ(ErrorTextOf([&] { arr->Name(1); }), "5: Array items do not have names");
  EXPECT_EQ(ErrorTextOf([&] { arr->NewEnum(); }), "5: Arrays must be iterated using index values");
}

TEST(JsonBagModel, ObjectMembersReadableByPosition) {
  auto obj = Parse(R"({"a":"x","b":true})");
  EXPECT_EQ(S(obj->Item(1).AsString()), "x");
  EXPECT_TRUE(obj->Item(2.0).AsBoolean());  // a double index is a position too
}

TEST(JsonBagModel, VersionClearAndFormChanges) {
  JsonBag bag;
  EXPECT_EQ(bag.Version(), std::vector<std::u16string>{u"1.6"});
  bag.SetDecimalMode(true);
  bag.SetWhitespace(true);
  bag.SetIsArray(true);
  bag.SetItem(Variant::Null(), 1);
  bag.Clear();
  EXPECT_FALSE(bag.IsArray());
  EXPECT_EQ(bag.Count(), 0);
  EXPECT_TRUE(bag.DecimalMode());
  EXPECT_TRUE(bag.Whitespace());
  bag.SetIsArray(true);
  bag.SetIsArray(false);  // back to a plain object while empty
  bag.SetItem(u"n", 1);
  EXPECT_EQ(Names(bag), std::vector<std::string>{"n"});
}

TEST(JsonBagModel, ChildrenAreSharedByReferenceWithDefaultSettings) {
  JsonBag root;
  root.SetDecimalMode(true);
  root.SetWhitespace(true);
  auto list = root.AddNewArray(u"list");
  auto inner = list->AddNewObject();
  inner->SetItem(u"k", u"v");
  list->SetItem(Variant::Null(), 2);
  EXPECT_TRUE(list->IsArray());
  EXPECT_FALSE(list->DecimalMode());
  EXPECT_FALSE(inner->Whitespace());
  EXPECT_EQ(root.Item(u"list").ObjectAs<JsonBag>(), list);
  root.SetWhitespace(false);
  EXPECT_EQ(Json(root), R"({"list":[{"k":"v"},2]})");
  // A child outlives its parent while someone holds it.
  root.Clear();
  EXPECT_EQ(Json(*list), R"([{"k":"v"},2])");
  EXPECT_EQ(ErrorTextOf([&] { list->AddNewObject(u"x"); }),
            "5: Array values can only be changed by index or added via Null");
}

TEST(JsonBagModel, StoredValuesKeepTheirKinds) {
  JsonBag bag;
  bag.SetItem(u"i", int16_t{7});
  bag.SetItem(u"c", Currency{12345});
  bag.SetItem(u"d", Decimal::Parse(std::string_view("1.50")));
  bag.SetItem(u"t", Date{1.5});
  bag.SetItem(u"b", uint8_t{200});
  bag.SetItem(u"e", Variant());
  bag.SetItem(u"long text value", u"a longer string than seven");
  EXPECT_EQ(bag.Item(u"i").VarType(), vbInteger);
  EXPECT_EQ(bag.Item(u"c").AsCurrency().scaled, 12345);
  EXPECT_EQ(bag.Item(u"d").VarType(), vbDecimal);
  EXPECT_EQ(bag.Item(u"t").VarType(), vbDate);
  EXPECT_EQ(bag.Item(u"b").AsByte(), 200);
  EXPECT_TRUE(bag.Item(u"e").IsEmpty());
  EXPECT_EQ(S(bag.Item(u"long text value").AsString()), "a longer string than seven");
}

TEST(JsonBagModel, VeryDeepChainIsReleasedWithoutRecursion) {
  auto root = JsonBag::Create();
  root->SetIsArray(true);
  auto node = root;
  for (int i = 0; i < 1000000; ++i) node = node->AddNewArray();
  node.reset();
  root.reset();  // would overflow the stack if every level were released recursively
  SUCCEED();
}

}  // namespace
}  // namespace kestrola

namespace kestrola {
namespace {

using namespace kestrola::testing;

// Parsed children are sized exactly for what they held; they must still grow, shrink and be
// cleared like nodes built by hand.
void ParsedChildGrowsShrinksAndClears(std::shared_ptr<JsonBag> bag) {
  auto a = std::static_pointer_cast<JsonBag>(bag->Item(u"a").AsObject());
  auto o = std::static_pointer_cast<JsonBag>(bag->Item(u"o").AsObject());
  auto e = std::static_pointer_cast<JsonBag>(bag->Item(u"e").AsObject());
  a->SetItem(Variant::Null(), 3.0);
  a->SetItem(1, u"one");
  for (int i = 0; i < 20; ++i) o->SetItem(u"k" + Text::FromUtf8(std::to_string(i)), double(i));
  o->SetItem(u"x", 2.0);
  o->Remove(u"k3");
  e->SetItem(Variant::Null(), true);
  EXPECT_EQ(a->Count(), 3);
  EXPECT_EQ(o->Count(), 20);
  EXPECT_EQ(o->Item(u"k19").AsDouble(), 19.0);
  EXPECT_EQ(S(o->Name(20)), "x");
  EXPECT_FALSE(o->Exists(u"k3"));
  EXPECT_EQ(Json(*a), R"(["one",2,3])");
  EXPECT_EQ(Json(*e), "[true]");
  o->Clear();
  o->SetItem(u"y", 1.0);
  EXPECT_EQ(Json(*o), R"({"y":1})");
  a->Remove(1);
  a->Remove(1);
  a->Remove(1);
  EXPECT_EQ(Json(*a), "[]");
}

TEST(JsonBagModel, ParsedChildrenGrowShrinkAndClear) {
  for (size_t blanks : {0, 40000}) {  // a short text, and one long enough for the arena
    ParsedChildGrowsShrinksAndClears(
        Parse(R"({"a":[1,2],"o":{"x":1},"e":[]})" + std::string(blanks, ' ')));
  }
}

// Parsed children are stored differently by size (small ones inside their own allocation).
// At every size around that boundary, editing a parsed child must act exactly like editing
// the same child built item by item: removal, re-adding at the end, in-place replacement and
// growth past the size at which objects start indexing their names.
TEST(JsonBagModel, ParsedChildrenOfEverySizeEditLikeBuiltOnes) {
  const std::string values[] = {R"("a long text value, longer than inline")",
                                "[1,[2]]",
                                "-1.5",
                                "true",
                                "null",
                                R"({"z":"y"})",
                                R"("s")",
                                "7",
                                "false",
                                "[]"};
  // Each size twice: in a short text, and in one whose trailing blanks make it long enough
  // for the parser to keep small children as blocks of a shared arena.
  for (int run = 0; run < 22; ++run) {
    const int n = run % 11;
    const std::string blanks(run < 11 ? 0 : 40000, ' ');
    std::string object = "{", array = "[";
    auto builtObject = JsonBag::Create();
    auto builtArray = JsonBag::Create();
    builtArray->SetIsArray(true);
    for (int i = 0; i < n; ++i) {
      std::string sep = i ? "," : "";
      std::string name = "member" + std::to_string(i) + (i % 2 ? "_with_a_long_name" : "");
      object += sep + "\"" + name + "\":" + values[i];
      array += sep + values[i];
      auto one = Parse("[" + values[i] + "]");
      builtObject->SetItem(U(name), one->Item(1));
      builtArray->SetItem(Variant::Null(), one->Item(1));
    }
    auto parsed = Parse(R"({"o":)" + object + R"(},"a":)" + array + "]}" + blanks);
    auto o = std::static_pointer_cast<JsonBag>(parsed->Item(u"o").AsObject());
    auto a = std::static_pointer_cast<JsonBag>(parsed->Item(u"a").AsObject());
    ASSERT_EQ(Json(*o), Json(*builtObject)) << n;
    ASSERT_EQ(Json(*a), Json(*builtArray)) << n;
    for (JsonBag* bag : {o.get(), builtObject.get()}) {
      if (n > 1) {
        Variant second = bag->Item(2);
        bag->Remove(2);
        bag->SetItem(u"member1_with_a_long_name", second);
      }
      if (n > 0) bag->SetItem(u"member0", u"replaced");
      for (int i = 0; i < 12; ++i) bag->SetItem(U("added" + std::to_string(i)), double(i));
      bag->Remove(u"added3");
    }
    for (JsonBag* bag : {a.get(), builtArray.get()}) {
      if (n > 1) bag->Remove(1);
      if (n > 2) bag->SetItem(2, u"replaced");
      for (int i = 0; i < 12; ++i) bag->SetItem(Variant::Null(), double(i));
    }
    EXPECT_EQ(Json(*o), Json(*builtObject)) << n;
    EXPECT_EQ(Json(*a), Json(*builtArray)) << n;
    EXPECT_EQ(o->Count(), n + 11) << n;
    EXPECT_TRUE(o->Exists(u"added11")) << n;
    EXPECT_FALSE(o->Exists(u"added3")) << n;
    if (n > 1) {
      EXPECT_EQ(S(o->Name(n - 1)), "member1_with_a_long_name") << n;
    }
  }
}

// Texts of one-byte code units and wider ones are stored differently; names and values must
// compare, look up and read back the same either way, at every length.
TEST(JsonBagModel, NamesAndValuesKeepEveryCodeUnit) {
  const std::u16string samples[] = {u"",
                                    u"a",
                                    u"caf\u00e9",
                                    u"\u00ff\u00fe",
                                    u"x\u0100",
                                    u"fourteen chars",
                                    u"fifteen chars!!",
                                    u"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9",
                                    u"\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac",
                                    u"\u0101\u0101\u0101\u0101\u0101\u0101\u0101"};
  JsonBag bag;
  for (const auto& s : samples) bag.SetItem(s, s);
  for (const auto& s : samples) {
    EXPECT_TRUE(bag.Exists(s));
    EXPECT_EQ(bag.Item(s).AsString(), s);
  }
  EXPECT_FALSE(bag.Exists(u"caf\u0119"));
  EXPECT_FALSE(bag.Exists(u"\u0100\u00fe"));
  JsonBag copy;
  copy.SetJSON(bag.JSON());
  ASSERT_EQ(copy.Count(), bag.Count());
  for (int32_t i = 1; i <= copy.Count(); ++i) {
    EXPECT_EQ(copy.Name(i), bag.Name(i));
    EXPECT_EQ(copy.Item(i).AsString(), bag.Item(i).AsString());
  }
  // A repeated name is found whatever width its first occurrence was stored in.
  copy.SetJSON(u"{\"caf\u00e9\":1,\"x\u0100\":2,\"caf\\u00E9\":3,\"x\\u0100\":4}");
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(S(copy.JSON()), "{\"caf\xc3\xa9\":3,\"x\xc4\x80\":4}");
}

}  // namespace
}  // namespace kestrola

namespace kestrola {
namespace {

using namespace kestrola::testing;

// The nodes and long texts of a large parsed document share memory with their neighbours.
// Parts of it must stay valid after the document is gone, be usable and released on other
// threads, and everything must be given back in the end (the sanitizer build checks for
// leaks and early frees).
TEST(JsonBagModel, PartsOfALargeParsedDocumentOutliveItOnAnyThread) {
  std::string text = "[";
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(i);
    text += R"({"id":)" + n + R"(,"a member name long enough to be shared":"a text long enough )" +
            R"(for a block of its own )" + n + R"(","tags":[)" + n + R"(,"t"],"none":{}},)";
  }
  text.back() = ']';
  for (const bool utf8 : {true, false}) {
    auto root = JsonBag::Create();
    if (utf8) {
      root->SetJSONUtf8(text);
    } else {
      root->SetJSON(U(text));
    }
    ASSERT_EQ(root->Count(), 3000);
    std::vector<std::shared_ptr<JsonBag>> kept;
    std::vector<Variant> texts;
    for (int i = 1; i <= 3000; i += 7) {
      auto item = root->Item(i).ObjectAs<JsonBag>();
      kept.push_back(item);
      texts.push_back(item->Item("a member name long enough to be shared"));
    }
    root.reset();

    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&kept, &wrong, t] {
        for (size_t k = t; k < kept.size(); k += 4) {
          const std::string n = std::to_string(k * 7);
          auto tags = kept[k]->Item("tags").ObjectAs<JsonBag>();
          tags->SetItem(Variant::Null(), "added");
          if (S(tags->JSON()) != "[" + n + R"(,"t","added"])") ++wrong;
          kept[k].reset();  // the last owner drops it on this thread
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);

    JsonBag copies;
    copies.SetIsArray(true);
    for (const Variant& v : texts) copies.SetItem(Variant::Null(), v);
    texts.clear();
    EXPECT_EQ(S(copies.Item(copies.Count()).AsString()),
              "a text long enough for a block of its own 2996");
  }
}

// A large object makes its name index on the first lookup; readers that share it may all be
// first at once.
TEST(JsonBagModel, ReadersSharingALargeObjectFindEveryMember) {
  // Names of every length up to thirty-odd units, stored inline or in blocks, narrow or (with
  // a euro sign) wide: a name must hash the same stored as it hashes as a key.
  auto name = [](int i) {
    return "member " + std::to_string(i) + std::string(i % 23, 'x') + (i % 5 ? "" : "\u20ac");
  };
  std::string text = "{";
  for (int i = 0; i < 200; ++i) text += "\"" + name(i) + "\":" + std::to_string(i) + ",";
  text.back() = '}';
  for (int round = 0; round < 20; ++round) {
    const auto bag = Parse(text);
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
      readers.emplace_back([&bag, &wrong, &name, t] {
        for (int i = t; i < 200; i += 3) {
          const std::u16string key = U(name(i));
          if (!bag->Exists(key) || bag->Item(key).AsDouble() != i) ++wrong;
        }
        if (bag->Exists("member 200")) ++wrong;
      });
    }
    for (auto& reader : readers) reader.join();
    ASSERT_EQ(wrong.load(), 0);
  }
}

// Asks every container below bag for its node, so that the writer meets nodes only.
void TouchEveryChild(const JsonBag& bag) {
  for (const auto& [name, value] : bag) {
    if (value.IsObject()) TouchEveryChild(*value.ObjectAs<JsonBag>());
  }
}

TEST(JsonBagModel, SmallParsedChildrenActLikeNodes) {
  // Empty containers, arrays of two numbers and other small children at every level: in a
  // short text, and in one whose trailing blanks make it long enough for the parser to keep
  // small children as blocks of a shared arena.
  const std::string text =
      R"({"e":[],"o":{},"p":[1.5,-2],"q":[[3,4],[],{},[5],[6,"x"]],"s":{"t":{"u":[true]}}})";
  for (size_t blanks : {0, 40000}) {
    SCOPED_TRACE(blanks);
    const std::string padded = text + std::string(blanks, ' ');
    for (bool ws : {false, true}) {
      auto fresh = Parse(padded), touched = Parse(padded);
      fresh->SetWhitespace(ws);
      touched->SetWhitespace(ws);
      TouchEveryChild(*touched);
      EXPECT_EQ(Json(*fresh), Json(*touched)) << ws;
      if (!ws) {
        EXPECT_EQ(Json(*fresh), text);
      }
    }

    auto bag = Parse(padded);
    auto p = bag->Item("p").ObjectAs<JsonBag>();
    ASSERT_TRUE(p);
    EXPECT_EQ(bag->Item("p").ObjectAs<JsonBag>(), p) << "one node, however often it is read";
    EXPECT_TRUE(p->IsArray());
    EXPECT_EQ(p->Count(), 2);
    EXPECT_EQ(p->Item(2).AsDouble(), -2);
    p->SetItem(Variant::Null(), 7);
    bag->Item("e").ObjectAs<JsonBag>()->SetItem(Variant::Null(), "x");
    bag->Item("o").ObjectAs<JsonBag>()->SetItem("k", true);
    auto q = bag->Item("q").ObjectAs<JsonBag>();
    int position = 1;
    for (const auto& [name, value] : *q) {
      EXPECT_EQ(value.ObjectAs<JsonBag>(), q->Item(position++).ObjectAs<JsonBag>());
    }
    q->Item(1).ObjectAs<JsonBag>()->Remove(1);
    q->Item(3).ObjectAs<JsonBag>()->SetIsArray(true);
    q->SetItem(Variant::Null(), 9);  // grows into a new block; [5] and [6,"x"] go along unread
    auto u = bag->Item("s").ObjectAs<JsonBag>()->Item("t").ObjectAs<JsonBag>()->Item("u");
    bag->Remove("s");
    EXPECT_EQ(Json(*bag),
              R"({"e":["x"],"o":{"k":true},"p":[1.5,-2,7],"q":[[4],[],[],[5],[6,"x"],9]})");
    bag.reset();
    EXPECT_EQ(Json(*p), "[1.5,-2,7]") << "a child outlives its document";
    EXPECT_EQ(Json(*q), R"([[4],[],[],[5],[6,"x"],9])");
    EXPECT_EQ(Json(*u.ObjectAs<JsonBag>()), "[true]");
  }
  // The deepest document the parser takes, kept as blocks, is written and dropped.
  const std::string deep =
      std::string(JsonBag::kMaxDepth - 1, '[') + "[1]" + std::string(JsonBag::kMaxDepth - 1, ']');
  EXPECT_EQ(Json(*Parse(deep + std::string(40000, ' '))), deep);
}

TEST(JsonBagModel, ReadersSharingSmallChildrenGetOneNodeEach) {
  // Three readers ask for the nodes of the same small children while a fourth writes the
  // document out; every reader must get the same node, and the text must not change. The
  // document is long enough for the parser to keep its small children as arena blocks.
  constexpr int kItems = 4000;
  const char* kinds[] = {"[1.25,2]", "[]", "{}", R"({"a":1,"b":[1,2,3]})", "[null,\"t\"]"};
  std::string text = "[";
  for (int i = 0; i < kItems; ++i) text += std::string(kinds[i % 5]) + ",";
  text.back() = ']';
  ASSERT_GT(text.size(), 32768u);
  for (int round = 0; round < 20; ++round) {
    const auto bag = Parse(text);
    std::vector<std::vector<JsonBag*>> seen(3, std::vector<JsonBag*>(kItems));
    std::atomic<int> wrongText{0};
    RunTogether(4, [&](int t) {
      if (t == 3) {
        for (int k = 0; k < 5; ++k) wrongText += Json(*bag) != text;
        return;
      }
      for (int i = 0; i < kItems; ++i) seen[t][i] = bag->Item(i + 1).ObjectAs<JsonBag>().get();
    });
    ASSERT_EQ(wrongText.load(), 0);
    for (int i = 0; i < kItems; ++i) {
      ASSERT_NE(seen[0][i], nullptr);
      ASSERT_EQ(seen[0][i], seen[1][i]) << i;
      ASSERT_EQ(seen[0][i], seen[2][i]) << i;
    }
    EXPECT_EQ(Json(*bag), text);
  }
}

TEST(JsonBagModel, RecordsSharingLongNamesGoOnAnyThread) {
  // The records of a list share their long member names. Records kept from a document are
  // dropped on two threads while a third drops the document, or after it: every name must stay
  // readable as long as a record holds it, and be freed once, by whichever thread drops it
  // last. (In the shorter text the names have allocations of their own; in the longer one, the
  // arena's.)
  auto record = [](int i) {
    return R"({"a_long_member_name_one":)" + std::to_string(i) +
           R"(,"another_long_member_name":"x","short":[1,2,3],)"
           R"("a_third_long_member_name":{"nested_long_member_name":true}})";
  };
  for (const int records : {150, 600}) {
    std::string text = "[";
    for (int i = 0; i < records; ++i) text += record(i) + ",";
    text.back() = ']';
    for (int round = 0; round < 10; ++round) {
      auto bag = Parse(text);
      std::vector<std::pair<int, std::shared_ptr<JsonBag>>> kept[2];
      for (int i = 0; i < records; i += 3) {
        kept[i % 2].emplace_back(i, bag->Item(i + 1).ObjectAs<JsonBag>());
      }
      if (round % 2) bag.reset();  // every other round the document goes first
      std::atomic<int> wrongText{0};
      RunTogether(3, [&](int t) {
        if (t == 2) {
          bag.reset();
          return;
        }
        for (auto& [i, r] : kept[t]) {
          wrongText += Json(*r) != record(i);
          r.reset();
        }
      });
      EXPECT_EQ(wrongText.load(), 0) << records;
    }
  }
}

}  // namespace
}  // namespace kestrola
