#!/usr/bin/env python3
"""lumivo-runtime-setup.exe under Wine, as a user installs and removes it.

Silent install: the agent under Program Files and its Run value for the
current user. Wine runs the Run values when a session starts, as Windows
does at log-in, so the installed agent starts by itself and signs in to
devcloud. Silent uninstall, with that agent still running: it is closed
through its exit command, and the program, the uninstaller and the Run value
are gone.

The paths come from the environment (set by ctest): LUMIVO_SETUP_EXE and
those of tests/win32/agent_wine_test.py, whose devcloud runner is used.
Exit status 0 passed, 1 failed, 77 skipped (devcloud not built).
"""

import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "win32"))
import agent_wine_test as wine  # noqa: E402

SETUP = os.environ["LUMIVO_SETUP_EXE"]
INSTALL_DIR = os.path.join(wine.DRIVE_C, "Program Files", "Lumivo Runtime")
ENVIRONMENT = dict(os.environ)
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"


def windows(*arguments, timeout=120):
    # Programs that Wine starts by itself inherit this environment, so an
    # agent started from the Run value reaches devcloud too.
    return subprocess.run([wine.WINE_RUN, wine.WINE_STATE] + list(arguments), cwd=wine.DRIVE_C,
                          env=ENVIRONMENT, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=timeout)


def run_value():
    """The current user's Run value for the agent, or None."""
    result = windows("reg", "query", RUN_KEY, "/v", "Lumivo Runtime")
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split("    ")
        if len(parts) == 3 and parts[0] == "Lumivo Runtime" and parts[1] == "REG_SZ":
            return parts[2]
    return None


def calls(devcloud, method, suffix):
    return wine.requests_to(devcloud.log(), method, suffix)


def main():
    if not os.path.isfile(wine.DEVCLOUD):
        print("devcloud of the host build is missing: " + wine.DEVCLOUD)
        return 77
    # A Run value left by an earlier run names no program any more.
    shutil.rmtree(INSTALL_DIR, ignore_errors=True)
    windows("reg", "delete", RUN_KEY, "/v", "Lumivo Runtime", "/f")
    wine.fresh_device()
    devcloud = wine.Devcloud()
    ENVIRONMENT["LUMIVO_CONNECT_TO"] = devcloud.connect_to
    try:
        wine.check(windows(SETUP, "/S").returncode == 0, "the silent install failed")
        installed = os.path.join(INSTALL_DIR, "lumivo-runtime.exe")
        with open(installed, "rb") as copy, open(wine.AGENT_EXE, "rb") as built:
            wine.check(copy.read() == built.read(), "the installed program is not the built one")
        wine.check(os.path.isfile(os.path.join(INSTALL_DIR, "uninstall.exe")), "no uninstaller")
        value = run_value()
        wine.check(value == '"C:\\Program Files\\Lumivo Runtime\\lumivo-runtime.exe"',
                   "Run value: %r" % value)

        # Wine starts the Run values with the session, as Windows does at log-in:
        # the agent is not started here.
        windows("cmd", "/c", "exit")
        wine.wait_for("the enrolment", lambda: calls(devcloud, "POST", "/api/devices"), 60)
        wine.wait_for("a heart-beat", lambda: calls(devcloud, "GET", "/heart-beat"), 30)
        wine.check(wine.ui_state() is not None, "no window of the started agent")
        wine.check(os.path.isfile(wine.SETTINGS), "no settings file")

        # The uninstaller runs on from a copy of its own; it is done when all is gone.
        wine.check(windows(os.path.join(INSTALL_DIR, "uninstall.exe"), "/S").returncode == 0,
                   "the silent uninstall failed")
        wine.wait_for("the agent to end", lambda: wine.ui_state() is None, 90)
        wine.check(calls(devcloud, "DELETE", "/api/connections/disconnect-all"),
                   "the closed agent did not tell the service")
        wine.wait_for("the install folder to go", lambda: not os.path.exists(INSTALL_DIR), 30)
        wine.check(run_value() is None, "the Run value is still there")
        wine.check(os.path.isfile(wine.SETTINGS), "the device's settings went with the program")
    except wine.Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    finally:
        devcloud.stop()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
