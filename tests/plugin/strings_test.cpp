// Script strings in and out: packed and unpacked forms, long texts, and
// destinations that run into memory the script does not own.
#include <gtest/gtest.h>

#include <string>

#include "NativesFixture.h"

namespace {

const cell kCanary = 0x5A5A5A5A;

TEST_F(NativesTest, PackedAndUnpackedReadAlike) {
  for (bool packed : {false, true}) {
    const std::string pool = "pool-name", key = "k\xE9y", value = "a value \xFF!";
    ASSERT_EQ(Call("HLoad", {script.Str(pool, packed), script.Str("f.txt", packed)}), 1);
    ASSERT_EQ(Call("HAdd",
                   {script.Str(pool, packed), script.Str(key, packed), script.Str(value, packed)}),
              1);
    EXPECT_EQ(Get(pool, key), value) << packed;
    EXPECT_EQ(Call("HClose", {script.Str(pool, !packed)}), 1) << packed;
  }
}

TEST_F(NativesTest, LongTextsReadAndWriteWhole) {
  for (size_t length : {254, 255, 256, 6000}) {
    std::string value;
    for (size_t i = 0; i < length; ++i) value += char('a' + i % 26);
    for (bool packed : {false, true}) {
      Open("p");
      Call("HAdd", {S("p"), script.Str(value, packed), script.Str(value, packed)});
      const cell dest = script.Array(value.size() + 2, kCanary);
      EXPECT_EQ(Call("HGet", {S("p"), S(value), dest}), 1);
      EXPECT_EQ(script.Text(dest), value);
      EXPECT_EQ(script.At(dest + cell(4 * (value.size() + 1))), kCanary);
      Call("HClose", {S("p")});
    }
  }
}

TEST_F(NativesTest, EmptyStringsAreValid) {
  Open("");
  EXPECT_EQ(Call("HAdd", {S(""), S(""), S("empty key")}), 1);
  EXPECT_EQ(Get("", ""), "empty key");
}

// A destination `room` whole cells and `spare` bytes before memory the script
// does not own, so unaligned when `spare` is not 0: the text is cut to end
// with its zero cell in the last whole cell, and no byte past it changes.
// HGetFloat writes its one cell only when all four bytes are the script's.
TEST_F(NativesTest, ShortDestinationsAreCutAtTheEdge) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("hello")});
  Call("HAdd", {S("p"), S("f"), S("2.5")});
  for (int room : {0, 1, 2, 5, 6, 7}) {
    for (int spare : {0, 1, 2, 3}) {
      if (room == 0 && spare == 0) continue;
      for (bool onStack : {false, true}) {
        for (const char* native : {"HGet", "HGetFloat"}) {
          SCOPED_TRACE(std::string(native) + " room " + std::to_string(room) + " spare " +
                       std::to_string(spare) + (onStack ? " stack" : " heap"));
          Script edge;
          ASSERT_EQ(host.AmxLoad(edge.amx()), 0);
          const cell pool = edge.Str("p"), key = edge.Str(native[4] ? "f" : "k");
          const int bytes = 4 * room + spare;
          cell dest;
          if (onStack) {
            edge.StackArray(size_t(room + 1), kCanary);
            dest = edge.StackTop() - bytes;
          } else {
            edge.Array(size_t(room + 1), kCanary);
            dest = edge.HeapTop() - bytes;
          }
          edge.Put(dest + 4 * room, kCanary);  // the spare bytes and what follows
          EXPECT_EQ(edge.Call(native, {pool, key, dest}), 1);
          EXPECT_EQ(edge.At(dest + 4 * room), kCanary);
          if (room > 0 && native[4]) {
            EXPECT_EQ(AsFloat(edge.At(dest)), 2.5f);
          } else if (room > 0) {
            EXPECT_EQ(edge.Text(dest), std::string("hello").substr(0, size_t(room - 1)));
          }
          EXPECT_EQ(edge.amx()->violations, std::vector<std::string>{});
        }
      }
    }
  }
  EXPECT_EQ(Get("p", "k"), "hello") << "the plugin keeps working";
}

TEST_F(NativesTest, UnaddressableArgumentsAreHarmless) {
  Open("p");
  Call("HAdd", {S("p"), S("k"), S("v")});
  const cell gap = cell(script.amx()->data.size() * 2);  // between heap and stack
  for (cell bad : {gap, cell(-4), script.StackTop(), cell(0x7FFFFFFC)}) {
    EXPECT_EQ(Call("HGet", {S("p"), S("k"), bad}), 1);
    EXPECT_EQ(Call("HGetIndex", {S("p"), 0, bad}), 1);
    EXPECT_EQ(Call("HGetFloat", {S("p"), S("k"), bad}), 1);
    EXPECT_EQ(Call("HGetInt", {bad, S("k")}), 0) << "an unreadable name reads as empty";
  }
  EXPECT_EQ(script.At(gap), 0);
}

}  // namespace
