"""The arm32 build's tests that start ARM programs as children, in an
emulated ARM machine (machine.py, armhf; guest_arm32.sh). Skips (77) only
where qemu cannot run. Environment: LUMIVO_ARM32_BUILD, LUMIVO_VM_FOLDER."""

import os
import sys

import machine


def main():
    folder = os.environ.get("LUMIVO_VM_FOLDER", "vm")
    environment = {"LUMIVO_ARM32_BUILD": os.environ["LUMIVO_ARM32_BUILD"]}
    guest = os.path.join(os.path.dirname(os.path.abspath(__file__)), "guest_arm32.sh")
    try:
        status, log, console, seconds = machine.Machine(folder, "armhf").run(guest, environment,
                                                                              420)
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
