#!/usr/bin/env python3
"""devcloud's console in headless Chromium, driven by Selenium, with the real
agent binary as the device: opened from the address devcloud printed, the page
shows the device online and polling, a click creates a VPN request, the page
shows the device's answer with its real interfaces and the request's times, a
click ends it and the agent drops the VPN; a device is deleted from the page;
a banner says when devcloud stopped answering. A page of another origin, open
in the same browser, can change nothing.

LUMIVO_ARTIFACTS names the folder for the screenshot (console.png, 1280x800).
Exit status 77 (skipped) when Chromium, its driver or Selenium is missing.
"""

import http.server
import json
import os
import re
import shutil
import socket
import sys
import tempfile
import threading
import unittest

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from processes import AGENT, DEVCLOUD, Agent, Devcloud, wait_for  # noqa: E402

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
except ImportError:
    webdriver = None

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
ARTIFACTS = os.environ.get("LUMIVO_ARTIFACTS", tempfile.gettempdir())


def host_interfaces():
    """The host's network interfaces as the kernel names them, loopback left out."""
    return {name for _, name in socket.if_nameindex() if name != "lo"}


def can_run():
    return webdriver is not None and os.access(CHROMIUM, os.X_OK) and \
        os.access(CHROMEDRIVER, os.X_OK)


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", "--window-size=1280,800", "--hide-scrollbars"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


class Page:
    """The console as a person sees it: elements found by what they show."""

    def __init__(self, driver, url):
        self.driver = driver
        driver.get(url)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    # The page redraws what changed every poll, so texts are read in one step
    # in the page rather than element by element; cells come apart by a space.
    def texts(self, css):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll(arguments[0]),"
            " e => e.innerText.replace(/\\s+/g, ' ').trim())", css)

    def text(self, css):
        found = self.texts(css)
        return found[0] if found else None

    def click(self, css, index=0):
        """A real click on the index-th element that css finds."""
        element = self.driver.execute_script(
            "const e = document.querySelectorAll(arguments[0])[arguments[1]];"
            "e.scrollIntoView({block: 'center'}); return e", css, index)
        element.click()

    def ids(self, css):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll(arguments[0]), e => e.id)", css)

    def wait(self, what, predicate, timeout=20.0):
        return wait_for(what, predicate, timeout)

    def device_cell(self, device, column):
        return self.text("#device-%d td:nth-child(%d)" % (device, column))

    def type_into(self, css, text):
        field = self.find(css)
        field.clear()
        field.send_keys(text)


class ConsoleInABrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cloud = Devcloud()
        try:
            # The first start enrols; the second logs in with connections and
            # the VPN on (enrolment writes fresh settings, connections off).
            first = Agent(cls.cloud)
            cls.device = wait_for("enrolment", first.device_id)
            first.stop()
            cls.agent = Agent(cls.cloud, "-c", "-n", work=first.work,
                              ras_script="address=10.99.0.7\n")
            cls.driver = browser()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "driver", None):
            cls.driver.quit()
        if getattr(cls, "agent", None):
            cls.agent.remove()
        cls.cloud.stop()

    def setUp(self):
        self.driver.set_window_size(1280, 800)
        self.page = Page(self.driver, self.cloud.console)
        self.page.wait("the page to reach the operator side",
                       lambda: self.page.text("#state") == "live")
        # The token is kept for the tab, not in the address bar or the history.
        self.assertNotIn("token", self.driver.current_url)

    def test_console_follows_a_vpn_round_trip(self):
        page, device = self.page, self.device
        page.wait("the device online", lambda: page.texts("#device-%d .badge.online" % device))
        self.assertNotEqual(page.device_cell(device, 4), "—")  # last heart-beat
        # Started with connections on, it polls.
        page.wait("the device polling", lambda: page.texts("#device-%d .badge.polling" % device))
        self.assertRegex(page.text("#device-%d .polls" % device), r"polling \d{4}-\d\d-\d\d ")
        if "enrolledAt" in self.cloud.device(device):
            self.assertRegex(page.device_cell(device, 3), r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")

        # The password stays hidden until asked for.
        with open(os.path.join(self.agent.work, "device", "BOOT", "env.json")) as f:
            password = json.load(f)["password"]
        self.assertNotIn(password, page.text("#device-%d" % device))
        page.click("#device-%d button.reveal" % device)
        self.assertEqual(page.text("#device-%d .password" % device), password)

        Select(page.find("#request-device")).select_by_value(str(device))
        page.type_into("#request-url", "vpn.console.example")
        before = set(page.ids("#request-list .request"))
        page.click("#create-request")
        request_id = page.wait("the new request", lambda: [
            i for i in page.ids("#request-list .request") if i not in before])[0]
        status = "#%s .status" % request_id
        page.wait("vpn-created", lambda: page.text(status) == "vpn-created", 20)
        self.assertIn("vpn.console.example", page.text("#%s .params" % request_id))
        stamp = r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$"
        self.assertRegex(page.text("#%s .created" % request_id), stamp)
        self.assertRegex(page.text("#%s .changed" % request_id), stamp)
        page.wait("the VPN shown up", lambda: page.text("#device-%d .vpn" % device) == "VPN up")
        self.assertEqual(page.text("#%s .server-ip" % request_id), "10.99.0.7")
        shown = {n for n in page.texts("#%s .interface-name" % request_id) if n}
        self.assertEqual(shown, host_interfaces())
        addresses = page.texts("#%s tr.interface td:nth-child(2)" % request_id)
        self.assertTrue(all(re.fullmatch(r"\d+\.\d+\.\d+\.\d+", a) for a in addresses), addresses)

        # The device's answer in the log, opened to its head and body.
        answer = "PUT /api/connections/%s" % request_id.split("-")[1]
        row = page.wait("the answer in the log", lambda: [
            i for i, t in enumerate(page.texts("#log-rows tr.entry")) if answer in t])[0]
        page.click("#log-rows tr.entry", row)
        detail = page.wait("the entry's detail", lambda: page.text("#log-rows tr.detail"))
        self.assertIn("status=vpn-created&data=", detail)
        self.assertIn("x-access-token", detail)
        self.screenshot("console.png")

        connected = self.agent.wait_for_line("VPN connected successfully", 1)
        page.click("#%s button.end" % request_id)
        self.agent.wait_for_line("VPN disconnected successfully", 10, connected + 1)
        page.wait("ended", lambda: page.text(status) == "ended")
        self.assertEqual(page.texts("#%s button.end" % request_id), [])
        page.wait("the VPN shown down", lambda: page.text("#device-%d .vpn" % device) == "—")
        # The log is read from its last entry on, not whole at every poll.
        asked = self.driver.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)")
        self.assertTrue(any("/log?since=" in name for name in asked), asked[-8:])

    def screenshot(self, name):
        """The page at the top, its viewport 1280x800."""
        chrome = self.driver.execute_script("return window.outerHeight - window.innerHeight")
        self.driver.set_window_size(1280, 800 + chrome)
        self.driver.execute_script("window.scrollTo(0, 0)")
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.driver.save_screenshot(os.path.join(ARTIFACTS, name))

    def test_device_text_is_shown_as_text_and_the_log_filters_by_device(self):
        page, cloud = self.page, self.cloud
        enrol = [e for e in cloud.log() if e["method"] == "POST" and
                 e["path"] == cloud.prefix + "devices"][0]
        secret = re.search(r"secretKey=([^&]*)", enrol["body"]).group(1)
        status, text = cloud.device_call("POST", "devices",
                                         "secretKey=%s&typeCode=board&version=0.1" % secret)
        self.assertEqual(status, 200, text)
        other = json.loads(text)
        request = cloud.call("POST", "/devices/%d/requests" % other["id"], {"url": "x"})["id"]
        hostile = '<img src=x onerror="window.owned=1">'
        data = json.dumps({"serverIp": "<b>10.0.0.1</b>",
                           "networkInterfaces": {hostile: [{"ip": "1.2.3.4", "mask": "<i>"}]}})
        status, _ = cloud.device_call("PUT", "connections/%d" % request,
                                      "status=vpn-created&data=" + data, other["token"])
        self.assertEqual(status, 200)
        cloud.device_call("GET", "devices/%d/heart-beat" % other["id"], token=other["token"])

        css = "#request-%d" % request
        page.wait("the other device's answer", lambda: page.text(css + " .interface-name"))
        self.assertEqual(page.text(css + " .interface-name"), hostile)
        self.assertEqual(page.text(css + " .server-ip"), "<b>10.0.0.1</b>")
        self.assertFalse(self.driver.find_elements(By.CSS_SELECTOR, "#request-list img, "
                                                   "#request-list b, #request-list i"))
        self.assertIsNone(self.driver.execute_script("return window.owned"))

        beat = "devices/%d/heart-beat" % other["id"]
        page.wait("the other device's heart-beat in the log",
                  lambda: any(beat in t for t in page.texts("#log-rows tr.entry")))
        Select(page.find("#log-device")).select_by_value(str(self.device))
        page.wait("the log of the agent's device only", lambda: (
            not any(beat in t for t in page.texts("#log-rows tr.entry")) and
            any("devices/%d/heart-beat" % self.device in t
                for t in page.texts("#log-rows tr.entry"))))
        cloud.call("DELETE", "/requests/%d" % request)

    def test_a_device_is_deleted_from_the_page(self):
        page, cloud = self.page, self.cloud
        secret = re.search(r"secretKey=([^&]*)", [
            e for e in cloud.log() if e["path"] == cloud.prefix + "devices"][0]["body"]).group(1)
        status, text = cloud.device_call("POST", "devices", "secretKey=%s&typeCode=x" % secret)
        self.assertEqual(status, 200, text)
        orphan = json.loads(text)["id"]
        request = cloud.call("POST", "/devices/%d/requests" % orphan, {"url": "x"})["id"]
        page.wait("the new device", lambda: page.texts("#device-%d" % orphan))
        page.click("#device-%d button.delete" % orphan)
        self.driver.switch_to.alert.accept()
        page.wait("the device gone", lambda: not page.texts("#device-%d" % orphan))
        page.wait("its request ended", lambda: page.text("#request-%d .status" % request) == "ended")
        self.assertIn("device %d (deleted)" % orphan, page.text("#request-%d" % request))
        self.assertIsNone(cloud.device(orphan))

    def test_faults_are_set_and_cleared_from_the_page(self):
        page = self.page
        path = "%sdevices/%d/heart-beat" % (self.cloud.prefix, self.device)
        page.type_into("#fault-path", path)
        page.type_into("#fault-status", "503")
        page.type_into("#fault-count", "1")
        page.click("#fault-form button[type=submit]")
        page.wait("the injected 503 in the log", lambda: any(
            path in t and t.endswith("503") for t in page.texts("#log-rows tr.entry")), 15)
        self.assertEqual(self.cloud.call("GET", "/faults"), [])

        page.type_into("#fault-path", "/api/never")
        page.type_into("#fault-count", "5")
        page.click("#fault-form button[type=submit]")
        page.wait("the pending fault", lambda: page.texts("#fault-rows tr") ==
                  ["/api/never 5 503 {\"message\":\"injected\"} 0 no"])
        page.click("#clear-faults")
        page.wait("no faults", lambda: page.texts("#fault-rows tr") == [])
        self.assertEqual(self.cloud.call("GET", "/faults"), [])

    def test_readable_at_phone_width(self):
        self.driver.set_window_size(390, 844)
        width = self.driver.execute_script("return window.innerWidth")
        self.assertLessEqual(width, 400)
        self.assertLessEqual(
            self.driver.execute_script("return document.documentElement.scrollWidth"), width)
        for section in ("devices", "requests", "log", "faults"):
            box = self.page.find("#" + section).rect
            self.assertGreaterEqual(box["x"], 0, section)
            self.assertLessEqual(box["x"] + box["width"], width, section)


class Elsewhere(http.server.ThreadingHTTPServer):
    """A web page of another origin (another loopback port) that tries to drive
    devcloud's operator side, as any page the operator opens could: a fetch
    that needs no permission, a form, and a fetch that even knows the token."""

    def __init__(self, cloud, device):
        page = """<!DOCTYPE html><html><body>
<iframe name="sink"></iframe>
<form id="f" method="POST" enctype="text/plain" target="sink" action="%(op)s/faults">
<input name='{"path":"/api/devices","count":9,"x":"' value='"}'></form>
<script>
window.done = 0;
const body = JSON.stringify({type: "vpn", url: "evil.example", username: "u", password: "p",
                             domain: "d", preSharedKey: "k"});
fetch("%(op)s/devices/%(device)d/requests", {method: "POST", mode: "no-cors", body,
      headers: {"Content-Type": "text/plain"}}).finally(() => window.done++);
fetch("%(op)s/devices/%(device)d/requests", {method: "POST", body,
      headers: {"Content-Type": "application/json", "Authorization": "Bearer %(token)s"}})
  .catch(() => {}).finally(() => window.done++);
fetch("%(op)s/devices", {headers: {"Authorization": "Bearer %(token)s"}})
  .then(r => r.text()).then(t => { window.read = t; }).catch(() => {})
  .finally(() => window.done++);
document.getElementById("f").submit();
</script></body></html>""" % {"op": cloud.operator, "device": device, "token": cloud.token}

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(page.encode())

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()


class ConsoleAgainstOtherPages(unittest.TestCase):
    def setUp(self):
        self.cloud = Devcloud()
        self.addCleanup(self.cloud.stop)
        self.driver = browser()
        self.addCleanup(self.driver.quit)

    def test_a_page_of_another_origin_changes_nothing(self):
        cloud = self.cloud
        status, text = cloud.device_call("POST", "devices", "secretKey=v61947.02")
        self.assertEqual(status, 200, text)
        device = json.loads(text)["id"]
        elsewhere = Elsewhere(cloud, device)
        self.addCleanup(elsewhere.server_close)
        self.addCleanup(elsewhere.shutdown)
        page = Page(self.driver, elsewhere.url)
        page.wait("the page's attempts", lambda: self.driver.execute_script(
            "return window.done") == 3, 15)
        self.assertEqual(cloud.call("GET", "/requests"), [])
        self.assertEqual(cloud.call("GET", "/faults"), [])
        self.assertIsNone(self.driver.execute_script("return window.read"))

    def test_token_pasted_into_the_page(self):
        cloud = self.cloud
        self.assertTrue(cloud.token, "devcloud wrote no operator-token")
        self.assertEqual(cloud.raw("GET", "/devices", token="")[0], 401)
        # A browser cannot send the token with the page's own address: the page
        # and its assets hold nothing secret and load without it.
        for path in ("/", "/console.js", "/console.css"):
            self.assertEqual(cloud.raw("GET", path, token="")[0], 200, path)
        page = Page(self.driver, cloud.operator + "/")
        page.wait("the refusal", lambda: page.text("#state") == "token needed")
        page.type_into("#token", cloud.token)
        page.click("#token-form button")
        page.wait("the page to reach the operator side", lambda: page.text("#state") == "live")
        # Kept for the tab's session: a reload needs no second paste.
        self.driver.refresh()
        page.wait("live after a reload", lambda: page.text("#state") == "live")

    def test_a_banner_stays_in_sight_once_devcloud_stops_answering(self):
        page = Page(self.driver, self.cloud.console)
        page.wait("live", lambda: page.text("#state") == "live")
        self.assertFalse(page.find("#offline").is_displayed())
        self.cloud.stop()
        page.wait("the banner", lambda: page.find("#offline").is_displayed())
        self.assertRegex(page.text("#offline"), r"^devcloud stopped answering at \d\d:\d\d:\d\d")
        self.driver.execute_script("window.scrollTo(0, document.body.scrollHeight)")
        top = self.driver.execute_script(
            "return document.getElementById('offline').getBoundingClientRect().top")
        self.assertEqual(top, 0)


if __name__ == "__main__":
    if not can_run():
        print("skipped: chromium, chromedriver or python3-selenium missing")
        sys.exit(77)
    if not (os.path.exists(DEVCLOUD) and os.path.exists(AGENT)):
        print("LUMIVO_DEVCLOUD and LUMIVO_AGENT must name the built binaries")
        sys.exit(1)
    unittest.main(verbosity=2)
