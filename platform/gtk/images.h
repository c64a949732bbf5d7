#pragma once
// The images that the resource script names (icons, bitmaps), built into the
// desktop host as they are into the Windows program.

#include <cstddef>
#include <string>

namespace lumivo {

// The bytes of the file `name` of the resource folder; false when it is not built in.
bool EmbeddedImage(const std::string& name, const unsigned char*& data, std::size_t& size);

}  // namespace lumivo
