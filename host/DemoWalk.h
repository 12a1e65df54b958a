#pragma once
// The road of one letter, headless: drives the open CC-e screen through its automation
// contract (objects by objectName, handlers as slots) with the scripted UI services,
// against the application server the host is configured for, and says what happened at
// each step: filter, new letter, save, mark, transmit, e-mail, print.
#include <QString>

class QWidget;

namespace host {

// Returns 0 when every step went as a user would see it, else 1; out receives the lines.
// The printed letter is saved as outDir/demo-letter.pdf.
int walkOneLetter(QWidget* mainWindow, QString* out, const QString& outDir);

} // namespace host
