#pragma once
// Where a test writes and reads its own rows on the database a URL names.
#include <QString>
#include <QtGlobal>

namespace cce_test {

// The database itself when url goes through a pooler in transaction mode (CCE_PG_URL is
// then the pooler's, and CCE_PG_DIRECT_URL the database behind it), as Qt's driver, which
// the tests' own statements use, prepares statements under names that such a pooler
// cannot keep; url otherwise. What is tested talks to url.
inline QString seedUrl(const QString& url)
{
    const QString direct = qEnvironmentVariable("CCE_PG_DIRECT_URL");
    return !direct.isEmpty() && url == qEnvironmentVariable("CCE_PG_URL") ? direct : url;
}

} // namespace cce_test
