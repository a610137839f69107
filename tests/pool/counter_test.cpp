#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "HashPool.h"

namespace {

const char* const kMissing = nullptr;

struct CounterCase {
  const char* stored;  // kMissing: no such key
  char op;             // '+' Inc, '-' Dec
  int64_t amount;      // taken as 32 bits
  const char* expected;
  int result;
};

TEST(Counters, EdgeCases) {
  const CounterCase cases[] = {
      {kMissing, '+', 1, "1", 1},
      {"1", '+', 1, "2", 1},
      {kMissing, '-', 1, "-1", 1},
      // Below zero it goes on counting: the texts it writes it reads back.
      {"-1", '+', 1, "0", 1},
      {"-1", '-', 1, "-2", 1},
      {"-007", '+', 1, "-6", 1},
      {"-0", '+', 1, "1", 1},
      {"-2147483648", '-', 1, "2147483647", 1},
      {"-99999999999", '+', 1, "-2147483647", 1},
      {"-", '+', 1, "-", 0},
      {"--1", '+', 1, "--1", 0},
      {"1-", '+', 1, "1-", 0},
      {"- 1", '+', 1, "- 1", 0},
      {"5", '+', 1, "6", 1},
      {"5", '-', 1, "4", 1},
      {"5", '-', 10, "-5", 1},
      {"", '+', 3, "3", 1},
      {"", '-', 3, "-3", 1},
      {"abc", '+', 1, "abc", 0},
      {"+5", '+', 1, "+5", 0},
      {" 5", '-', 1, " 5", 0},
      {"5 ", '+', 1, "5 ", 0},
      {"1.500000", '+', 1, "1.500000", 0},
      {"007", '+', 1, "8", 1},
      {"007", '+', 0, "7", 1},
      {"2147483647", '+', 1, "-2147483648", 1},
      {"99999999999", '+', 1, "-2147483648", 1},
      {"99999999999", '-', 1, "2147483646", 1},
      {"5", '+', 4294967295, "4", 1},
      {kMissing, '+', 4294967295, "-1", 1},
      {kMissing, '+', 2147483648, "-2147483648", 1},
      {kMissing, '-', -2147483648LL, "-2147483648", 1},
      {"5", '-', -1, "6", 1},
      {"0", '-', 0, "0", 1},
      // Texts of any length are judged and read whole.
      {"0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000042",
       '+', 1, "43", 1},
      {"1111111111111111111111111111111111111111111111111111111111111111111111111111111111"
       "1111111111111111111111111111111111111111111111111111111111111111111111111111111111",
       '-', 1, "2147483646", 1},
      {"0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "000000000000000000000000000000000000000000000000000000000000000000000000000000000x",
       '+', 1, nullptr, 0},
  };
  for (const CounterCase& c : cases) {
    CHashPool pool("p");
    if (c.stored) pool.Add("k", c.stored);
    const int result = c.op == '+' ? pool.Inc("k", uint32_t(c.amount))
                                   : pool.Dec("k", int32_t(uint32_t(c.amount)));
    const std::string label = std::string(c.stored ? c.stored : "(missing)") + " " + c.op + " " +
                              std::to_string(c.amount);
    EXPECT_EQ(result, c.result) << label;
    EXPECT_EQ(std::string(pool.Get("k")), c.expected ? c.expected : c.stored) << label;
    EXPECT_EQ(pool.Table().size(), 1u) << label;
  }
}

TEST(Counters, IsNum) {
  for (const char* yes : {"", "0", "007", "1234567890"}) EXPECT_TRUE(IsNum(yes)) << yes;
  for (const char* no : {"-1", "+1", " 1", "1 ", "1.0", "1e3", "x"}) EXPECT_FALSE(IsNum(no)) << no;
}

TEST(Counters, EachAccessRunsTheGrowthCheck) {
  // 192 entries: the first access inserts the 193rd, the second grows.
  CHashPool pool("p");
  for (int i = 0; i < 192; ++i) pool.Add(std::to_string(i).c_str(), "x");
  pool.Inc("new", 1);
  EXPECT_EQ(pool.Table().bucket_count(), 389u);

  CHashPool plain("q");
  for (int i = 0; i < 192; ++i) plain.Add(std::to_string(i).c_str(), "x");
  plain.Add("new", "1");
  EXPECT_EQ(plain.Table().bucket_count(), 193u);
}

// Reference: the stored number (saturated at the 32-bit ends) plus the amount
// in 64 bits, then reduced to 32 and read as signed.
std::string Expected(const std::string& stored, uint32_t delta) {
  const bool negative = !stored.empty() && stored[0] == '-';
  int64_t n = 0;
  for (char c : stored.substr(negative)) n = std::min<int64_t>(n * 10 + (c - '0'), 1LL << 31);
  n = negative ? -n : std::min<int64_t>(n, 2147483647);
  const uint64_t sum = stored.empty() ? delta : uint64_t(n) + delta;
  return std::to_string(int64_t(int32_t(uint32_t(sum & 0xFFFFFFFFu))));
}

// Empty, or an optional minus and digits.
bool Counts(const std::string& text) {
  const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  return text.empty() || (text.size() > sign && IsNum(text.c_str() + sign));
}

TEST(Counters, RandomAgainstReferenceAndIncDecSymmetry) {
  std::mt19937 rng(7);
  const char alphabet[] = "0123456789-+ .x";
  for (int round = 0; round < 20000; ++round) {
    std::string stored;
    const int len = rng() % 14;
    const bool digitsOnly = rng() % 3 != 0;
    if (digitsOnly && rng() % 2) stored = "-";
    for (int i = 0; i < len; ++i) stored += alphabet[rng() % (digitsOnly ? 10 : 15)];
    const uint32_t amount = rng() % 4 == 0 ? rng() % 5 : uint32_t(rng());

    CHashPool inc("i"), dec("d");
    inc.Add("k", stored.c_str());
    dec.Add("k", stored.c_str());
    const int incResult = inc.Inc("k", amount);
    const int decResult = dec.Dec("k", int32_t(0u - amount));
    ASSERT_EQ(incResult, decResult) << stored << " " << amount;
    ASSERT_STREQ(inc.Get("k"), dec.Get("k")) << stored << " " << amount;
    if (Counts(stored)) {
      ASSERT_EQ(incResult, 1);
      ASSERT_EQ(std::string(inc.Get("k")), Expected(stored, amount)) << stored << " " << amount;
    } else {
      ASSERT_EQ(incResult, 0);
      ASSERT_EQ(std::string(inc.Get("k")), stored);
    }
  }
}

}  // namespace
