// Metafiles come from any file with a metafile extension: arbitrary bytes must
// load or be refused, and a loaded one must play onto a small picture without
// reading outside its records, and onto a strip as tall as the largest
// picture the program draws (where crowded fills cost the most) within its
// work budgets.
#include "platform/metafile.h"

#include "fuzz_application.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Text needs the GUI application's font database.
  EnsureFuzzApplication<QGuiApplication>();
  platform::TMetafile metafile;
  try {
    metafile.LoadFromBytes(data, size);
  } catch (const platform::EInvalidGraphic&) {
    return 0;
  }
  if (metafile.Width() <= 0 || metafile.Height() <= 0) std::abort();
  for (QSize size : {QSize(48, 32), QSize(8, 2800)}) {
    QImage target(size, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    const platform::TMetafileDrawStats stats = metafile.Draw(painter, target.rect());
    if (stats.FillWork > stats.FillBudget || stats.FillPixels > stats.FillPixelBudget ||
        stats.StrokeWork > stats.StrokeBudget || stats.WideStrokeWork > stats.WideStrokeBudget)
      std::abort();
  }
  return 0;
}
