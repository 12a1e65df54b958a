#pragma once
// The invoices (NOTAFISCAL) as the methods look them up.
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace srv {

class Store;

class InvoiceStore {
public:
    explicit InvoiceStore(Store& store) : m_store(store) {}

    // The companies of the invoices (CDFILIAL, NRLANCTONF), each once, in the order found;
    // a few statements for thousands of invoices. Invoices that do not exist add none.
    QStringList companiesOf(const QList<QPair<QString, QString>>& invoices);

private:
    Store& m_store;
};

} // namespace srv
