#pragma once
// The two generations of the file format the engine reads.

#include <cstdint>

namespace jet {

// Jet 3: Access 97, 2 KB pages, single-byte text. Jet 4: Access 2000-2003, 4 KB pages,
// UCS-2 text.
enum class JetVersion : std::uint8_t { Jet3 = 3, Jet4 = 4 };

}  // namespace jet
