// Sizes far beyond what scripts usually use: many pools at once, and names,
// keys and values of a megabyte each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NativesFixture.h"

namespace {

const cell kCanary = 0x5A5A5A5A;

TEST_F(NativesTest, AHundredThousandPoolsOpenAtOnce) {
  const int kPools = 100000;
  auto name = [](int i) { return "pool" + std::to_string(i); };
  for (int i = 0; i < kPools; ++i) {
    script.ResetHeap();
    ASSERT_EQ(Call("HLoad", {S(name(i)), S(name(i) + ".txt")}), 1) << i;
    ASSERT_EQ(Call("HAddInt", {S(name(i)), S("i"), i}), 1) << i;
  }
  for (int i = 0; i < kPools; ++i) {
    script.ResetHeap();
    ASSERT_EQ(Call("HGetInt", {S(name(i)), S("i")}), i) << "each pool keeps its own entries";
  }
  for (int i = 0; i < kPools; ++i) {
    script.ResetHeap();
    ASSERT_EQ(Call("HClose", {S(name(i))}), 1) << i;
  }
  for (int i = 0; i < kPools; i += 997) {
    script.ResetHeap();
    EXPECT_EQ(Call("HClose", {S(name(i))}), 0) << i;
    EXPECT_EQ(Call("HGetInt", {S(name(i)), S("i")}), 0) << i;
  }
  EXPECT_EQ(List("scriptfiles"), std::vector<std::string>{}) << "closing saves nothing";
}

TEST_F(NativesTest, MegabyteNamesKeysAndValues) {
  const size_t kMegabyte = 1 << 20;
  std::string name, key, value;
  for (size_t i = 0; i < kMegabyte; ++i) {
    name += char('a' + i % 26);
    key += char('A' + i % 23);
    value += char(1 + i % 255);  // every byte but zero
  }
  Script big(8 * kMegabyte);
  ASSERT_EQ(host.AmxLoad(big.amx()), 0);
  const cell pool = big.Str(name), keyCell = big.Str(key);
  ASSERT_EQ(big.Call("HLoad", {pool, big.Str("big.txt"), 1}), 1);
  ASSERT_EQ(big.Call("HAdd", {big.Str(name, true), big.Str(key, true), big.Str(value)}), 1);

  const cell dest = big.Array(kMegabyte + 2, kCanary);
  EXPECT_EQ(big.Call("HGet", {pool, keyCell, dest}), 1);
  EXPECT_TRUE(big.Text(dest) == value) << "the whole megabyte comes back";
  EXPECT_EQ(big.At(dest + cell(4 * (kMegabyte + 1))), kCanary);

  const cell edge = big.Array(10, kCanary);  // the last cells of the heap
  EXPECT_EQ(big.Call("HGetIndex", {pool, 0, edge}), 1);
  EXPECT_EQ(big.Text(edge), value.substr(0, 9));

  EXPECT_EQ(big.Call("HInc", {pool, keyCell}), 0);
  EXPECT_EQ(big.Call("HGet", {pool, keyCell, dest}), 1);
  EXPECT_TRUE(big.Text(dest) == value) << "not a number: left alone";
  const std::string digits = std::string(kMegabyte - 2, '0') + "41";
  EXPECT_EQ(big.Call("HAdd", {pool, big.Str("n"), big.Str(digits)}), 1);
  EXPECT_EQ(big.Call("HInc", {pool, big.Str("n")}), 1);
  EXPECT_EQ(big.Call("HGetInt", {pool, big.Str("n")}), 42);

  // A line feed keeps the value out of the file; texts are written whole.
  EXPECT_EQ(big.Call("HSave", {pool}), 1);
  EXPECT_EQ(Read("scriptfiles/big.txt"), "n\n42\n");
  EXPECT_EQ(big.Call("HAdd", {pool, keyCell, pool}), 1);
  // Each megabyte record outgrows the journal's bound; a restart gets them
  // back from the rewritten journal.
  host.Unload();
  ASSERT_TRUE(host.Load());
  ASSERT_EQ(host.AmxLoad(big.amx()), 0);
  EXPECT_EQ(big.Call("HLoad", {pool, big.Str("big.txt"), 1}), 1);
  EXPECT_EQ(big.Call("HGet", {pool, keyCell, dest}), 1);
  EXPECT_TRUE(big.Text(dest) == name);
  EXPECT_EQ(big.Call("HSave", {pool}), 1);
  const std::string saved = Read("scriptfiles/big.txt");
  const std::string record = key + "\n" + name + "\n";
  EXPECT_TRUE(saved == "n\n42\n" + record || saved == record + "n\n42\n");
  EXPECT_EQ(big.Call("HClose", {big.Str(name)}), 1);
  EXPECT_EQ(big.Call("HGetInt", {pool, big.Str("n")}), 0);

  big.ResetHeap();
  const cell again = big.Str(name);
  EXPECT_EQ(big.Call("HLoad", {again, again}), 1) << "a megabyte file name";
  EXPECT_EQ(big.Call("HAdd", {again, big.Str("k"), big.Str("v")}), 1);
  EXPECT_EQ(big.Call("HSave", {again}), 1);
  EXPECT_EQ(Read("scriptfiles/" + name.substr(0, 238)), "k\nv\n")
      << "the name cut to the path limit";
  EXPECT_EQ(big.amx()->violations, std::vector<std::string>{});
}

}  // namespace
