#pragma once
// A first check of a TrueType/OpenType file before a font rasteriser reads it.
#include <cstddef>

// True when `font` starts like a TrueType or OpenType font whose table directory and tables lie
// inside the `size` bytes. The rasterisers trust the file's offsets; a file that fails this check
// would make them read past its end.
bool fontDirectoryFits(const unsigned char* font, std::size_t size);
