#pragma once
// Whether a termination signal (SIGINT or SIGTERM) has come that the message
// loop has not taken up yet. The signal handler notes it; a request in flight
// looks at it and ends at once, so the loop gets to shut the agent down
// instead of waiting for whatever the service is doing.

namespace lumivo {

// Async-signal-safe: called from the signal handler.
void NoteTerminationSignal();
// The loop has taken the termination up: requests of the shutdown run normally.
void ClearTerminationSignal();
bool TerminationSignalPending();

}  // namespace lumivo
