#pragma once
// Demo data of the company database: companies, branches (centralising, origin and
// standalone), registrations in several states, series, customers, suppliers, carriers,
// operation types, fiscal parameters, invoices in every state the CC-e screen shows, their
// correction letters and transmission batches. Deterministic for a given seed and date.
#include <QDate>
#include <QSqlDatabase>
#include <QString>

namespace db {

constexpr int kDefaultDemoInvoices = 300;

struct DemoOptions {
    int invoices = 0; // <= 0: kDefaultDemoInvoices
    int letters = -1; // < 0: one and a half per invoice
    quint32 seed = 20261207;
    QDate today; // invoices fall in the months before it; invalid: current date
};

struct DemoSummary {
    int invoices = 0;
    int letters = 0;
    int batches = 0;
};

// Fills an empty, migrated database in one transaction. Refuses a database that
// already holds companies.
bool fillDemo(QSqlDatabase& db, const DemoOptions& options, QString* error, DemoSummary* summary = nullptr);

} // namespace db
