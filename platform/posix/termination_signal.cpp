#include "platform/posix/termination_signal.h"

#include <csignal>

namespace lumivo {

namespace {

// Written by the signal handler, so it can be nothing but a sig_atomic_t.
volatile std::sig_atomic_t pending = 0;

}  // namespace

void NoteTerminationSignal() { pending = 1; }

void ClearTerminationSignal() { pending = 0; }

bool TerminationSignalPending() { return pending != 0; }

}  // namespace lumivo
