#!/usr/bin/env python3
"""The desktop host as a person at a Linux desktop meets it: lumivo-runtime-gtk
on its own Xvfb and session bus, against devcloud, with real key presses and
clicks (xdotool). A small StatusNotifierWatcher stands in for the panel: it
takes the tray item's registration and clicks the item through the
protocol's own Activate call. The host's LUMIVO_UI_STATE file tells where
the controls are and what they show. Screenshots of the three pages go to
LUMIVO_ARTIFACTS.

Exit status 77 (skipped) when Xvfb, xdotool, dbus-daemon or the Python
bindings of GLib are missing.
"""

import json
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from processes import AGENT, Agent, Devcloud, Failure, check, wait_for  # noqa: E402

try:
    from gi.repository import Gio, GLib
except ImportError:
    Gio = None

ARTIFACTS = os.environ.get("LUMIVO_ARTIFACTS", "")

WATCHER_XML = """<node><interface name='org.kde.StatusNotifierWatcher'>
<method name='RegisterStatusNotifierItem'><arg name='service' type='s' direction='in'/></method>
<method name='RegisterStatusNotifierHost'><arg name='service' type='s' direction='in'/></method>
<property name='RegisteredStatusNotifierItems' type='as' access='read'/>
<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>
<property name='ProtocolVersion' type='i' access='read'/>
<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>
</interface></node>"""


class Watcher:
    """The panel's side of the tray protocol, on its own bus connection."""

    def __init__(self, address):
        self.items = []  # (bus name, object path)
        self.registrations = 0
        self.context = GLib.MainContext.new()
        self.loop = GLib.MainLoop.new(self.context, False)
        ready = threading.Event()
        threading.Thread(target=self._run, args=(address, ready), daemon=True).start()
        check(ready.wait(10), "the watcher did not start")

    def _run(self, address, ready):
        self.context.push_thread_default()
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        node = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML)
        self.bus.register_object("/StatusNotifierWatcher", node.interfaces[0], self._call,
                                 self._property, None)
        self.owner = Gio.bus_own_name_on_connection(
            self.bus, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE,
            lambda *a: ready.set(), None)
        self.loop.run()

    def restart(self):
        """The panel goes and comes back, its registrations lost."""
        def again():
            Gio.bus_unown_name(self.owner)
            del self.items[:]
            self.owner = Gio.bus_own_name_on_connection(
                self.bus, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE, None, None)
            return False
        self.context.invoke_full(GLib.PRIORITY_DEFAULT, again)

    def _call(self, bus, sender, path, interface, method, arguments, invocation):
        if method == "RegisterStatusNotifierItem":
            self.registrations += 1
            service = arguments.unpack()[0]
            if service.startswith("/"):
                self.items.append((sender, service))
            else:
                self.items.append((service, "/StatusNotifierItem"))
        invocation.return_value(None)

    def _property(self, bus, sender, path, interface, name):
        return {"RegisteredStatusNotifierItems": GLib.Variant("as", [i[0] for i in self.items]),
                "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                "ProtocolVersion": GLib.Variant("i", 0)}[name]

    def _item_call(self, interface, method, arguments, reply_type=None):
        done = threading.Event()
        result = {}

        def call():
            name, path = self.items[-1]
            try:
                result["value"] = self.bus.call_sync(name, path, interface, method, arguments,
                                                     reply_type, Gio.DBusCallFlags.NONE, 5000, None)
            except GLib.Error as error:
                result["error"] = error
            done.set()
            return False
        self.context.invoke_full(GLib.PRIORITY_DEFAULT, call)
        check(done.wait(10), "no answer from the tray item")
        if "error" in result:
            raise Failure("tray item %s: %s" % (method, result["error"]))
        return result["value"]

    def activate(self):
        """A click on the item, as a panel sends it."""
        self._item_call("org.kde.StatusNotifierItem", "Activate", GLib.Variant("(ii)", (10, 10)))

    def item_property(self, name):
        reply = self._item_call("org.freedesktop.DBus.Properties", "Get",
                                GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", name)),
                                GLib.VariantType.new("(v)"))
        return reply.unpack()[0]


class Desktop:
    """Xvfb and a session bus, with xdotool and screenshots on that display."""

    def __init__(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0",
                                      "1024x600x24", "-nolisten", "tcp"], pass_fds=(write,),
                                     stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as displayfd:
            self.display = ":" + displayfd.readline().strip()
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                    stdout=subprocess.PIPE, text=True)
        self.address = self.bus.stdout.readline().strip()
        os.environ.update(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.address,
                          GDK_BACKEND="x11", NO_AT_BRIDGE="1", GTK_THEME="Adwaita")

    def xdotool(self, *arguments):
        result = subprocess.run(["xdotool"] + list(arguments), timeout=30, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return result.returncode, result.stdout.strip()

    def windows(self):
        code, found = self.xdotool("search", "--onlyvisible", "--name", "^Lumivo Runtime$")
        return found.split() if code == 0 and found else []

    def key(self, *keys, window=None):
        window = window or self.windows()[0]
        self.xdotool("windowfocus", "--sync", window)
        check(self.xdotool("key", "--delay", "100", *keys)[0] == 0, "xdotool key %s" % (keys,))

    def type(self, text):
        self.xdotool("windowfocus", "--sync", self.windows()[0])
        check(self.xdotool("type", "--delay", "100", text)[0] == 0, "xdotool type")

    def click(self, centre):
        x, y = centre.split()
        check(self.xdotool("mousemove", "--sync", x, y, "click", "1")[0] == 0, "xdotool click")

    def screenshot(self, name):
        code, text = self.xdotool("getwindowgeometry", "--shell", self.windows()[0])
        geometry = dict(line.split("=", 1) for line in text.splitlines())
        path = os.path.join(ARTIFACTS, name)
        os.makedirs(ARTIFACTS, exist_ok=True)
        subprocess.run(["import", "-window", "root", "-crop", "%sx%s+%s+%s" % (
            geometry["WIDTH"], geometry["HEIGHT"], geometry["X"], geometry["Y"]), "+repage", path],
            check=True, timeout=60)
        check(os.path.getsize(path) > 1000, "screenshot too small")

    def close(self):
        for process in (self.bus, self.xvfb):
            process.terminate()
            process.wait(10)


def main():
    tools = ("Xvfb", "xdotool", "dbus-daemon", "import")
    if Gio is None or not all(shutil.which(t) for t in tools):
        print("skipped: needs %s and python3-gi" % ", ".join(tools))
        return 77
    desktop = Desktop()
    devcloud = Devcloud()
    agent = None
    try:
        watcher = Watcher(desktop.address)
        state_file = os.path.join(devcloud.folder, "ui-state")
        os.environ["LUMIVO_UI_STATE"] = state_file

        def state():
            try:
                with open(state_file) as f:
                    return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
            except OSError:
                return {}

        def wait_state(what, predicate, timeout=20):
            return wait_for(lambda: "%s (state: %r)" % (what, state()),
                            lambda: (lambda s: s if s and predicate(s) else None)(state()), timeout)

        # The agent enrols; on its next start a VPN request waits for it.
        agent = Agent(devcloud)
        device = wait_for("the enrolment", agent.device_id, 30)
        check(agent.stop() == 0, "the enrolling agent's exit status")
        del watcher.items[:]
        agent = Agent(devcloud, "-c", "-n", "-p=pw1", work=agent.work)
        wait_for("the agent's start", lambda: state().get("visible") == "0", 20)
        devcloud.call("PUT", "/devices/%d/connections-password" % device, {"password": "pw1"})
        devcloud.call("POST", "/devices/%d/requests" % device, {
            "type": "vpn", "url": "vpn.example.net", "username": "user", "password": "secret",
            "domain": "", "preSharedKey": "key"})

        # The tray item is registered with the panel; a click on it shows the dialog.
        wait_for("the tray item's registration", lambda: watcher.items, 20)
        check(watcher.item_property("Title") == "Lumivo Runtime", "the item's title")
        check(state().get("visible") == "0", "shown before the click")
        normal = watcher.item_property("IconPixmap")
        check(len(normal) == 1 and normal[0][:2] == (32, 32), "the item's icon")
        watcher.activate()
        s = wait_state("the dialog shown by Activate", lambda s: s["visible"] == "1" and
                       s["general.visible"] == "1" and s["tabs.selected"] == "0")
        wait_state("the focus on the ID field", lambda s: s["focus"] == "general.1003")

        # A panel that starts again gets the item again, which still shows the dialog.
        desktop.key("Return")
        wait_state("the dialog hidden by Enter", lambda s: s["visible"] == "0")
        registered = watcher.registrations
        watcher.restart()
        wait_for("the item registered again", lambda: watcher.registrations > registered, 20)
        watcher.activate()
        wait_state("the dialog shown again", lambda s: s["visible"] == "1")

        # The VPN comes up: its address on the General page, the VPN icon in the tray.
        s = wait_state("the VPN up", lambda s: s["general.1019.text"] == "10.99.0.2" and
                       s["general.1018.enabled"] == "1", 40)
        wait_for("the VPN icon", lambda: watcher.item_property("IconPixmap") != normal, 10)
        desktop.screenshot("desktop-general.png")

        # The tab row by keyboard: in the Tab order, and Ctrl+Tab, Ctrl+PageDown
        # and the like turn the pages round the row.
        desktop.key("shift+Tab")
        wait_state("Shift+Tab to the tab row", lambda s: s["focus"] == "tabs")
        desktop.key("Right")
        wait_state("Right on the tab row", lambda s: s["options.visible"] == "1")
        desktop.key("Left")
        wait_state("Left on the tab row", lambda s: s["general.visible"] == "1")
        desktop.key("Tab")
        wait_state("Tab back into the page", lambda s: s["focus"] == "general.1003")
        for keys, name, index in (("ctrl+Tab", "options", 1), ("ctrl+Next", "about", 2),
                                  ("ctrl+Tab", "general", 0), ("ctrl+shift+Tab", "about", 2),
                                  ("ctrl+Prior", "options", 1), ("ctrl+Prior", "general", 0)):
            desktop.key(keys)
            wait_state("%s to the %s page" % (keys, name), lambda s: s[name + ".visible"] == "1"
                       and s["tabs.selected"] == str(index) and
                       [p for p in ("general", "options", "about") if s[p + ".visible"] == "1"] ==
                       [name])

        # The pages by mouse.
        desktop.click(s["tab.2.centre"])
        s = wait_state("About by a click", lambda s: s["about.visible"] == "1")
        check(s["about.1024.text"] == "Copyright (C) 2026 Lumivo Runtime", "About: %r" % s)
        desktop.screenshot("desktop-about.png")
        desktop.click(s["tab.1.centre"])
        s = wait_state("Options by a click", lambda s: s["options.visible"] == "1")

        # Typing the connections password enables Save; Save writes the file.
        check(s["options.1022.enabled"] == "0", "Save enabled before an edit")
        desktop.click(s["options.1020.centre"])
        wait_state("the focus in the password", lambda s: s["focus"] == "options.1020")
        desktop.key("ctrl+a", "BackSpace")
        desktop.type("pw2")
        s = wait_state("Save enabled by typing", lambda s: s["options.1022.enabled"] == "1")
        desktop.screenshot("desktop-options.png")
        desktop.click(s["options.1022.centre"])
        wait_state("Save disabled after the click", lambda s: s["options.1022.enabled"] == "0")
        with open(os.path.join(agent.work, "device", "BOOT", "env.json")) as f:
            saved = json.load(f)
        check(saved["connectionsPassword"] == "pw2" and saved["id"] == device, "saved: %r" % saved)

        # "Disconnect all" drops the VPN: the page and the tray show it.
        desktop.click(s["tab.0.centre"])
        s = wait_state("General by a click", lambda s: s["general.visible"] == "1")
        desktop.click(s["general.1018.centre"])
        wait_state("the VPN dropped", lambda s: s["general.1019.text"] == "DISCONNECTED" and
                   s["general.1018.enabled"] == "0")
        wait_for("the normal icon", lambda: watcher.item_property("IconPixmap") == normal, 10)

        # Enter hides the dialog; a second copy with "-g" shows it again and ends.
        desktop.key("Return")
        wait_state("the dialog hidden by Enter", lambda s: s["visible"] == "0")
        second = subprocess.run([AGENT, "-g"], timeout=30, stdout=subprocess.PIPE, text=True,
                                env=dict(os.environ, LUMIVO_DEVICE_ROOT=os.path.join(
                                    agent.work, "device"), LUMIVO_RUNTIME_DIR=os.path.join(
                                    agent.work, "run")))
        check(second.returncode == 0 and second.stdout == "App already running...\n",
              "the second copy: %r" % second.stdout)
        wait_state("the dialog shown by the second copy", lambda s: s["visible"] == "1" and
                   s["general.visible"] == "1")

        # Escape asks the quit question; Escape on it is No; Yes ends the agent.
        desktop.key("Escape")
        wait_state("the quit question", lambda s: s["question"] == "Are you sure you want to quit?")
        # The agent works on while the question waits: two more heart-beats.
        def beats():
            return len([r for r in devcloud.log() if r["method"] == "GET" and
                        r["path"].endswith("/heart-beat")])
        seen = beats()
        wait_for("heart-beats under the question", lambda: beats() >= seen + 2, 15)
        question = [w for w in desktop.windows() if w != desktop.windows()[0]] or desktop.windows()
        desktop.key("Escape", window=question[-1])
        wait_state("the question answered No", lambda s: s["question"] == "")
        time.sleep(0.5)
        check(agent.process.poll() is None, "No ended the agent")
        desktop.key("Escape")
        wait_state("the quit question again", lambda s: s["question"] != "")
        question = [w for w in desktop.windows() if w != desktop.windows()[0]] or desktop.windows()
        desktop.key("alt+y", window=question[-1])
        check(agent.wait(20) == 0, "the agent's exit status after Yes")
        print("desktop host: all checks passed")
        return 0
    finally:
        if agent is not None:
            agent.kill()
        devcloud.stop()
        desktop.close()


if __name__ == "__main__":
    sys.exit(main())
