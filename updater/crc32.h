#pragma once
// CRC-32 of ISO-HDLC / IEEE 802.3 (the one zlib computes), and the check lines the build stores
// beside each payload.
#include <cstddef>
#include <cstdint>

namespace quorvel::updater {

// Adds one byte. The running value is kept in its finished (inverted) form, so the CRC of a
// sequence starts from 0 and the CRC of nothing is 0.
std::uint32_t Crc32Update(std::uint32_t value, std::uint8_t byte);

std::uint32_t Crc32(const void* bytes, std::size_t size);

// The value of a check line: the hexadecimal number at its start ("%x" rules: leading white
// space, an optional 0x, either letter case), read from all but the line's last byte. 0 when
// there is no number.
std::uint32_t ParseCheckLine(const char* line, std::size_t size);

}  // namespace quorvel::updater
