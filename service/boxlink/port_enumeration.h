#pragma once
// Listing the COM ports the machine has, for the operator's port list. Port numbers are
// 1-based COM numbers (COM3 is 3), in the order found.
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// True when `text` is not empty and holds only the decimal digits 0-9.
bool IsAllDigits(const std::string& text);

// The number n of a device's port name "COMn" (letters in any case, n decimal digits);
// nothing for any other name, or for a number too large to be a port.
std::optional<unsigned> ComNumberFromPortName(const std::string& portName);

// Windows build only. The device set-up list of the "Ports" class; false when that
// interface is not available (the list is then empty).
bool EnumeratePortsSetupApi(std::vector<unsigned>& ports);
// Windows build only. Every COM1..COM255 for which the system has a default configuration;
// always true.
bool EnumeratePortsByConfig(std::vector<unsigned>& ports);

}  // namespace quorvel
