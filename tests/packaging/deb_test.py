#!/usr/bin/env python3
"""The Debian packages of a build, checked as an installer and an administrator would.

    deb_test.py BUILD_DIR VERSION

Makes both packages with cpack, then: their files and control data
(dpkg-deb), lintian without errors, both units through systemd-analyze
verify, and both programs from the packages started the way their units
start them (the units' own command lines and environment lines, the unit
folders made as systemd makes them), the agent signing in to devcloud.
"""

import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

BUILD, VERSION = sys.argv[1], sys.argv[2]
# Owners, modes and the maintainer scripts' syntax are lintian's to check.
FILES = {
    "lumivo-runtime": ["etc/default/lumivo-runtime",
                       "usr/bin/lumivo-runtime", "usr/lib/systemd/system/lumivo-runtime.service",
                       "usr/lib/sysusers.d/lumivo-runtime.conf",
                       "usr/share/doc/lumivo-runtime/README",
                       "usr/share/doc/lumivo-runtime/changelog.gz",
                       "usr/share/doc/lumivo-runtime/copyright",
                       "usr/share/lintian/overrides/lumivo-runtime",
                       "usr/share/polkit-1/rules.d/60-lumivo-runtime.rules"],
    "lumivo-devcloud": ["usr/bin/devcloud", "usr/lib/systemd/system/lumivo-devcloud.service",
                        "usr/lib/sysusers.d/lumivo-devcloud.conf",
                        "usr/share/doc/lumivo-devcloud/README",
                        "usr/share/doc/lumivo-devcloud/changelog.gz",
                        "usr/share/doc/lumivo-devcloud/copyright"],
}
# The desktop program, when the build has it: menu and autostart entries, no unit.
DESKTOP = ["usr/bin/lumivo-runtime-gtk", "usr/share/applications/lumivo-runtime-gtk.desktop",
           "etc/xdg/autostart/lumivo-runtime-gtk.desktop",
           "usr/share/doc/lumivo-runtime-desktop/changelog.gz",
           "usr/share/doc/lumivo-runtime-desktop/copyright",
           "usr/share/lintian/overrides/lumivo-runtime-desktop"]
if os.path.isfile(os.path.join(BUILD, "platform/gtk/lumivo-runtime-gtk")):
    FILES["lumivo-runtime-desktop"] = DESKTOP
DEPENDS = {"lumivo-runtime": ["libc6", "libcjson1", "libssl3"],
           "lumivo-devcloud": ["libc6", "libsqlite3-0", "libssl3"],
           "lumivo-runtime-desktop": ["libc6", "libgtk-3-0", "libcjson1", "libssl3"]}
# The agent carries its own libcurl and loads libsystemd only under systemd.
NOT_DEPENDS = {"lumivo-runtime": ["libcurl4", "libsystemd0", "libgtk-3-0"], "lumivo-devcloud": [],
               "lumivo-runtime-desktop": ["libcurl4"]}
# The only shared libraries (and the loader) the packaged agent may load, and
# the C++ stream start-up it must not carry (it brings the C++ locales, some
# 370 kB resident).
AGENT_LIBRARIES = ("libc.so", "libm.so", "libcrypto.so", "libssl.so", "libcjson.so", "ld-linux")
STREAM_START_UP = "_ZNSt8ios_base4InitC1Ev"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAILED: " + message)
    return condition


def run(*command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **options)


def unit_entries(path):
    """The unit's entries as (key, value) pairs, in order."""
    entries = []
    with open(path) as unit:
        for line in unit:
            line = line.strip()
            if line and line[0] not in "#;[" and "=" in line:
                key, value = line.split("=", 1)
                entries.append((key, value))
    return entries


def unit_value(entries, key):
    return [v for k, v in entries if k == key]


def check_package(deb, name, architecture):
    fields = {k: run("dpkg-deb", "-f", deb, k).stdout.strip()
              for k in ("Package", "Version", "Architecture", "Depends")}
    check(fields["Package"] == name, "%s: Package %r" % (name, fields["Package"]))
    check(fields["Version"] == VERSION, "%s: Version %r" % (name, fields["Version"]))
    check(fields["Architecture"] == architecture, "%s: Architecture %r" %
          (name, fields["Architecture"]))
    depends = [d.split()[0] for d in fields["Depends"].split(", ")]
    for library in DEPENDS[name]:
        check(library in depends, "%s: Depends lacks %s: %r" % (name, library, fields["Depends"]))
    for library in NOT_DEPENDS[name]:
        check(library not in depends, "%s: Depends has %s: %r" % (name, library, fields["Depends"]))

    if name == "lumivo-runtime":
        # The real VPN: NetworkManager and its L2TP plugin, recommended, not required.
        recommends = run("dpkg-deb", "-f", deb, "Recommends").stdout.split(", ")
        check({"network-manager", "network-manager-l2tp"} <= {r.split()[0] for r in recommends
                                                             if r.strip()},
              "%s: Recommends %r" % (name, recommends))

    listing = [line.split(None, 5)[5][2:] for line in run("dpkg-deb", "-c", deb).stdout.splitlines()
               if line.startswith("-")]
    check(sorted(listing) == sorted(FILES[name]), "%s: files %r" % (name, sorted(listing)))
    listed = run("dpkg-deb", "-I", deb, "conffiles")
    conffiles = listed.stdout.split() if listed.returncode == 0 else []
    check(conffiles == [("/" + f) for f in FILES[name] if f.startswith("etc/")],
          "%s: conffiles %r" % (name, conffiles))
    control = run("dpkg-deb", "-I", deb).stdout
    if name == "lumivo-runtime-desktop":
        conflicts = run("dpkg-deb", "-f", deb, "Conflicts").stdout.strip()
        check(conflicts == "lumivo-runtime", "%s: Conflicts %r" % (name, conflicts))
        return
    for script in ("postinst", "prerm", "postrm"):
        check(re.search(r"^\s+\d+ bytes,\s+\d+ lines\s+\*\s+%s\s" % script, control, re.M),
              "%s: no executable %s" % (name, script))


def start_devcloud(root, folders):
    """devcloud from the package with its unit's command line, on free ports."""
    entries = unit_entries(os.path.join(root, "usr/lib/systemd/system/lumivo-devcloud.service"))
    command = shlex.split(unit_value(entries, "ExecStart")[0].replace("%S", folders["%S"]))
    check(command[0] == "/usr/bin/devcloud", "devcloud's ExecStart: %r" % command)
    command[0] = os.path.join(root, command[0].lstrip("/"))
    # Free ports: the machine may run a devcloud of its own on the default ones.
    for option in ("--port", "--operator-port"):
        check(option in command, "devcloud's ExecStart has no %s: %r" % (option, command))
        command[command.index(option) + 1] = "0"
    for state in unit_value(entries, "StateDirectory"):
        os.makedirs(os.path.join(folders["%S"], state), mode=0o700)
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True)
    line = process.stdout.readline()
    found = re.search(r"https://127\.0\.0\.1:(\d+)/api/ operator (http://127\.0\.0\.1:\d+)/", line)
    if not check(found, "devcloud did not say where it listens: %r" % line):
        process.kill()
        return None, 0, ""
    return process, int(found.group(1)), found.group(2)


def run_agent_as_unit(root, folders, port, operator):
    """The agent from the package with the unit's ExecStart and Environment lines."""
    entries = unit_entries(os.path.join(root, "usr/lib/systemd/system/lumivo-runtime.service"))
    # The words of its EnvironmentFile (the package's, as installed), with the
    # example uncommented: "$NAME" becomes that many words, as systemd splits it.
    files = unit_value(entries, "EnvironmentFile")
    check(files == ["-/etc/default/lumivo-runtime"], "the agent's EnvironmentFile: %r" % files)
    options = {}
    with open(os.path.join(root, "etc/default/lumivo-runtime")) as defaults:
        for line in defaults:
            line = line.strip()
            if line.startswith("#LUMIVO_RUNTIME_OPTIONS="):
                key, value = line[1:].split("=", 1)
                options[key] = " ".join(shlex.split(value)).split()
    check(options.get("LUMIVO_RUNTIME_OPTIONS") == ["-c", "-n", "-s"],
          "the example words: %r" % options)
    command = []
    for word in shlex.split(unit_value(entries, "ExecStart")[0]):
        command += options.get(word[1:], []) if word.startswith("$") else [word]
    check(command == ["/usr/bin/lumivo-runtime", "-d", "-c", "-n", "-s"],
          "the agent's ExecStart: %r" % command)
    command[0] = os.path.join(root, command[0].lstrip("/"))
    environment = dict(os.environ, LUMIVO_CONNECT_TO="localhost:8443:127.0.0.1:%d" % port)
    for line in unit_value(entries, "Environment"):
        key, value = line.split("=", 1)
        for specifier, folder in folders.items():
            value = value.replace(specifier, folder)
        environment[key] = value
    # Made by systemd before the start, with the unit's modes.
    for key, base in (("StateDirectory", "%S"), ("RuntimeDirectory", "%t")):
        for name in unit_value(entries, key):
            os.makedirs(os.path.join(folders[base], name), mode=0o700)
    agent = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    settings = os.path.join(folders["%S"], "lumivo-runtime", "BOOT", "env.json")
    beats = []
    deadline = time.time() + 30
    while time.time() < deadline and not beats:
        time.sleep(0.5)
        # The operator API wants the token devcloud wrote into its state folder.
        with open(os.path.join(folders["%S"], "lumivo-devcloud", "operator-token")) as f:
            token = f.read().strip()
        ask = urllib.request.Request(operator + "/log", headers={"Authorization": "Bearer " + token})
        with urllib.request.urlopen(ask, timeout=10) as answer:
            log = json.loads(answer.read().decode())
        beats = [c for c in log if c["method"] == "GET" and c["path"].endswith("/heart-beat")]
    check(beats, "no heart-beat from the agent started as its unit starts it")
    check(os.path.isfile(settings), "no settings file at " + settings)
    runtime = os.path.join(folders["%t"], "lumivo-runtime")
    check(any(n.startswith("mutex-") for n in os.listdir(runtime)),
          "no lock file in " + runtime + ": %r" % os.listdir(runtime))
    agent.send_signal(signal.SIGTERM)
    try:
        output = agent.communicate(timeout=20)[0]
    except subprocess.TimeoutExpired:
        agent.kill()
        output = agent.communicate()[0]
    lines = output.splitlines()
    check(agent.returncode == 0, "the agent ended with %r" % agent.returncode)
    # -d: the console lines reach standard output, so the journal.
    check("Ok 200" in lines and lines[-1] == "VPN disconnected successfully",
          "the agent's lines: %r" % lines)


def check_agent_binary(agent):
    """The packaged agent's libraries; its symbols from the build (the package's is stripped)."""
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]",
                        run("readelf", "-d", agent).stdout)
    check(needed and all(n.startswith(AGENT_LIBRARIES) for n in needed),
          "the agent loads %r" % needed)
    # Nothing of the building machine: neither the source nor the build folder.
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    texts = run("strings", "-n", "6", agent).stdout
    for folder in (source, os.path.abspath(BUILD)):
        check(folder not in texts, "the packaged agent names %s" % folder)
    symbols = run("nm", os.path.join(BUILD, "platform/posix/lumivo-runtime")).stdout
    check(symbols and STREAM_START_UP not in symbols, "the agent carries the C++ stream start-up")


def check_vpn_grants(root):
    """The agent asks NetworkManager over the system bus: its unit keeps
    AF_UNIX and no capability, and the polkit rule grants its user the two
    actions and nothing else."""
    security = run("systemd-analyze", "security", "--offline=true", "--root=" + root,
                   "lumivo-runtime.service")
    print(security.stdout.splitlines()[-1] if security.stdout else "")
    check(security.returncode == 0 and "Overall exposure level" in security.stdout,
          "systemd-analyze security:\n" + security.stdout[-2000:])
    entries = unit_entries(os.path.join(root, "usr/lib/systemd/system/lumivo-runtime.service"))
    families = " ".join(unit_value(entries, "RestrictAddressFamilies")).split()
    check("AF_UNIX" in families, "the unit's address families: %r" % families)
    check(unit_value(entries, "CapabilityBoundingSet") == [""], "the unit grants capabilities")
    with open(os.path.join(root, "usr/share/polkit-1/rules.d/60-lumivo-runtime.rules")) as f:
        rule = f.read()
    actions = set(re.findall(r'"(org\.freedesktop\.[\w.-]+)"', rule))
    check(actions == {"org.freedesktop.NetworkManager.network-control",
                      "org.freedesktop.NetworkManager.settings.modify.system"},
          "the polkit rule's actions: %r" % actions)
    check('subject.user == "lumivo-runtime"' in rule, "the polkit rule's user")


def main():
    work = tempfile.mkdtemp(prefix="lumivo-deb-test-")
    try:
        made = run("cpack", "-G", "DEB", "-B", work, "--config",
                   os.path.join(BUILD, "CPackConfig.cmake"), cwd=BUILD)
        check(made.returncode == 0, "cpack failed:\n" + made.stdout)
        architecture = run("dpkg", "--print-architecture").stdout.strip()
        debs = {name: os.path.join(work, "%s_%s_%s.deb" % (name, VERSION, architecture))
                for name in FILES}
        for name, deb in debs.items():
            if check(os.path.isfile(deb), "no package " + deb):
                check_package(deb, name, architecture)
        if failures:
            return 1

        linted = run("lintian", "--fail-on", "error", *debs.values())
        print(linted.stdout, end="")
        check(linted.returncode == 0 and not re.search(r"^E: ", linted.stdout, re.M),
              "lintian reports errors")

        # Both units verified inside the packages' tree, beside the host's own units.
        root = os.path.join(work, "root")
        for deb in debs.values():
            run("dpkg-deb", "-x", deb, root)
        check_agent_binary(os.path.join(root, "usr/bin/lumivo-runtime"))
        units = os.path.join(root, "usr/lib/systemd/system")
        for unit in os.listdir("/usr/lib/systemd/system"):
            if not os.path.exists(os.path.join(units, unit)):
                source = os.path.join("/usr/lib/systemd/system", unit)
                if os.path.isdir(source) and not os.path.islink(source):
                    shutil.copytree(source, os.path.join(units, unit), symlinks=True)
                else:
                    shutil.copy(source, os.path.join(units, unit), follow_symlinks=False)
        verified = run("systemd-analyze", "verify", "--root=" + root, "lumivo-runtime.service",
                       "lumivo-devcloud.service")
        check(verified.returncode == 0 and verified.stdout == "",
              "systemd-analyze verify:\n" + verified.stdout)

        check_vpn_grants(root)

        folders = {"%S": os.path.join(work, "var/lib"), "%t": os.path.join(work, "run")}
        devcloud, port, operator = start_devcloud(root, folders)
        if devcloud is not None:
            try:
                run_agent_as_unit(root, folders, port, operator)
            finally:
                devcloud.send_signal(signal.SIGTERM)
                devcloud.wait(timeout=10)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
