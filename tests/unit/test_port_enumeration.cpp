#include <doctest.h>

#include "service/boxlink/port_enumeration.h"

namespace quorvel {
namespace {

TEST_CASE("digit-only texts") {
  CHECK(IsAllDigits("0"));
  CHECK(IsAllDigits("0123456789"));
  CHECK_FALSE(IsAllDigits(""));
  CHECK_FALSE(IsAllDigits("1A"));
  CHECK_FALSE(IsAllDigits(" 1"));
  CHECK_FALSE(IsAllDigits("-1"));
}

TEST_CASE("device port names give COM numbers") {
  CHECK(ComNumberFromPortName("COM1") == 1u);
  CHECK(ComNumberFromPortName("com7") == 7u);
  CHECK(ComNumberFromPortName("CoM300") == 300u);
  CHECK(ComNumberFromPortName("COM4294967295") == 4294967295u);
  for (const char* other :
       {"LPT1", "COM", "COMX", "COM1A", "CO1", " COM1", "COM 1", "COM4294967296", "PORT1"})
    CHECK_MESSAGE(!ComNumberFromPortName(other).has_value(), other);
}

}  // namespace
}  // namespace quorvel
