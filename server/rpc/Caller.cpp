#include "server/rpc/Caller.h"

namespace srv {

namespace {
thread_local const Caller* t_current = nullptr;
} // namespace

const Caller& Caller::current()
{
    static const Caller nobody;
    return t_current ? *t_current : nobody;
}

CallerGuard::CallerGuard(const Caller& caller) : m_previous(t_current) { t_current = &caller; }

CallerGuard::~CallerGuard() { t_current = m_previous; }

} // namespace srv
