#include "LinkCheck.h"

#include "PollTimeout.h"
#include "Transport.h"

LinkCheck::Outcome LinkCheck::start(const std::string& target, unsigned long mountId, pid_t client)
{
    if (asking_)
        return Outcome::None;
    SocketTable table;
    if (!table.read())
        return Outcome::None;
    Transport transport(client, table);
    if (transport.asking() || transport.connections().empty())
        return Outcome::None;
    if (transport.addressGone(SocketTable::localAddresses())) {
        transport.end();
        return Outcome::AddressGone;
    }
    client_ = client;
    connections_ = transport.connections();
    received_ = transport.received();
    bound_ = transport.bound();
    asking_ = true;
    deadline_ = Clock::now() + bound_;
    probe_.start(target, mountId);
    return Outcome::None;
}

int LinkCheck::timeout() const
{
    return PollTimeout::until(deadline_);
}

void LinkCheck::takeAnswer()
{
    // Any answer will do, a failure too: sshfs has then noticed the loss itself.
    if (probe_.take()) {
        asking_ = false;
        deadline_.reset();
    }
}

LinkCheck::Outcome LinkCheck::expired()
{
    if (!deadline_ || Clock::now() < *deadline_)
        return Outcome::None;
    // The probe stays asked until the link answers or its end fails it; no new check before.
    deadline_.reset();
    SocketTable table;
    if (!table.read())
        return Outcome::None;
    Transport transport(client_, table);
    // Another connection by now (sshfs reconnected), a byte received, or the user being asked:
    // the link is not dead, or not ours to end.
    const std::optional<std::uint64_t> received = transport.received();
    if (transport.connections() != connections_ || transport.asking() || !received || !received_ ||
        *received != *received_)
        return Outcome::None;
    transport.end();
    return Outcome::NoAnswer;
}
