"""Runs inside the emulated machine (machine.py): a real L2TP/IPsec server
in the network namespace "srv" (charon with a pre-shared key, ESP transport
mode for L2TP, xl2tpd as LNS, pppd requiring MS-CHAP v2, clear L2TP
dropped), NetworkManager with its L2TP plugin in the machine's own
namespace, devcloud, and the real agent binary, which devcloud's operator
asks for VPNs. Prints one "check:" line per check and ends non-zero on the
first that fails."""

import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from processes import Agent, Devcloud, Failure, check, wait_for  # noqa: E402

OUT = "/run/out"
SERVER, DEVICE = "10.77.0.1", "10.77.0.2"
TUNNEL_SERVER = "10.99.0.1"
PSK, USER, PASSWORD, DOMAIN = "vm-psk-5150", "dev", "tunnel-pw", "CORP"
MODULES = ["veth", "ppp_generic", "ppp_async", "ppp_synctty", "l2tp_ppp", "l2tp_netlink",
           "xfrm_user", "esp4", "af_key", "xt_policy"]
started = time.monotonic()
started_wall = time.time()
agent_lines = []


def sh(command, check_status=True, timeout=60):
    result = subprocess.run(command, shell=True, capture_output=True, text=True, timeout=timeout)
    if check_status and result.returncode != 0:
        raise Failure("%r failed: %s%s" % (command, result.stdout, result.stderr))
    return result.stdout


def note(text):
    print("[%5.1f s] %s" % (time.monotonic() - started, text), flush=True)


def passed(text):
    note("check: " + text)


def write(path, text, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


SERVER_SCRIPT = r"""
set -e
mkdir -p /srv-out
mount --bind /run/out /srv-out
mount -t tmpfs tmpfs /run
mkdir -p /run/srv /run/out
mount --bind /srv-out /run/out
cp -a /etc-srv/* /run/srv/
mount --bind /run/srv/chap-secrets /etc/ppp/chap-secrets
ip link set lo up
STRONGSWAN_CONF=/run/srv/strongswan.conf /usr/lib/ipsec/charon > /run/srv/charon.out 2>&1 &
for i in $(seq 50); do [ -S /run/charon.vici ] && break; sleep 0.2; done
swanctl --load-all --file /run/srv/swanctl.conf
iptables -A INPUT -p udp --dport 1701 -m policy --dir in --pol none -j DROP
# The tunnel's own addresses answer only through a tunnel.
iptables -A INPUT -i vsrv -d 10.99.0.0/24 -j DROP
xl2tpd -D -c /run/srv/xl2tpd.conf -p /run/srv/xl2tpd.pid -C /run/srv/l2tp-control > /run/srv/xl2tpd.out 2>&1 &
touch /run/out/server-ready
wait
"""


def start_server():
    conf = "/etc-srv"
    write(conf + "/strongswan.conf", """
charon {
  load_modular = yes
  plugins { include /etc/strongswan.d/charon/*.conf }
  filelog { log { path = /run/out/server-charon.log
                  default = 1 } }
}
""")
    write(conf + "/swanctl.conf", """
connections { l2tp { version = 1
  proposals = aes256-sha1-modp2048,aes128-sha1-modp2048,aes256-sha1-modp1024,aes128-sha1-modp1024,default
  local_addrs = %s
  local { auth = psk }
  remote { auth = psk }
  children { l2tp { mode = transport
    local_ts = dynamic[udp/1701]
    remote_ts = dynamic[udp]
    esp_proposals = aes256-sha1,aes128-sha1,default } } } }
secrets { ike-l2tp { secret = "%s" } }
""" % (SERVER, PSK))
    write(conf + "/xl2tpd.conf", """
[global]
listen-addr = %s
port = 1701
[lns default]
ip range = 10.99.0.10-10.99.0.20
local ip = %s
require chap = yes
refuse pap = yes
require authentication = yes
name = lns
pppoptfile = /run/srv/options.lns
length bit = yes
""" % (SERVER, TUNNEL_SERVER))
    write(conf + "/options.lns", """
require-mschap-v2
refuse-pap
refuse-chap
refuse-mschap
refuse-eap
name lns
mtu 1400
mru 1400
nodefaultroute
noccp
logfile /run/out/server-pppd.log
""")
    write(conf + "/chap-secrets", '"%s\\\\%s" * "%s" *\n' % (DOMAIN, USER, PASSWORD), 0o600)
    write(conf + "/server.sh", SERVER_SCRIPT)
    server = subprocess.Popen(["ip", "netns", "exec", "srv", "sh", conf + "/server.sh"],
                              stdout=open(OUT + "/server.out", "w"), stderr=subprocess.STDOUT)
    wait_for("the server", lambda: os.path.exists(OUT + "/server-ready") or server.poll(), 20)
    check(server.poll() is None, "the server did not start: " + open(OUT + "/server.out").read())
    return server


def start_network_manager():
    write("/etc/NetworkManager/NetworkManager.conf", """
[main]
plugins=keyfile
auth-polkit=false
dns=none
rc-manager=unmanaged
[logging]
level=INFO
""")
    write("/etc/NetworkManager/system-connections/base.nmconnection", """
[connection]
id=base
type=ethernet
interface-name=vdev
[ipv4]
method=manual
address1=%s/24,%s
[ipv6]
method=ignore
""" % (DEVICE, SERVER), 0o600)
    os.makedirs("/run/dbus", exist_ok=True)
    sh("dbus-daemon --system --fork")
    # /sys read-only in its own mount namespace: NetworkManager then manages
    # devices without udev.
    subprocess.Popen(["unshare", "-m", "sh", "-c",
                      "mount -o remount,bind,ro /sys && exec NetworkManager --no-daemon --debug"],
                     stdout=open(OUT + "/nm.log", "w"), stderr=subprocess.STDOUT)
    wait_for("NetworkManager", lambda: "running" in sh("nmcli -t -f RUNNING general", False), 30)
    sh("nmcli connection up base", False)
    wait_for("the base connection",
             lambda: "base:activated" in sh("nmcli -t -f NAME,STATE connection show --active",
                                            False), 30)


def xfrm_packets():
    """Packets counted by the server's security associations."""
    text = sh("ip netns exec srv ip -s xfrm state")
    return sum(int(n) for n in re.findall(r"(\d+)\(packets\)", text)), text


def ping(address, count=3):
    return subprocess.run(["ping", "-c", str(count), "-W", "2", "-i", "0.3", address],
                          capture_output=True).returncode == 0


def device_state():
    """What a VPN could leave behind on the device."""
    found = []
    found += [l for l in sh("ip -o link").splitlines() if re.search(r"\d+: ppp", l)]
    found += sh("nmcli -t -f NAME connection show").splitlines()
    for folder in ("/etc/NetworkManager/system-connections", "/run/NetworkManager/system-connections"):
        if os.path.isdir(folder):
            found += [os.path.join(folder, f) for f in os.listdir(folder)]
    secrets = "/etc/ipsec.d/ipsec.nm-l2tp.secrets"
    if os.path.exists(secrets) and open(secrets).read().strip():
        mode = os.stat(secrets).st_mode & 0o777
        found.append("%s holds a key (mode %o)" % (secrets, mode))
    found += [l for l in sh("ip xfrm state").splitlines() if l.startswith("src")]
    return found


baseline = []


def leftovers():
    return [item for item in device_state() if item not in baseline]


def check_secrets_kept():
    """While the VPN is up: the password and the key on no command line, and
    in no file that another user could read."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                line = f.read()
        except OSError:
            continue
        check(PASSWORD.encode() not in line and PSK.encode() not in line,
              "a secret on the command line of %s" % line.replace(b"\0", b" ")[:200])
    # Where the stack and the agent write, and only what was written since
    # this machine started: the host's /tmp is shared and may hold anything,
    # this test's own sources among it.
    tmp = " ".join(path for path in (os.path.join("/tmp", name) for name in os.listdir("/tmp"))
                   if os.lstat(path).st_mtime >= started_wall)
    places = ("/etc/ipsec.secrets /etc/ipsec.d /etc/ipsec.conf /etc/NetworkManager /etc/ppp "
              "/etc/xl2tpd /run /var/lib/NetworkManager " + tmp)
    holders = sh("find %s -xdev -type f -newermt @%d -print0 2>/dev/null | "
                 "xargs -0r grep -lsF -e %s -e %s" % (places, int(started_wall), PASSWORD, PSK),
                 check_status=False, timeout=120).splitlines()
    for path in holders:
        if path.startswith((OUT, "/etc-srv", "/tmp/lumivo-devcloud-")):
            continue  # the test's own servers
        mode = os.stat(path).st_mode
        check(mode & 0o077 == 0, "%s holds a secret with mode %o" % (path, mode & 0o777))
    passed("secrets on no command line; held only in files of mode 0600 or less: %r" %
           sorted(p for p in holders if not p.startswith((OUT, "/etc-srv", "/tmp/lumivo-devcloud-"))))


def request_vpn(cloud, device, server=SERVER, password=PASSWORD):
    return cloud.call("POST", "/devices/%d/requests" % device,
                      {"type": "vpn", "url": server, "username": USER, "password": password,
                       "domain": DOMAIN, "preSharedKey": PSK})["id"]


def main():
    for module in MODULES:
        sh("modprobe " + module)
    # The first security association waits for the crypto modules' self-tests.
    for spi in ("0x100", "0x101"):
        sh("ip xfrm state add src 10.0.0.1 dst 10.0.0.2 proto esp spi %s mode transport "
           "enc 'cbc(aes)' 0x%s auth-trunc 'hmac(sha1)' 0x%s 96" % (spi, "11" * 16, "22" * 20))
    sh("ip xfrm state flush")
    sh("ip netns add srv")
    sh("ip link add vdev type veth peer name vsrv")
    sh("ip link set vsrv netns srv")
    sh("ip addr add %s/24 dev vdev && ip link set vdev up" % DEVICE)
    sh("ip netns exec srv sh -c 'ip addr add %s/24 dev vsrv && ip link set vsrv up'" % SERVER)
    server = start_server()
    note("server up")
    start_network_manager()
    note("NetworkManager up")

    global agent_lines
    # As under the service's sandbox (ProcSubset=pid), nothing of /proc but
    # the processes for the agent (NetworkManager has its own mounts).
    sh("mount -t tmpfs -o size=4k,mode=0555 lumivo-no-sys /proc/sys")
    cloud = Devcloud()
    first = Agent(cloud, ras_script=None)
    device = wait_for("enrolment", first.device_id, 30)
    wait_for("a heart-beat", lambda: [c for c in cloud.log() if c["path"].endswith("/heart-beat")],
             20)
    code = first.stop(30)
    check(code == 0, "the enrolling agent's exit %r: %r" % (code, first.lines))
    agent = Agent(cloud, "-c", "-n", "-p=cpw", work=first.work, ras_script=None,
                  stderr=open(OUT + "/agent.stderr", "w"))
    cloud.call("PUT", "/devices/%d/connections-password" % device, {"password": "cpw"})
    agent_lines = agent.lines
    note("agent enrolled as device %d" % device)

    baseline.extend(device_state())
    # A VPN request: the real tunnel, through IPsec.
    vpn = request_vpn(cloud, device)
    dial_started = time.monotonic()
    connected = wait_for("the dial's outcome", lambda: next(
        (i for i, l in enumerate(agent.lines) if l == "VPN connected successfully" or
         re.fullmatch(r"Error \d+ starting VPN", l)), None), 90)
    check(agent.lines[connected] == "VPN connected successfully", agent.lines[connected])
    note("tunnel up in %.1f s" % (time.monotonic() - dial_started))
    wait_for("vpn-created", lambda: cloud.request(vpn)["status"] == "vpn-created", 15)
    answer = cloud.request(vpn)["answer"]
    ppp = re.search(r"inet (10\.99\.0\.\d+)", sh("ip -4 -o addr"))
    check(ppp and answer["serverIp"] == ppp.group(1),
          "serverIp %r, the device's tunnel address %r" % (answer["serverIp"], ppp and ppp.group(0)))
    passed("the answer carries the tunnel's address %s" % answer["serverIp"])
    interfaces = sorted(answer["networkInterfaces"])
    check("vdev" in interfaces and not any(n.startswith("ppp") for n in interfaces),
          "the interfaces %r" % interfaces)
    passed("the report lists %r; the tunnel is the VPN's own adapter \"L2TP Line 0\"" % interfaces)
    check_secrets_kept()
    before, _ = xfrm_packets()
    check(ping(TUNNEL_SERVER, 5), "no ping through the tunnel")
    after, states = xfrm_packets()
    check(after >= before + 10, "the SAs' packet counters went %d -> %d:\n%s" %
          (before, after, states))
    passed("ping through the tunnel; the server's SAs counted %d -> %d packets" % (before, after))
    print("\n".join(l for l in states.splitlines() if l.startswith("src") or "packets)" in l))
    # The VPN watch keeps it while its adapter is there.
    polls = len(cloud.log())
    wait_for("two more polls", lambda: len(cloud.log()) > polls + 3, 20)
    check("VPN disconnected successfully" not in agent.lines[connected:], "the VPN went early")

    cloud.call("DELETE", "/requests/%d" % vpn)
    agent.wait_for_line("VPN disconnected successfully", 40, connected + 1)
    check(not ping(TUNNEL_SERVER, 1), "the ping still passes after the hang-up")
    wait_for(lambda: "nothing left, not %r" % leftovers(), lambda: not leftovers(), 15)
    passed("ended: the ping fails, nothing left (profiles, secrets, interfaces, SAs)")

    # A wrong password: the server's PPP refuses it.
    wrong = request_vpn(cloud, device, password="not-" + PASSWORD)
    at = len(agent.lines)
    dial_started = time.monotonic()
    line = wait_for("the dial's outcome", lambda: next(
        (l for l in agent.lines[at:] if re.fullmatch(r"Error \d+ starting VPN", l)), None), 90)
    check(line == "Error 691 starting VPN", line)
    wait_for("the error answer", lambda: cloud.request(wrong)["status"] == "error", 15)
    passed("wrong password: \"Error 691 starting VPN\" after %.1f s, answered error" %
           (time.monotonic() - dial_started))
    cloud.call("DELETE", "/requests/%d" % wrong)

    # A server that does not answer.
    gone = request_vpn(cloud, device, server="10.77.0.9")
    at = len(agent.lines)
    dial_started = time.monotonic()
    line = wait_for("an error line", lambda: next(
        (l for l in agent.lines[at:] if re.fullmatch(r"Error \d+ starting VPN", l)), None), 90)
    seconds = time.monotonic() - dial_started
    check(line != "Error 691 starting VPN" and seconds < 75, "%r after %.0f s" % (line, seconds))
    wait_for("the error answer", lambda: cloud.request(gone)["status"] == "error", 15)
    passed("unreachable server: %r after %.1f s" % (line, seconds))
    cloud.call("DELETE", "/requests/%d" % gone)
    # The L2TP plugin keeps the key of a start that failed in IPsec in its own
    # secrets file until its next connection; that file must stay root's alone.
    kept = "/etc/ipsec.d/ipsec.nm-l2tp.secrets holds a key (mode 600)"
    wait_for(lambda: "nothing left, not %r" % leftovers(),
             lambda: not [l for l in leftovers() if l != kept], 15)
    if kept in leftovers():
        note("left by the plugin after the failed IPsec starts: " + kept)
    check(agent.stop() == 0, "the agent's exit")
    check("VPN connected successfully" not in agent.lines[connected + 1:], "a second VPN came up")

    # Negative control: the same server, L2TP without IPsec, must not connect.
    sh("nmcli connection add type vpn con-name clear ifname '*' vpn-type l2tp "
       "vpn.data 'gateway=%s,user=%s,domain=%s,password-flags=0,ipsec-enabled=no,"
       "refuse-pap=yes,refuse-chap=no,refuse-mschap=yes,refuse-eap=yes' "
       "vpn.secrets 'password=%s' save no" % (SERVER, USER, DOMAIN, PASSWORD))
    up = subprocess.run(["nmcli", "--wait", "40", "connection", "up", "clear"],
                        capture_output=True, text=True)
    check(up.returncode != 0 and not ping(TUNNEL_SERVER, 1),
          "L2TP without IPsec came up: %s" % up.stdout)
    sh("nmcli connection delete clear", False)
    passed("without IPsec the same server refuses the tunnel")
    cloud.stop()
    server.terminate()


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        note("FAILED: %s" % e)
        print("the agent's lines:\n  " + "\n  ".join(agent_lines))
        sys.exit(1)
    note("all checks passed")
