#include "controls/support/wngraphics/wnmemory.h"

#include "platform/application.h"
#include "platform/colors.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <cstring>

namespace wn {

void* AllocMemo(std::int64_t Size) {
  if (Size < 1) return nullptr;
  return std::calloc(static_cast<std::size_t>(Size), 1);
}

void FreeMemo(void*& P) {
  if (!P) return;
  std::free(P);
  P = nullptr;
}

bool CompareMem(const void* P1, const void* P2, std::size_t Size) {
  return Size == 0 || std::memcmp(P1, P2, Size) == 0;
}

void HMemCpy(void* Dest, const void* Source, std::size_t Count) { std::memmove(Dest, Source, Count); }

std::int32_t PaletteColor(std::int32_t Color) {
  return static_cast<std::int32_t>(platform::ColorToRGB(Color) | 0x02000000u);
}

void ResourceNotFound() {
  QApplication::restoreOverrideCursor();
  QMessageBox::information(platform::DialogOwner(), QString(),
                           QStringLiteral("Resource not found"), QMessageBox::Ok);
  throw platform::EAbort();
}

} // namespace wn
