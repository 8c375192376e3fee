// The SANE manager's windows: the list of sources to choose from, and a
// source's own window with its main settings and the Scan button.
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <sane/saneopts.h>

#include "platform/twainsane.h"
#include "platform/twainsource.h"

namespace platform::twainsane {

namespace {

const char* PixelTypeName(TW_UINT16 Type) {
  switch (Type) {
  case TWPT_BW: return "Black and white";
  case TWPT_GRAY: return "Gray";
  default: return "Color";
  }
}

class TSourceDialog : public QDialog {
public:
  TSourceDialog(TSaneSource& Source, QWidget* Parent, const std::string& Title)
      : QDialog(Parent), FSource(Source) {
    setObjectName(TwainSourceDialogName);
    setWindowTitle(QString::fromStdString(Title));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* form = new QFormLayout;
    FMode = new QComboBox(this);
    FMode->setObjectName(QStringLiteral("Mode"));
    const TW_UINT16 current = Source.CurrentPixelType();
    for (TW_UINT16 t : Source.PixelTypes()) {
      FMode->addItem(QString::fromUtf8(PixelTypeName(t)), t);
      if (t == current) FMode->setCurrentIndex(FMode->count() - 1);
    }
    form->addRow(QStringLiteral("&Mode:"), FMode);
    FResolution = new QSpinBox(this);
    FResolution->setObjectName(QStringLiteral("Resolution"));
    FResolution->setSuffix(QStringLiteral(" dpi"));
    TSaneOptions& options = Source.Options();
    FResolutionOption = options.Find(SANE_NAME_SCAN_RESOLUTION);
    double lo = 0, hi = 0, step = 0, dpi = 0;
    if (options.Range(FResolutionOption, lo, hi, step) && options.GetNumber(FResolutionOption, dpi)) {
      FResolution->setRange(static_cast<int>(lo), static_cast<int>(hi));
      FResolution->setValue(static_cast<int>(dpi));
    } else {
      FResolution->setEnabled(false);
    }
    form->addRow(QStringLiteral("&Resolution:"), FResolution);
    FSourceOption = options.Find(SANE_NAME_SCAN_SOURCE);
    const std::vector<std::string> sources = options.StringList(FSourceOption);
    if (!sources.empty()) {
      FDocuments = new QComboBox(this);
      FDocuments->setObjectName(QStringLiteral("Source"));
      std::string now;
      options.GetString(FSourceOption, now);
      for (const std::string& s : sources) {
        FDocuments->addItem(QString::fromStdString(s));
        if (s == now) FDocuments->setCurrentIndex(FDocuments->count() - 1);
      }
      form->addRow(QStringLiteral("&Source:"), FDocuments);
    }
    FProgress = new QProgressBar(this);
    FProgress->setRange(0, 100);
    FProgress->setValue(0);
    FStatus = new QLabel(this);
    FStatus->setObjectName(QStringLiteral("Status"));
    auto* buttons = new QDialogButtonBox(this);
    FScan = buttons->addButton(QStringLiteral("Scan"), QDialogButtonBox::AcceptRole);
    FScan->setObjectName(QStringLiteral("Scan"));
    FCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    FCancel->setObjectName(QStringLiteral("Cancel"));
    connect(FScan, &QPushButton::clicked, this, [this] { ScanClick(); });
    connect(FCancel, &QPushButton::clicked, this, [this] { CancelClick(); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(FProgress);
    layout->addWidget(FStatus);
    layout->addWidget(buttons);
  }

  void ScanEnded(const QString& Error) {
    FScan->setEnabled(true);
    FProgress->setValue(Error.isEmpty() ? 100 : 0);
    FStatus->setText(Error);
  }
  void Progress(int Percent) { FProgress->setValue(Percent); }

protected:
  // Escape and the window's close box cancel as the button does; the
  // source closes the window itself when the application disables it.
  void reject() override { CancelClick(); }
  void closeEvent(QCloseEvent* Event) override {
    Event->ignore();
    CancelClick();
  }

private:
  void ScanClick() {
    TSaneOptions& options = FSource.Options();
    if (FMode->count() > 0) FSource.SetPixelType(static_cast<TW_UINT16>(FMode->currentData().toUInt()));
    if (FResolution->isEnabled()) options.SetNumber(FResolutionOption, FResolution->value());
    if (FDocuments != nullptr) options.SetString(FSourceOption, FDocuments->currentText().toStdString());
    FStatus->clear();
    FProgress->setValue(0);
    FScan->setEnabled(false);
    FSource.StartScan();
  }
  void CancelClick() {
    if (FSource.Scanning()) {
      FSource.CancelScan();
      ScanEnded(QString());
      return;
    }
    FSource.RequestClose();
  }

  TSaneSource& FSource;
  QComboBox* FMode = nullptr;
  QSpinBox* FResolution = nullptr;
  QComboBox* FDocuments = nullptr;
  QProgressBar* FProgress = nullptr;
  QLabel* FStatus = nullptr;
  QPushButton* FScan = nullptr;
  QPushButton* FCancel = nullptr;
  int FResolutionOption = -1;
  int FSourceOption = -1;
};

} // namespace

QDialog* MakeSourceDialog(TSaneSource& Source, QWidget* Parent, const std::string& Title) {
  return new TSourceDialog(Source, Parent, Title);
}

void SourceDialogScanEnded(QDialog* Dialog, const QString& Error) {
  if (auto* d = dynamic_cast<TSourceDialog*>(Dialog)) d->ScanEnded(Error);
}

void SourceDialogProgress(QDialog* Dialog, int Percent) {
  if (auto* d = dynamic_cast<TSourceDialog*>(Dialog)) d->Progress(Percent);
}

int RunSelectDialog(QWidget* Parent, const std::vector<std::string>& Names, int Current) {
  QDialog dialog(Parent);
  dialog.setObjectName(TwainSelectDialogName);
  dialog.setWindowTitle(QStringLiteral("Select Source"));
  auto* list = new QListWidget(&dialog);
  list->setObjectName(QStringLiteral("Sources"));
  for (const std::string& n : Names) list->addItem(QString::fromStdString(n));
  list->setCurrentRow(Current >= 0 && Current < static_cast<int>(Names.size()) ? Current : 0);
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* select = buttons->addButton(QStringLiteral("Select"), QDialogButtonBox::AcceptRole);
  select->setObjectName(QStringLiteral("Select"));
  buttons->addButton(QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("Sources:"), &dialog));
  layout->addWidget(list);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return -1;
  return list->currentRow();
}

} // namespace platform::twainsane
