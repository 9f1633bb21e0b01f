// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "plugin.h"

namespace {

struct parse_case {
  std::string text;
  std::vector<int> ids;
};

void PrintTo(const parse_case& c, std::ostream* out) { *out << testing::PrintToString(c.text); }

// What the library yields: the standard stream's value for every token that
// converts, -1 for every token that does not.
const std::vector<parse_case>& parse_cases() {
  static const std::vector<parse_case> cases = {
      {"", {}},
      {"4711", {4711}},
      {"4711;815;3", {4711, 815, 3}},
      {"815;4711", {815, 4711}},
      {"4711;815;", {4711, 815}},
      {"4711;4711", {4711, 4711}},
      {"4711; 815", {4711, 815}},
      {" \t\n\v\f\r42", {42}},
      {"4711abc;815", {4711, 815}},
      {"4711 815", {4711}},
      {"+815", {815}},
      {"010", {10}},
      {"0x1A", {0}},
      {"-1;815", {-1, 815}},
      {"-0", {0}},
      {"2147483647", {2147483647}},
      {"-2147483648", {INT_MIN}},
      {"00000000000000000000042", {42}},
      // Tokens that do not convert.
      {";", {-1}},
      {";815", {-1, 815}},
      {"815;;4711", {815, -1, 4711}},
      {"815; ;4711", {815, -1, 4711}},
      {"abc", {-1}},
      {"-", {-1}},
      {"+-5", {-1}},
      {"- 5", {-1}},
      {"\xA0"
       "42",
       {-1}},
      {"2147483648", {-1}},
      {"-2147483649", {-1}},
      {"99999999999999999999", {-1}},
  };
  return cases;
}

class proc_str_to_list_test : public testing::TestWithParam<parse_case> {};

TEST_P(proc_str_to_list_test, parses) {
  EXPECT_EQ(proc_str_to_list(GetParam().text), GetParam().ids);
}

// The table itself agrees with the standard library wherever it converts.
TEST_P(proc_str_to_list_test, agrees_with_stream_extraction) {
  std::istringstream list(GetParam().text);
  std::size_t index = 0;
  for (std::string token; std::getline(list, token, ';'); ++index) {
    ASSERT_LT(index, GetParam().ids.size());
    int value = 0;
    std::istringstream one(token);
    EXPECT_EQ(static_cast<bool>(one >> value) ? value : -1, GetParam().ids[index])
        << "token '" << token << "'";
  }
  EXPECT_EQ(index, GetParam().ids.size());
}

INSTANTIATE_TEST_SUITE_P(cases, proc_str_to_list_test, testing::ValuesIn(parse_cases()));

}  // namespace
