#include "app/mainform.h"
#include "image/views/rastrumview.h"
#include "image/model/rastrumproc.h"

namespace app {

void TMainForm::SetAsDesktopWallpaper() {}
void TMainForm::CopyToClipboard() {
  if (HasImage()) RastrumView1->GetProc()->CopyToClipboard();
}
void TMainForm::PrinterSetup() {}
void TMainForm::PrintImage() {}
void TMainForm::PrintPreview() {}
void TMainForm::SelectScannerSource() {}
void TMainForm::AcquireImage() {}
bool TMainForm::ScannerSourceSelected() const { return false; }

} // namespace app
