#include "server/rpc/Caller.h"

namespace srv {

namespace {
thread_local const Caller* t_current = nullptr;
thread_local QByteArray* t_reached = nullptr;
} // namespace

const Caller& Caller::current()
{
    static const Caller nobody;
    return t_current ? *t_current : nobody;
}

void Caller::setCommitPositionReached(const QByteArray& position)
{
    if (t_reached)
        *t_reached = position;
}

CallerGuard::CallerGuard(const Caller& caller, QByteArray* reached)
    : m_previous(t_current), m_previousReached(t_reached)
{
    t_current = &caller;
    t_reached = reached;
}

CallerGuard::~CallerGuard()
{
    t_current = m_previous;
    t_reached = m_previousReached;
}

} // namespace srv
