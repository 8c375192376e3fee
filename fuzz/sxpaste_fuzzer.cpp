// What another program leaves on the clipboard for a paste: the GNOME list,
// KDE's cut mark, a URI list and our identifier-list array, in any mix. A
// paste offers local absolute paths or nothing at all, and whether there is
// anything to paste is answered as the paste itself would answer.
#include "shell/sxdragdrop.h"
#include "shell/sxfolderdrop.h"

#include <QtCore/QMimeData>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kTypes[] = {sx::SxGnomeCopiedFilesMimeType, sx::SxUriListMimeType,
                                       "application/x-kde-cutselection", sx::SxIDListMimeType};
  // The first byte says which formats are there; the rest, split at 0xFF,
  // are their contents in that order.
  const std::uint8_t present = data[0];
  QMimeData mime;
  std::size_t at = 1;
  for (int i = 0; i < 4; ++i) {
    std::size_t end = at;
    while (end < size && data[end] != 0xFF) ++end;
    if (present & (1u << i))
      mime.setData(kTypes[i], QByteArray(reinterpret_cast<const char*>(data + at), static_cast<qsizetype>(end - at)));
    at = end < size ? end + 1 : end;
  }
  std::vector<std::string> paths;
  const sx::TSxClipboardAction action = sx::SxPasteFromMime(&mime, &paths);
  if ((action == sx::TSxClipboardAction::None) != paths.empty()) std::abort();
  if (sx::SxPasteFromMime(&mime, nullptr) != action) std::abort();
  for (const std::string& p : paths)
    if (p.empty() || p[0] != '/') std::abort();
  return 0;
}
