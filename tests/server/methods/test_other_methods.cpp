#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

class OtherMethods : public MethodsTest {};

void addBatch(MethodsTest& t, qint64 nr, const char* kind, const QDateTime& at, const QString& lancto)
{
    QSqlQuery q(t.db());
    q.prepare(
        QStringLiteral("INSERT INTO LOTECCE (NRLOTE, CDEMPRESA, DTHRENVIO, IDTIPOARQXML, DSXMLENVIO, DSXMLRETORNO) "
                       "VALUES (?, '01', ?, ?, ?, ?)"));
    q.addBindValue(nr);
    q.addBindValue(at);
    q.addBindValue(QString::fromLatin1(kind));
    q.addBindValue(QStringLiteral("<envEvento>%1</envEvento>").arg(nr));
    q.addBindValue(QStringLiteral("<retEnvEvento>%1</retEnvEvento>").arg(nr));
    ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    q.prepare(
        QStringLiteral("INSERT INTO LOTECCENF (NRLOTE, CDFILIAL, NRLANCTONF, NRSEQCCE) VALUES (?, '0002', ?, '01')"));
    q.addBindValue(nr);
    q.addBindValue(lancto);
    ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
}

} // namespace

TEST_P(OtherMethods, XmlOfTheLatestFailedOrRejectedBatch)
{
    const QString l = QStringLiteral("0000000001");
    auto xml = [&](const QString& lancto) {
        return tr(QStringLiteral("getXmlEnvLote"), {QStringLiteral("0002"), lancto});
    };
    EXPECT_EQ(xml(l).toString(),
              QStringLiteral("Não há arquivo XML de falha no schema ou de rejeição para esta nota fiscal."));

    const QDateTime t0(QDate(2026, 11, 20), QTime(8, 0));
    addBatch(*this, 7, "R", t0, l);
    addBatch(*this, 8, "S", t0.addSecs(60), l);
    addBatch(*this, 9, "P", t0.addSecs(120), l); // processed: not a failure
    addBatch(*this, 10, "S", t0.addSecs(180), QStringLiteral("0000000002")); // another invoice
    QVariant r = xml(l);
    ASSERT_TRUE(r.canConvert<fw::DataPacket>()) << r.toString().toStdString();
    fw::DataPacket p = r.value<fw::DataPacket>();
    ASSERT_EQ(p.fields.size(), 4);
    EXPECT_EQ(p.fields[3].name, QStringLiteral("DSARQXMLNFE"));
    EXPECT_EQ(p.fields[3].type, fw::FieldType::Blob);
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0],
              (fw::Row{QStringLiteral("0002"), l, QStringLiteral("S"), QStringLiteral("<envEvento>8</envEvento>")}));

    // A later rejection shows the authority's answer.
    addBatch(*this, 11, "R", t0.addSecs(240), l);
    p = xml(l).value<fw::DataPacket>();
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0][2].toString(), QStringLiteral("R"));
    EXPECT_EQ(p.rows[0][3].toString(), QStringLiteral("<retEnvEvento>11</retEnvEvento>"));

    EXPECT_EQ(xml(QString(10 * 1024 * 1024, QLatin1Char('9'))).toString(),
              QStringLiteral("Nota fiscal não encontrada."));
}

TEST_P(OtherMethods, ParametersOfABranch)
{
    exec(QStringLiteral("INSERT INTO PARAMDFS (CDFILIAL, NREXEMEMISSAO, IDUTREIMPRNF, NRTAMNUMNFUT, IDUTLIBERANF, "
                        "IDUTFILCENTOBR, IDNFILTROINSCR) VALUES ('0002', '1', 'S', 9, 'N', 'S', 'N')"));
    auto params = [&](const QString& filial) {
        return call(srv::kServerDocFiscSaida, QStringLiteral("GetParamDFS"), {filial});
    };
    fw::DataPacket p = params(QStringLiteral("0002")).value<fw::DataPacket>();
    const QStringList names = {"NREXEMEMISSAO", "IDUTREIMPRNF",   "CDFILIAL",      "NRTAMNUMNFUT",
                               "IDUTLIBERANF",  "IDUTFILCENTOBR", "IDNFILTROINSCR"};
    ASSERT_EQ(p.fields.size(), names.size());
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(p.fields[i].name, names[i]);
    EXPECT_EQ(p.fields[3].type, fw::FieldType::Float);
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0][2].toString(), QStringLiteral("0002"));
    EXPECT_DOUBLE_EQ(p.rows[0][3].toDouble(), 9.0);
    EXPECT_EQ(p.rows[0][6].toString(), QStringLiteral("N"));

    // Without parameters of its own: its code and empty values.
    p = params(QStringLiteral("0003")).value<fw::DataPacket>();
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.rows[0][2].toString(), QStringLiteral("0003"));
    EXPECT_EQ(p.rows[0][6].toString(), QString());
    EXPECT_TRUE(fw::isNullOrEmpty(p.rows[0][3]));

    EXPECT_EQ(params(QStringLiteral("00'; --")).metaType().id(), QMetaType::QString);
}

TEST_P(OtherMethods, MethodsNotOfferedYetSaySoAndChangeNothing)
{
    Invoice n;
    n.lancto = QStringLiteral("0000000001");
    addInvoice(n);
    addLetter(n.filial, n.lancto, pending(QStringLiteral("01")));
    fw::DataPacket invoices = fetch(criteria()).first;
    invoices.rows[0][0] = QStringLiteral("S");
    const QVariant packet = QVariant::fromValue(invoices);
    // A server without the authority's or the mail configuration says so.
    const QVariant t = tr(QStringLiteral("TransmiteCCe"), {packet, QStringLiteral("01"), QStringLiteral("condição")});
    ASSERT_EQ(t.metaType().id(), QMetaType::QString);
    EXPECT_TRUE(t.toString().contains(QStringLiteral("não está configurada"))) << t.toString().toStdString();
    for (const auto& [method, params] : std::vector<std::pair<QString, QVariantList>>{
             {QStringLiteral("SendEmailCCe"), {n.filial, n.lancto, QStringLiteral("01"), false}},
             {QStringLiteral("SendEmailCCeTodos"), {packet}}}) {
        const QVariant r = tr(method, params);
        ASSERT_EQ(r.metaType().id(), QMetaType::QString) << method.toStdString();
        EXPECT_TRUE(r.toString().contains(QStringLiteral("não está configurado"))) << method.toStdString();
    }
    EXPECT_EQ(stored(n.filial, n.lancto),
              QStringList{QStringLiteral("01:") + pending(QStringLiteral("01")).texto + QStringLiteral(":N")});
}

TEST_P(OtherMethods, RegisteredWithTheProtocolsArgumentKinds)
{
    using K = srv::ArgKind;
    auto kinds = [&](const QString& server, const char* name) {
        QList<K> out;
        if (const srv::Method* m = registry.find(server, QString::fromLatin1(name)))
            for (const srv::ArgSpec& a : m->args)
                out << a.kind;
        return out;
    };
    QList<K> gnf(13, K::String);
    gnf << K::Boolean << K::DateTime << K::DateTime;
    EXPECT_EQ(kinds(srv::kServerTransmissao, "GetNotaFiscal"), gnf);
    EXPECT_TRUE(registry.find(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"))->args[14].nullable);
    EXPECT_EQ(kinds(srv::kServerTransmissao, "SetCCe"), (QList<K>{K::DeltaPacket, K::String, K::String}));
    EXPECT_EQ(kinds(srv::kServerTransmissao, "TransmiteCCe"), (QList<K>{K::DataPacket, K::String, K::String}));
    EXPECT_EQ(kinds(srv::kServerTransmissao, "SendEmailCCe"), (QList<K>{K::String, K::String, K::String, K::Boolean}));
    EXPECT_EQ(kinds(srv::kServerTransmissao, "SendEmailCCeTodos"), (QList<K>{K::DataPacket}));
    EXPECT_EQ(kinds(srv::kServerTransmissao, "getXmlEnvLote"), (QList<K>{K::String, K::String}));
    EXPECT_EQ(kinds(srv::kServerDocFiscSaida, "GetParamDFS"), (QList<K>{K::String}));
    EXPECT_EQ(registry.find(srv::kServerDocFiscSaida, QStringLiteral("GetNotaFiscal")), nullptr);
}

TEST_P(OtherMethods, DemoDataListsWholeCompanies)
{
    clearAll();
    QString error;
    ASSERT_TRUE(store->fillDemo(120, &error)) << error.toStdString();
    for (const char* company : {"01", "02", "03"}) {
        const auto [nf, cce] = fetch(criteria({{4, QString::fromLatin1(company)}}));
        EXPECT_EQ(nf.rows.size(), count(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE CDEMPRESA = ?"),
                                        {QString::fromLatin1(company)}));
        EXPECT_EQ(cce.rows.size(), count(QStringLiteral("SELECT COUNT(*) FROM CARTACORRECAO L JOIN NOTAFISCAL N ON "
                                                        "N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF "
                                                        "WHERE N.CDEMPRESA = ?"),
                                         {QString::fromLatin1(company)}));
    }
    // A second initialisation with demo data leaves the database as it is.
    const int before = count(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL"));
    EXPECT_TRUE(store->fillDemo(10, &error)) << error.toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL")), before);
}

INSTANTIATE_TEST_SUITE_P(Engines, OtherMethods, ::testing::Values("sqlite", "postgresql"));
