#pragma once
// A branch's fiscal-document parameters (PARAMDFS) and the company the branch belongs to.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

#include "vocabulary/PacketFields.h"

namespace srv {

class Store;

class ParameterStore {
public:
    explicit ParameterStore(Store& store) : m_store(store) {}

    // The branch's row in the parameters' packet (cdsParamDFS) order; none when the
    // branch has no parameters of its own.
    std::optional<QVariantList> parameters(const QString& filial);
    // The company of the branch (none, or one).
    QStringList companiesOfBranch(const QString& filial);

private:
    Store& m_store;
};

} // namespace srv
