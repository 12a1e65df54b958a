#pragma once
// The host's windows for reading: a text with a heading and "Salvar como...", and the
// help pages of the screens. Used by QtUiServices.
#include <QDialog>

class QTextBrowser;

namespace fw {

class TextWindow : public QDialog {
    Q_OBJECT
public:
    TextWindow(QWidget* parent, const QString& title, const QString& heading, const QString& text,
               const QString& suggestedFile);

private:
    void saveAs();
    QString m_text;
    QString m_suggested;
};

// One window, brought forward by every request: the user keeps it open beside the screen.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent);
    void showPage(const QString& resourcePath);

private:
    QTextBrowser* m_browser;
};

} // namespace fw
