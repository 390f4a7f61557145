// The exit statuses of pellmerectl, so scripts can tell a refused request from a typo and
// from an agent that cannot be reached.
#pragma once

namespace pmctl {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1, // the agent answered with an error, refused, or reported a failed sync
    kExitUsage = 2, // bad command line or value; nothing was sent
    kExitUnreachable = 3, // no agent, no session bus, or no answer in time
};

} // namespace pmctl
