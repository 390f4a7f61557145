// Runs libavahi-client on the Qt event loop: the poll interface Avahi asks for, with its
// file-descriptor watches as QSocketNotifiers and its time-outs as QTimers, so Avahi needs
// neither a thread nor a GLib loop of its own.
//
//   PMQtAvahiPoll poll;
//   AvahiClient *client = avahi_client_new(poll.poll(), AVAHI_CLIENT_NO_FAIL, ...);
//
// Lives on one thread (the one whose event loop runs it); every Avahi object made with it
// must be freed before it.
#pragma once

#include <avahi-common/watch.h>

class PMQtAvahiPoll {
public:
    PMQtAvahiPoll();
    ~PMQtAvahiPoll();
    PMQtAvahiPoll(const PMQtAvahiPoll &) = delete;
    PMQtAvahiPoll &operator=(const PMQtAvahiPoll &) = delete;

    const AvahiPoll *poll() const { return &m_poll; }

private:
    AvahiPoll m_poll;
};
