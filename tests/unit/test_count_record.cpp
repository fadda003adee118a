#include <doctest.h>

#include "service/boxlink/count_record.h"

namespace quorvel {
namespace {

CountRecord Parsed(const char* line) {
  CountRecord record;
  record.ParseRecord(line);
  return record;
}

TEST_CASE("a record line is read in any of its spellings") {
  const char* line = nullptr;
  SUBCASE("blanks") {
    line = "0D 16 01 07 000C 0022 A6";
  }
  SUBCASE("lower case") {
    line = "0d 16 01 07 000c 0022 a6";
  }
  SUBCASE("fields run together") {
    line = "0D160107000C0022A6";
  }
  SUBCASE("tabs, line feeds and leading blanks") {
    line = "\n  0D\t16 01\n07  000C 0022 A6";
  }
  SUBCASE("text after the checksum") {
    line = "0D 16 01 07 000C 0022 A6 trailing";
  }
  const CountRecord r = Parsed(line);
  CHECK(r.hour == 0x0D);
  CHECK(r.day == 0x16);
  CHECK(r.month == 1);
  CHECK(r.year == 7);
  CHECK(r.firstCount == 12);
  CHECK(r.secondCount == 34);
  CHECK(r.ChecksumOk());
  CHECK(r.FormatRecord() == "20070122,13,00012,00034");
}

TEST_CASE("the one-count form has a second count of zero") {
  const CountRecord r = Parsed("0D 16 01 07 000C C8");
  CHECK(r.ChecksumOk());
  CHECK(r.firstCount == 12);
  CHECK(r.secondCount == 0);
  CHECK(r.FormatRecord() == "20070122,13,00012,00000");
}

TEST_CASE("the checksum rejects damaged lines and lines that are no record") {
  SUBCASE("one digit changed") {
    CHECK_FALSE(Parsed("0D 16 01 07 000D 0022 A6").ChecksumOk());
  }
  SUBCASE("checksum off by one") {
    CHECK_FALSE(Parsed("0D 16 01 07 000C 0022 A7").ChecksumOk());
  }
  SUBCASE("empty line") {
    CHECK_FALSE(Parsed("").ChecksumOk());
  }
  SUBCASE("keyword") {
    CHECK_FALSE(Parsed("BITEM").ChecksumOk());
  }
  SUBCASE("a sign is not a digit") {
    CHECK_FALSE(Parsed("-D 16 01 07 000C 0022 A6").ChecksumOk());
  }
  SUBCASE("high byte of a count counts") {
    // 0x0100 adds 1 to the sum through its high byte, not 0 through its low byte.
    CHECK(Parsed("00 00 00 00 0100 0000 FE").ChecksumOk());
    CHECK_FALSE(Parsed("00 00 00 00 0100 0000 FF").ChecksumOk());
  }
  SUBCASE("a field stops at its digit count") {
    // "0D160" reads as hour 0D and day 16; the 0 begins the month.
    const CountRecord r = Parsed("0D16001070000C0022");
    CHECK(r.hour == 0x0D);
    CHECK(r.day == 0x16);
    CHECK(r.month == 0x00);
    CHECK(r.year == 0x10);
  }
}

TEST_CASE("extreme field values format as stored") {
  // hour FF, day 00, month 00, year FF, counts FFFF: the data bytes sum to 0x5FA.
  const CountRecord r = Parsed("FF 00 00 FF FFFF FFFF 05");
  CHECK(r.ChecksumOk());
  CHECK(r.IsPlausible());
  CHECK(r.FormatRecord() == "21550000,255,65535,65535");
  CHECK(Parsed("00 01 01 5A 0000 0000 A3").FormatRecord() == "19900101,00,00000,00000");
  CHECK(Parsed("00 01 01 59 0000 0000 A4").FormatRecord() == "20890101,00,00000,00000");
  CHECK(Parsed("00 1F 0C 00 0000 0000 D4").IsPlausible());        // day 31, month 12
  CHECK_FALSE(Parsed("00 20 0C 00 0000 0000 D3").IsPlausible());  // day 32
  CHECK_FALSE(Parsed("00 1F 0D 00 0000 0000 D3").IsPlausible());  // month 13
}

}  // namespace
}  // namespace quorvel
