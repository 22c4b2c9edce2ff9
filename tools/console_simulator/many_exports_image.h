#pragma once

#include <cstdint>
#include <vector>

// A DLL made in memory that is almost all export name table: 700,000
// distinct names, then the entry points but the last (ChangeUserNum),
// 10.5 MB in all, below the loader's limit. A reader that finds the fifteen
// walked the whole table; the loader refuses the image for the one it lacks,
// so nothing ever runs its code (it has none).
std::vector<uint8_t> ManyExportsImage();
