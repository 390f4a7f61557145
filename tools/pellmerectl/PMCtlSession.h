// One run of pellmerectl talking to the agent: sends events through a PMControlClient,
// prints transport failures and the agent's errors the same way for every command, and
// keeps the exit status of the run (the first failure wins).
//
//   PMCtlSession session(client, stdout, stderr);
//   if (auto reply = session.send(*event)) ... read the value ...
//   return session.exitCode();
//
// Blocking, on the calling thread (see PMControlClient); one thread at a time.
#pragma once

#include "protocol/AEDescriptor.h"
#include "protocol/PMControlClient.h"

#include <QString>

#include <cstdio>
#include <optional>

namespace pmctl {

class PMCtlSession {
public:
    PMCtlSession(protocol::PMControlClient &client, FILE *out, FILE *err);

    protocol::PMControlClient &client() { return m_client; }

    // Sends and answers the reply, or nothing after printing why: the transport failed
    // (exit status kExitUnreachable) or the agent answered an error (kExitFailed).
    std::optional<protocol::AEDescriptor> send(const protocol::AEDescriptor &event);
    // Like send(), but a reply carrying an error is answered as it is, unprinted, for the
    // caller to judge.
    std::optional<protocol::AEDescriptor> sendKeepingErrors(const protocol::AEDescriptor &event);

    // True once the agent could not be reached: further sends would fail the same way.
    bool unreachable() const { return m_unreachable; }

    // A line on standard output.
    void print(const QString &line);
    // "pellmerectl: <text>" on standard error, recorded as a failure with `exitCode`.
    void fail(const QString &text, int exitCode);

    int exitCode() const { return m_exitCode; }
    FILE *out() const { return m_out; }
    FILE *err() const { return m_err; }

    // The text for a transport status of PMControlClient; `what` names the request ("QURY").
    static QString transportFailureText(const QString &what, qint32 status, const QString &detail, qint64 timeoutMs);

private:
    protocol::PMControlClient &m_client;
    FILE *m_out;
    FILE *m_err;
    int m_exitCode = 0;
    bool m_unreachable = false;
};

} // namespace pmctl
