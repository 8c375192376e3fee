// Memory and colour routines of the picture and icon classes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wn {

// Zero-filled block; null for a size below 1.
void* AllocMemo(std::int64_t Size);
void FreeMemo(void*& P);
bool CompareMem(const void* P1, const void* P2, std::size_t Size);
inline void* HugeOffset(void* P, std::ptrdiff_t Offset) { return static_cast<std::uint8_t*>(P) + Offset; }
// Overlapping blocks are allowed.
void HMemCpy(void* Dest, const void* Source, std::size_t Count);
// The colour as RGB marked palette-relative.
std::int32_t PaletteColor(std::int32_t Color);
// Tells the user that a resource of the program is missing, then ends the
// current operation silently.
[[noreturn]] void ResourceNotFound();

} // namespace wn
