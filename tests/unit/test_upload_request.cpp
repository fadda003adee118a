#include <doctest.h>

#include <string>
#include <vector>

#include "service/upload/request_path.h"
#include "service/upload/server_reply.h"
#include "service/upload/upload_batch.h"

namespace quorvel {
namespace {

UploadBatch BatchOf(const std::string& text) {
  UploadBatch batch;
  REQUIRE(text.size() == UploadBatch::kLength);
  text.copy(batch.text.data(), text.size());
  return batch;
}

// Serial 0123456789abcd, 2007-01-22, hour 13 with sums 13 and 36, every other hour zero.
UploadBatch ExampleBatch() {
  std::string hours(384, '0');
  hours.replace(16 * 13, 16, "0000000d00000024");
  return BatchOf("0123456789abcd20070122" + hours);
}

// Subtracts the draws again: what the server does to read a scrambled path.
std::string Unscramble(const std::string& text, ClassicRandom& draws, bool digitsOnly) {
  std::string out = text;
  for (char& c : out) {
    if (c >= '0' && c <= '9')
      c = static_cast<char>('0' + ((c - '0') - draws.Next() % 10 + 10) % 10);
    else
      REQUIRE(digitsOnly);
  }
  return out;
}

TEST_CASE("hours are run-length compressed in runs of at most 27") {
  CHECK(PlainRequestPath(ExampleBatch()) ==
        "/submitr?0123456789abcd20070122Z0Z0Z0Z0Z0Z0Z0Y0dE024Z0Z0Z0Z0Z0X0");

  SUBCASE("an all-zero day is fourteen full runs and one of six") {
    std::string expected;
    for (int i = 0; i < 14; ++i) expected += "Z0";
    CHECK(CompressHours(std::string(384, '0')) == expected + "E0");
  }
  SUBCASE("runs of one and two stay, three and more become a letter") {
    CHECK(CompressHours("a") == "a");
    CHECK(CompressHours("aab") == "aab");
    CHECK(CompressHours("fffa") == "Bfa");
    CHECK(CompressHours(std::string(27, '7')) == "Z7");
  }
  SUBCASE("the character after a full run starts a new run even when it is the same") {
    CHECK(CompressHours(std::string(28, '0')) == "Z00");
    CHECK(CompressHours(std::string(29, '0')) == "Z000");
    CHECK(CompressHours(std::string(30, '0')) == "Z0B0");
  }
  SUBCASE("nothing to compress") {
    CHECK(CompressHours("").empty());
  }
}

TEST_CASE("the keystream is the classic C runtime generator") {
  ClassicRandom draws(1);
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) seen.push_back(draws.Next());
  CHECK(seen == std::vector<int>{41, 18467, 6334, 26500, 19169});

  ClassicRandom wide(0xFFFF);
  for (int i = 0; i < 1000; ++i) {
    const int r = wide.Next();
    REQUIRE((r >= 0 && r <= 0x7FFF));
  }
}

TEST_CASE("a scrambled path carries its seed and only its digits change") {
  const UploadBatch batch = ExampleBatch();
  const std::string plain = PlainRequestPath(batch);

  SUBCASE("seed 1: the draws 41, 18467, 6334, 26500, 19169 are added to the first digits") {
    CHECK(ScrambledRequestPath(batch, 1).substr(0, 19) == "/submitrs?000118633");
  }
  SUBCASE("the server restores the head and the hours with the same draws") {
    const std::uint16_t seed = 0xBEEF;
    const std::string path = ScrambledRequestPath(batch, seed);
    CHECK(path == ScrambledRequestPath(batch, seed));
    REQUIRE(path.size() == plain.size() + 5);
    CHECK(path.substr(0, 14) == "/submitrs?BEEF");

    ClassicRandom draws(seed);
    // Hex letters come back as digits: a as 9, b as 0, c as 1, d as 2.
    CHECK(Unscramble(path.substr(14, 22), draws, false) == "0123456789901220070122");
    CHECK(Unscramble(path.substr(36), draws, true) == plain.substr(31));
  }
  SUBCASE("run letters and the hours' hex letters keep their places") {
    const std::string path = ScrambledRequestPath(batch, 77);
    for (std::size_t i = 36; i < path.size(); ++i) {
      const char p = plain[i - 5];
      if (p < '0' || p > '9') CHECK(path[i] == p);
    }
  }
  SUBCASE("a and 9 in the same place give the same digit") {
    UploadBatch nine = batch;
    nine.text[10] = '9';
    CHECK(ScrambledRequestPath(nine, 4242) == ScrambledRequestPath(batch, 4242));
  }
}

TEST_CASE("the reply's marker line gives the result code") {
  const std::string clock = "01221305";
  const auto result = [&](const std::string& body) {
    return ParseServerReply(body, clock).resultCode;
  };

  CHECK(result("<div id=\"server_response\" title=\"201\">ok</div>\n") == 201);
  CHECK_FALSE(result("<html><body>Thank you</body></html>\n").has_value());
  CHECK_FALSE(result("").has_value());
  SUBCASE("the second marker may come before the first on the line") {
    CHECK(result("<p title=\"200\" id=\"server_response\">") == 200);
  }
  SUBCASE("a marker line without the second marker does not end the search") {
    CHECK(result("id=\"server_response\r\nnothing\r\nid=\"server_response title=\"202\"\r\n") ==
          202);
  }
  SUBCASE("the second marker on a line without the first is not looked at") {
    CHECK_FALSE(result("title=\"500\"\n").has_value());
  }
  SUBCASE("the first line holding both markers wins") {
    CHECK(result("id=\"server_response title=\"200\"\nid=\"server_response title=\"404\"\n") ==
          200);
  }
  SUBCASE("digits up to the first non-digit; none at all is 0") {
    CHECK(result("id=\"server_response title=\"200abc") == 200);
    CHECK(result("id=\"server_response title=\"\"") == 0);
    CHECK(result("id=\"server_response title=\" 200") == 0);
  }
  SUBCASE("hostile lines: markers at the very end, huge numbers, stray bytes") {
    CHECK(result("id=\"server_response title=\"") == 0);
    CHECK_FALSE(result("xx id=\"server_response").has_value());
    CHECK_FALSE(result("id=\"server_respons").has_value());
    CHECK(result("id=\"server_response title=\"99999999999999999999") == 2147483647);
    CHECK(result(std::string("id=\"server_response\0 title=\"42", 30)) == 42);
  }
}

TEST_CASE("a clock mark within 9 of the PC's local time asks for a clock pass") {
  const std::string local = "01221530";
  const auto agrees = [&](const std::string& line) {
    return ParseServerReply(line, local).clockAgrees;
  };

  CHECK(agrees("<b id=\"server_response@abcd01221530\" title=\"200\">"));
  CHECK(agrees("id=\"server_response@____01221539"));
  CHECK(agrees("id=\"server_response@____01221521"));
  CHECK_FALSE(agrees("id=\"server_response@____01221540"));
  CHECK_FALSE(agrees("id=\"server_response@____01221520"));
  SUBCASE("the values compare as numbers, so one minute across the hour is too far") {
    CHECK_FALSE(ParseServerReply("id=\"server_response@____01221559", "01221600").clockAgrees);
  }
  SUBCASE("no @ right after the marker: no clock test") {
    CHECK_FALSE(agrees("id=\"server_response abcd01221530"));
    CHECK_FALSE(agrees("id=\"server_response\" @abcd01221530"));
  }
  SUBCASE("a mark cut short or not all digits is no clock") {
    CHECK_FALSE(agrees("id=\"server_response@"));
    CHECK_FALSE(agrees("id=\"server_response@abcd"));
    CHECK_FALSE(agrees("id=\"server_response@abcd0122153"));
    CHECK_FALSE(agrees("id=\"server_response@abcd0122153\n0 title=\"200\""));
    CHECK_FALSE(agrees("id=\"server_response@abcd+1221530"));
  }
  SUBCASE("a marker line without a result still counts for the clock") {
    const ServerReply reply = ParseServerReply("id=\"server_response@abcd01221530\n", local);
    CHECK(reply.clockAgrees);
    CHECK_FALSE(reply.resultCode.has_value());
  }
  SUBCASE("lines after the result line are not read") {
    CHECK_FALSE(agrees("id=\"server_response title=\"200\"\nid=\"server_response@abcd01221530"));
  }
}

}  // namespace
}  // namespace quorvel
