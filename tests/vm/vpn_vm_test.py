"""The agent's VPN over the host's real L2TP/IPsec stack, end to end in an
emulated machine (machine.py, guest_vpn.py). Skips (77) only where qemu
cannot run. Environment: LUMIVO_AGENT, LUMIVO_DEVCLOUD, LUMIVO_VM_FOLDER."""

import os
import sys

import machine


def main():
    folder = os.environ.get("LUMIVO_VM_FOLDER", "vm")
    environment = {k: os.environ[k] for k in ("LUMIVO_AGENT", "LUMIVO_DEVCLOUD")}
    guest = os.path.join(os.path.dirname(os.path.abspath(__file__)), "guest_vpn.py")
    try:
        status, log, console, seconds = machine.Machine(folder).run(guest, environment, 420)
    except machine.Skip as e:
        print("skipped: " + str(e))
        return machine.SKIP
    print(log)
    print("machine ran %.0f s, guest status %r" % (seconds, status))
    if status != 0:
        print("console (end):\n" + console[-3000:])
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
