#pragma once
// Notifications to systemd while it supervises the agent as a service
// (NOTIFY_SOCKET set): readiness, a status line, watchdog keep-alives and
// stopping. A build without libsystemd sends nothing.

#include <string>

#include "platform/system_port.h"

namespace lumivo {

// The notification for an activity, for example "READY=1\nSTATUS=Running".
std::string ActivityNotification(AgentActivity::Value activity, const std::string& vpnAddress);
// sd_notify with `state`; nothing when no service manager listens.
void NotifyServiceManager(const std::string& state);
// Whether standard output is the journal: JOURNAL_STREAM ("DEVICE:INODE",
// set by systemd for a unit's output) names the stream that fd 1 is.
bool StandardOutputIsJournal();

}  // namespace lumivo
