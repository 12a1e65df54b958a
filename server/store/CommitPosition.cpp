#include "server/store/CommitPosition.h"

namespace srv {

namespace {
thread_local CommitPosition* t_current = nullptr;
} // namespace

CommitPosition::CommitPosition(QByteArray wanted) : m_wanted(std::move(wanted)), m_previous(t_current)
{
    t_current = this;
}

CommitPosition::~CommitPosition() { t_current = m_previous; }

QByteArray CommitPosition::wanted() { return t_current ? t_current->m_wanted : QByteArray(); }

QByteArray CommitPosition::reached() { return t_current ? t_current->m_reached : QByteArray(); }

void CommitPosition::noteReached(const QByteArray& position)
{
    if (t_current && !position.isEmpty())
        t_current->m_reached = position;
}

} // namespace srv
