#pragma once
// The stand-in's own book of authorised NF-e and of the events it registered, in a SQLite
// file of its own (never the company database). Safe from any thread: each thread has its
// own connection, and the callers serialise the changes that must be atomic.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>
#include <optional>

namespace sim {

struct RegisteredNFe {
    QString chNFe, tpAmb, cStat, nProt; // cStat "100" authorised, "101" cancelled
    QString dhRecbto; // the authorisation, as the authority writes it (with offset)
};

struct RegisteredEvent {
    QString chNFe, tpEvento, cStat, nProt, dhRegEvento;
    int nSeqEvento = 0;
    QByteArray procEvento; // <procEventoNFe> as it will be answered
};

class Registry {
public:
    explicit Registry(QString path) : m_path(std::move(path)) {}
    ~Registry();

    // Creates the tables when missing; false with *error.
    bool open(QString* error);
    // Fills the book from a company database (sqlite:PATH or postgresql://...): every NF-e
    // it holds with an access key, authorised or cancelled. Returns how many, -1 on error.
    int seedFrom(const QString& url, QString* error);

    bool addNFe(const RegisteredNFe& n);
    std::optional<RegisteredNFe> nfe(const QString& chNFe);
    std::optional<RegisteredEvent> event(const QString& chNFe, const QString& tpEvento, int nSeqEvento);
    QList<RegisteredEvent> events(const QString& chNFe = QString()); // all, oldest first
    // A protocol number no other event has: "1" + cUF + year + a serial, 15 digits in all
    // (17 in the tax reform's layouts).
    QString nextProtocol(int cUF, const QDateTime& at, int digits = 15);
    bool add(const RegisteredEvent& e);
    bool clearEvents();

    // Held while an event is judged and registered, so that a duplicate is seen as one.
    QMutex& writeLock() { return m_write; }

private:
    QString connection();
    QString m_path;
    QMutex m_write;
    QMutex m_names;
    QList<QString> m_connections;
};

} // namespace sim
