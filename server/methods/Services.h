#pragma once
// What the methods are given by the application: the store and the subsystems behind
// their interfaces, so that each is tested alone and replaced in tests.
#include "server/fiscal/Transmitter.h"
#include "server/mail/Mailer.h"
#include "server/store/ReadReplica.h"
#include "server/store/Store.h"

namespace srv {

struct Services {
    Store* store = nullptr;
    Transmitter* transmitter = nullptr; // none: the server is not configured for the authority
    Mailer* mailer = nullptr; // none: e-mail is not offered
    ReadReplica* replica = nullptr; // none: the lists are read where everything is
};

} // namespace srv
