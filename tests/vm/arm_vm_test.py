"""The board's CPU as a whole system: in an emulated ARM machine
(machine.py, armhf; guest_arm32.sh), the arm32 build's tests that start ARM
programs as children, then the arm32 agent against devcloud on this host's
loopback (enrolment, heart-beats, a VPN request answered "error" for want of
a VPN stack). Skips (77) only where qemu cannot run. Environment:
LUMIVO_ARM32_BUILD, LUMIVO_DEVCLOUD, LUMIVO_VM_FOLDER."""

import glob
import os
import sys
import threading

import machine

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "hostile"))
from hostile_peer import make_certificate  # noqa: E402
from processes import Devcloud, Failure, check, wait_for  # noqa: E402


def arm_python(folder):
    """Debian's armhf Python program, taken from its package into folder
    (never installed: it would replace the host's); the host's armhf standard
    library (libpython3.X-stdlib:armhf, from scripts/setup.sh) serves it."""
    found = glob.glob("/usr/lib/python3.*/lib-dynload/_ssl.*-arm-linux-gnueabihf.so")
    check(found, "no armhf Python standard library (scripts/setup.sh installs it)")
    name = found[0].split("/")[3]  # python3.X
    program = os.path.join(folder, "python-armhf", "usr", "bin", name)
    if not os.path.exists(program):
        machine.run("apt-get", "download", name + "-minimal:armhf", cwd=folder)
        deb = glob.glob(os.path.join(folder, name + "-minimal_*_armhf.deb"))[0]
        machine.run("dpkg-deb", "-x", deb, os.path.join(folder, "python-armhf"))
        os.remove(deb)
    return program


def drive(cloud, out, results):
    """The operator's side while the ARM agent runs."""
    try:
        device = wait_for("the ARM agent's enrolment",
                          lambda: next((d["id"] for d in cloud.call("GET", "/devices")), None), 150)
        cloud.call("PUT", "/devices/%d/connections-password" % device, {"password": "cpw"})
        wait_for("a poll", lambda: [c for c in cloud.log() if c["path"].endswith(
            "/check-requests") and c["status"] == 200], 60)
        vpn = cloud.call("POST", "/devices/%d/requests" % device,
                         {"type": "vpn", "url": "10.0.2.200", "username": "dev", "password": "pw",
                          "domain": "", "preSharedKey": "psk"})["id"]
        wait_for("the error answer", lambda: cloud.request(vpn)["status"] == "error", 40)
        beats = [c for c in cloud.log() if c["path"].endswith("/heart-beat")]
        results["beats"] = len(beats)
    except Failure as e:
        results["failure"] = str(e)
    finally:
        open(os.path.join(out, "cloud-done"), "w").close()


def main():
    folder = os.environ.get("LUMIVO_VM_FOLDER", "vm")
    guest = os.path.join(HERE, "guest_arm32.sh")
    arm = machine.Machine(folder, "armhf")
    tls = os.path.join(arm.folder, "tls")
    if not os.path.exists(os.path.join(tls, "cert.pem")):
        os.makedirs(tls, exist_ok=True)
        make_certificate(tls)
    environment = {"LUMIVO_ARM32_BUILD": os.environ["LUMIVO_ARM32_BUILD"],
                   "LUMIVO_VM_FOLDER": arm.folder, "LUMIVO_ARM_PYTHON": arm_python(arm.folder)}
    cloud = None
    network = ("-nic", "none")
    results = {}
    # devcloud comes from the host's own build (the dev preset's).
    if os.path.isfile(os.environ.get("LUMIVO_DEVCLOUD", "")):
        cloud = Devcloud()
        environment["LUMIVO_ARM32_CLOUD"] = "1"
        # Only the forward to devcloud: no other traffic leaves the machine.
        network = ("-netdev", "user,id=net,restrict=on,"
                   "guestfwd=tcp:10.0.2.100:8443-cmd:%s %s %d" % (
                       sys.executable, os.path.join(HERE, "forward.py"), cloud.port),
                   "-device", "virtio-net-device,netdev=net")
        out = os.path.join(arm.folder, "out")
        threading.Thread(target=lambda: (wait_for("the machine's folder", lambda: os.path.exists(
            os.path.join(out, "stage2.sh")), 120), drive(cloud, out, results)),
            daemon=True).start()
    try:
        status, log, console, seconds = arm.run(guest, environment, 900, network)
    except machine.Skip as e:
        print("skipped: " + str(e))
        return machine.SKIP
    finally:
        if cloud is not None:
            cloud.stop()
    print(log)
    print("machine ran %.0f s, guest status %r" % (seconds, status))
    if cloud is None:
        print("the ARM agent not run: no devcloud at %r (build the dev preset first)" %
              os.environ.get("LUMIVO_DEVCLOUD", ""))
    try:
        check(status == 0, "the guest's status %r" % status)
        if cloud is not None:
            check("failure" not in results, results.get("failure", ""))
            check(results.get("beats", 0) >= 2, "heart-beats: %r" % results.get("beats"))
            with open(os.path.join(arm.folder, "out", "agent.log"), errors="replace") as f:
                lines = f.read().splitlines()
            check("Error 633 starting VPN" in lines and "VPN connected successfully" not in lines,
                  "the ARM agent's lines: %r" % lines)
            print("the ARM agent: %d heart-beats, the VPN request answered error (633)" %
                  results["beats"])
    except Failure as e:
        print("FAILED: %s\nconsole (end):\n%s" % (e, console[-3000:]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
