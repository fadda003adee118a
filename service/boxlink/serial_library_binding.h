#pragma once
// The serial library of the Windows build (CDRVHF32.DLL, imported by ordinal) as a
// CommLibrary.
#include <memory>

#include "service/platform/comm_library.h"

namespace quorvel {

std::unique_ptr<CommLibrary> MakeSerialLibraryBinding();

}  // namespace quorvel
