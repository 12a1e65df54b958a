#pragma once
// A company database of the test's own rows behind the server's methods, on SQLite
// (a temporary file) or on the PostgreSQL that CCE_PG_URL names.
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include <QJsonArray>
#include <QJsonDocument>

#include "core/values/JsonCodec.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "server/methods/Methods.h"
#include "server/methods/PacketFields.h"
#include "server/store/Store.h"
#include "tests/support/CompanyBuilder.h"
#include "tests/support/SeedUrl.h"

namespace cce_test {

using Invoice = InvoiceRow;
using Letter = LetterRow;

class MethodsTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        QString url;
        if (QLatin1String(GetParam()) == QLatin1String("postgresql")) {
            url = qEnvironmentVariable("CCE_PG_URL");
            if (url.isEmpty())
                GTEST_SKIP() << "CCE_PG_URL is not set; run under scripts/with-postgres for the PostgreSQL cases";
        } else {
            ASSERT_TRUE(m_dir.isValid());
            url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("company.db"));
        }
        QString error;
        store = srv::Store::open(url, &error);
        ASSERT_TRUE(store) << error.toStdString();
        if (seedUrl(url) != url) {
            seedStore = srv::Store::open(seedUrl(url), &error);
            ASSERT_TRUE(seedStore) << error.toStdString();
        }
        ASSERT_TRUE((seedStore ? seedStore : store)->migrate(&error)) << error.toStdString();
        clearAll();
        srv::registerMethods(registry, *store);
        reference();
    }

    void TearDown() override
    {
        store.reset();
        seedStore.reset();
    }

    // The database's URL, for a server process on the same database.
    QString databaseUrl() const
    {
        return QLatin1String(GetParam()) == QLatin1String("postgresql")
                   ? qEnvironmentVariable("CCE_PG_URL")
                   : QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("company.db"));
    }

    // Invoices 1..n of branch 0002, each with a number, key and counterpart of its own.
    static QString numberedLancto(int i) { return QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0')); }
    static QString numberedCounterpart(int i) { return QStringLiteral("9%1").arg(i, 13, 10, QLatin1Char('0')); }
    void addNumberedInvoices(int n)
    {
        for (int i = 1; i <= n; ++i) {
            Invoice invoice;
            invoice.lancto = numberedLancto(i);
            invoice.numero = QStringLiteral("%1").arg(i, 9, 10, QLatin1Char('0'));
            invoice.acesso = QStringLiteral("3526111122233300018155001%1").arg(i, 19, 10, QLatin1Char('0'));
            invoice.insJur = numberedCounterpart(i);
            addInvoice(invoice);
        }
    }

    void exec(const QString& sql, const QVariantList& binds = {})
    {
        QSqlQuery q(db());
        ASSERT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds[i]);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString() << " in " << sql.toStdString();
    }

    QVariantList row(const QString& sql, const QVariantList& binds = {})
    {
        QSqlQuery q(db());
        EXPECT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds[i]);
        EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
        QVariantList out;
        if (q.next())
            for (int i = 0; i < q.record().count(); ++i)
                out << q.value(i);
        return out;
    }

    int count(const QString& sql, const QVariantList& binds = {}) { return row(sql, binds).value(0).toInt(); }

    void clearAll()
    {
        for (const char* t : {"AUDITORIA", "CONSULTACCE", "LOTECCENF", "LOTECCE", "CARTACORRECAO", "NOTAFISCAL",
                              "PARAMDFS", "EMPRCNTRFIL", "SERIENF", "CTRLNUMENF", "INSCRMUNICIP", "INSCRESTAD",
                              "TIPOOPERAC", "TRANSPORTADORA", "FORNECEDOR", "CLIENTE", "FILIAL", "EMPRESA", "ESTADO"})
            exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t)));
    }

    void reference()
    {
        exec(QStringLiteral(
            "INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('01', 'Empresa Um'), ('02', 'Empresa Dois')"));
        exec(QStringLiteral("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, CDFILIFISC) VALUES "
                            "('0001', 'Centralizadora', '01', '0001'), ('0002', 'Origem A', '01', '0001'), "
                            "('0003', 'Origem B', '01', '0001'), ('0009', 'Outra', '02', NULL)"));
    }

    void addInvoice(const Invoice& n)
    {
        CompanyBuilder seed(db());
        seed.invoice(n);
        ASSERT_TRUE(seed.ok()) << seed.error().toStdString();
    }

    void addLetter(const QString& filial, const QString& lancto, const Letter& l)
    {
        CompanyBuilder seed(db());
        seed.letter(filial, lancto, l);
        ASSERT_TRUE(seed.ok()) << seed.error().toStdString();
    }

    static Letter accepted(const QString& seq, const QString& status = QStringLiteral("135"))
    {
        Letter l;
        l.seq = seq;
        l.status = status;
        l.obs = QStringLiteral("Evento registrado e vinculado a NF-e");
        l.transm = QStringLiteral("R");
        l.protocolo = QDateTime(QDate(2026, 11, 12), QTime(10, 0, 0));
        l.nrProtocolo = QStringLiteral("135260000099999");
        l.email = QStringLiteral("E");
        return l;
    }
    static Letter pending(const QString& seq)
    {
        Letter l;
        l.seq = seq;
        return l;
    }
    static Letter rejected(const QString& seq)
    {
        Letter l;
        l.seq = seq;
        l.status = QStringLiteral("573");
        l.obs = QStringLiteral("Rejeição: Duplicidade de Evento");
        l.transm = QStringLiteral("R");
        return l;
    }

    QVariant call(const QString& server, const QString& method, const QVariantList& params)
    {
        const srv::Method* m = registry.find(server, method);
        EXPECT_NE(m, nullptr) << method.toStdString();
        if (!m)
            return QVariant();
        EXPECT_EQ(m->args.size(), params.size()) << method.toStdString();
        const QVariant result = m->fn(params);
        if (result.metaType().id() != qMetaTypeId<fw::json::RawJson>())
            return result;
        // Written as JSON by the method: read back as the client reads it.
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson('[' + result.value<fw::json::RawJson>().text + ']', &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        QString why;
        const QVariant value = fw::json::decode(doc.array().at(0), &why);
        EXPECT_TRUE(value.isValid()) << why.toStdString();
        return value;
    }
    QVariant tr(const QString& method, const QVariantList& params)
    {
        return call(srv::kServerTransmissao, method, params);
    }

    // GetNotaFiscal arguments: everything "T" but the company; overrides by position (1-based).
    static QVariantList criteria(std::map<int, QVariant> set = {})
    {
        QVariantList p;
        for (int i = 1; i <= 13; ++i)
            p << QStringLiteral("T");
        p[3] = QStringLiteral("01");
        p[12] = QString();
        p << false << fw::nullValue() << fw::nullValue();
        for (const auto& [pos, v] : set)
            p[pos - 1] = v;
        return p;
    }

    // The invoices packet and letters packet of a GetNotaFiscal answer.
    std::pair<fw::DataPacket, fw::DataPacket> fetch(const QVariantList& params)
    {
        const QVariant r = tr(QStringLiteral("GetNotaFiscal"), params);
        const QVariantList l = r.toList();
        EXPECT_EQ(l.size(), 2) << "answer: " << r.toString().toStdString();
        if (l.size() != 2)
            return {};
        return {l[0].value<fw::DataPacket>(), l[1].value<fw::DataPacket>()};
    }

    // NRLANCTONF of the listed invoices, sorted.
    QStringList entries(const QVariantList& params)
    {
        const fw::DataPacket p = fetch(params).first;
        const int at = p.fieldIndex(QStringLiteral("NRLANCTONF"));
        QStringList out;
        for (const fw::Row& r : p.rows)
            out << r.value(at).toString();
        out.sort();
        return out;
    }

    // A letters delta with the letter fields in the screen's order.
    static fw::DeltaPacket delta() { return fw::DeltaPacket{srv::fields::cartaCorrecao(), {}}; }
    static fw::Row letterRow(const QString& filial, const QString& lancto, const Letter& l)
    {
        return fw::Row{filial,
                       lancto,
                       l.seq,
                       l.texto,
                       l.status.isEmpty() ? fw::nullValue() : QVariant(l.status),
                       l.obs,
                       l.protocolo.isValid() ? QVariant(l.protocolo) : fw::nullValue(),
                       l.nrProtocolo.isEmpty() ? fw::nullValue() : QVariant(l.nrProtocolo),
                       l.email,
                       l.emailTrans};
    }
    static fw::DeltaChange ins(const fw::Row& r) { return fw::DeltaChange{fw::DeltaChange::Op::Insert, {}, r}; }
    static fw::DeltaChange mod(const fw::Row& o, const fw::Row& n)
    {
        return fw::DeltaChange{fw::DeltaChange::Op::Modify, o, n};
    }
    static fw::DeltaChange del(const fw::Row& o) { return fw::DeltaChange{fw::DeltaChange::Op::Delete, o, {}}; }

    QString setCCe(const fw::DeltaPacket& d, const QString& filial, const QString& lancto)
    {
        const QVariant r = tr(QStringLiteral("SetCCe"), {QVariant::fromValue(d), filial, lancto});
        EXPECT_EQ(r.metaType().id(), QMetaType::QString);
        return r.toString();
    }

    // The letters stored for an invoice, "SEQ:TEXT:TRANSMISSION" each.
    QStringList stored(const QString& filial, const QString& lancto)
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("SELECT NRSEQCCE, DSCORRECAONFE, IDTRANSMCCE FROM CARTACORRECAO WHERE CDFILIAL = ? "
                                 "AND NRLANCTONF = ? ORDER BY NRSEQCCE"));
        q.bindValue(0, filial);
        q.bindValue(1, lancto);
        EXPECT_TRUE(q.exec());
        QStringList out;
        while (q.next())
            out << q.value(0).toString() + QLatin1Char(':') + q.value(1).toString() + QLatin1Char(':') +
                       q.value(2).toString();
        return out;
    }

    static QVariant nv(const QString& s) { return s.isEmpty() ? QVariant() : QVariant(s); }

public:
    // The test's own rows go straight to the database, whatever stands between it and
    // the store under test (seedUrl).
    QSqlDatabase db() { return (seedStore ? seedStore : store)->connection(); }

    std::unique_ptr<srv::Store> store;
    std::unique_ptr<srv::Store> seedStore; // the database behind a pooler, when store goes through one
    srv::MethodRegistry registry;

protected:
    QTemporaryDir m_dir;
};

} // namespace cce_test
