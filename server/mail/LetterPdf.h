#pragma once
// The printed letter for the e-mail: the report "DFS593" rendered by the report engine,
// narrowed to the one letter being sent. Needs a QGuiApplication (offscreen will do).
#include <QByteArray>
#include <QString>

#include "server/store/MailStore.h"
#include "server/store/Store.h"

namespace srv::mail {

class LetterPdf {
public:
    virtual ~LetterPdf() = default;
    virtual bool render(const LetterMail& letter, QByteArray* pdf, QString* error) = 0;
};

class ReportLetterPdf : public LetterPdf {
public:
    // folder: where the report definitions are (fw::report::reportFolder() by default).
    explicit ReportLetterPdf(Store& store, QString folder = QString());
    bool render(const LetterMail& letter, QByteArray* pdf, QString* error) override;

private:
    Store& m_store;
    QString m_folder;
};

} // namespace srv::mail
