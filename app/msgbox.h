// The class library's message box, shown modally, with a seam for tests.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace app {

// Answers the button that closed the box (QMessageBox::NoButton when none).
// Default is the button Enter gives (a question that replaces a file gives
// No); none named, the box chooses.
int MessageDlg(const QString& Caption, const QString& Text, QMessageBox::Icon Icon,
               QMessageBox::StandardButtons Buttons, QMessageBox::StandardButton Default = QMessageBox::NoButton);

// When set, the box is shown without a modal loop and this answers it.
extern std::function<void(QMessageBox&)> MessageDlgAnswer;

} // namespace app
