#!/usr/bin/env python3
"""devcloud/openapi.json against what really goes over the wire.

The agent binary runs against devcloud (enrolment, login, polls refused and then
accepted, a VPN round trip, a failed dial, a heart-beat fault); the test then makes the device calls' error cases itself and
calls every operator route. Every request and reply of the run (devcloud's
log of the device side, and every call the test made) must match the
description: path, method, status, security header, request body and reply
body against their schemas. Every documented operation must have been seen.
"""

import base64
import json
import os
import re
import sys
import unittest
import urllib.parse

import jsonschema

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from processes import AGENT, DEVCLOUD, Agent, Devcloud, Exchange, wait_for  # noqa: E402

DESCRIPTION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "devcloud",
                           "openapi.json")
METHODS = ("get", "put", "post", "delete", "patch")


def parse_form(body, names):
    """Form fields as devcloud reads them: pairs split on "&", nothing decoded,
    the last documented field running to the end of the body."""
    fields = {}
    if names:
        last = names[-1]
        found = re.search(r"(?:^|&)" + re.escape(last) + "=", body)
        if found:
            fields[last] = body[found.end():]
            body = body[:found.start()]
    for pair in body.split("&"):
        if pair:
            name, _, value = pair.partition("=")
            fields.setdefault(name, value)
    return fields


class Description:
    def __init__(self, document):
        self.document = document
        self.operations = []  # (method, pattern, template, operation)
        for template, item in document["paths"].items():
            pattern = re.compile("^" + re.sub(r"\\\{(\w+)\\\}", r"(?P<\1>[^/]+)",
                                              re.escape(template)) + "$")
            for method in METHODS:
                if method in item:
                    self.operations.append((method.upper(), pattern, template, item[method]))
        # A literal path wins over a template with parameters.
        self.operations.sort(key=lambda o: "{" in o[2])

    def resolve(self, node):
        while isinstance(node, dict) and "$ref" in node and len(node) == 1 and \
                not node["$ref"].startswith("#/components/schemas/"):
            target = self.document
            for part in node["$ref"][2:].split("/"):
                target = target[part]
            node = target
        return node

    def schema_errors(self, schema, instance):
        # The schema with the document's components beside it, so that
        # "#/components/schemas/..." references resolve.
        root = dict(schema, components=self.document["components"])
        return [e.message for e in jsonschema.Draft202012Validator(root).iter_errors(instance)]

    def find(self, method, path):
        for m, pattern, template, operation in self.operations:
            match = pattern.match(path)
            if m == method and match:
                return template, operation, match.groupdict()
        return None, None, None

    def check(self, e):
        """What in the exchange the description does not allow, as a list of texts."""
        split = urllib.parse.urlsplit(e.path)
        template, operation, path_values = self.find(e.method, split.path)
        if operation is None:
            return ["undocumented operation"], None
        problems = []
        parameters = [self.resolve(p) for p in operation.get("parameters", [])]
        for p in parameters:
            if p["in"] == "path":
                value = path_values[p["name"]]
                if p["schema"].get("type") == "integer":
                    value = int(value) if re.fullmatch(r"\d+", value) else value
                problems += ["path %s: %s" % (p["name"], m)
                             for m in self.schema_errors(p["schema"], value)]
        query = {p["name"]: p for p in parameters if p["in"] == "query"}
        for name, value in urllib.parse.parse_qsl(split.query, keep_blank_values=True):
            if name not in query:
                problems.append("undocumented query parameter " + name)
        headers = {k.lower(): v for k, v in e.request_headers.items()}
        # A refused request need not be well formed: its refusal is what is documented.
        if 200 <= e.status < 300:
            problems += self.check_security(operation, headers)
            problems += self.check_request_body(operation, headers, e.request_body)
        response = operation["responses"].get(str(e.status))
        if response is None:
            problems.append("undocumented status")
        elif e.reply_body is not None:
            problems += self.check_reply(self.resolve(response), e)
        return problems, (e.method, template)

    def check_security(self, operation, headers):
        requirements = operation.get("security", self.document.get("security", []))
        if not requirements or {} in requirements:
            return []
        schemes = self.document["components"]["securitySchemes"]
        for requirement in requirements:
            satisfied = True
            for name in requirement:
                scheme = schemes[name]
                if scheme["type"] == "apiKey":
                    satisfied &= bool(headers.get(scheme["name"].lower()))
                elif scheme["type"] == "http":
                    satisfied &= headers.get("authorization", "").startswith("Bearer ")
            if satisfied:
                return []
        return ["missing credentials: one of %s" % requirements]

    def check_request_body(self, operation, headers, body):
        if "requestBody" not in operation:
            return []
        described = self.resolve(operation["requestBody"])
        if not body:
            return ["no request body"] if described.get("required") else []
        content_type = headers.get("content-type", "").split(";")[0].strip()
        media = described["content"].get(content_type)
        if media is None:
            return ["request content type %r not documented" % content_type]
        schema = media["schema"]
        if content_type == "application/x-www-form-urlencoded":
            value = parse_form(body, list(schema.get("properties", {})))
        else:
            try:
                value = json.loads(body)
            except ValueError:
                return ["request body is not JSON"]
        return ["request: " + m for m in self.schema_errors(schema, value)]

    def check_reply(self, response, e):
        content = response.get("content", {})
        if not content:
            return []
        if "application/json" not in content:
            documented = list(content)[0]
            if e.reply_type and not e.reply_type.startswith(documented):
                return ["reply content type %r, documented %r" % (e.reply_type, documented)]
            return []
        try:
            value = json.loads(e.reply_body)
        except ValueError:
            return ["reply is not JSON: %r" % e.reply_body[:80]]
        return ["reply: " + m for m in self.schema_errors(content["application/json"]["schema"],
                                                            value)]


def load_description():
    with open(DESCRIPTION, encoding="utf-8") as f:
        return Description(json.load(f))


def from_log(entry):
    """A log entry of the device side as an exchange; its reply body only where
    devcloud keeps it."""
    reply = entry.get("replyBody")
    if "replyBodyBase64" in entry:
        reply = base64.b64decode(entry["replyBodyBase64"]).decode("utf-8", "replace")
    body = base64.b64decode(entry["bodyBase64"]).decode("latin-1")
    return Exchange(entry["method"], entry["path"], dict(entry["headers"]), body,
                    entry["status"], reply, None)


class CheckerCatchesDrift(unittest.TestCase):
    """The checker itself: replies and requests the description does not allow."""

    def setUp(self):
        self.description = load_description()

    def problems(self, method, path, status, reply, body="", headers=None):
        headers = headers if headers is not None else {
            "x-access-token": "t", "Content-Type": "application/x-www-form-urlencoded"}
        return self.description.check(Exchange(method, path, headers, body, status, reply,
                                               None))[0]

    def test_faults_are_found(self):
        self.assertEqual(self.problems("POST", "/api/devices/1/login", 200, '{"token":"t"}',
                                       "secretKey=s&password=p&version=1"), [])
        self.assertTrue(self.problems("POST", "/api/devices/1/login", 200, '{"tok":"t"}',
                                      "secretKey=s&password=p&version=1"))
        self.assertTrue(self.problems("POST", "/api/devices", 200,
                                      '{"id":0,"password":"p","token":"t"}',
                                      "secretKey=s&typeCode=wince&version=1"))
        self.assertTrue(self.problems("POST", "/api/devices", 200,
                                      '{"id":2,"password":"p","token":"t"}',
                                      "secretKey=s&version=1"))
        self.assertTrue(self.problems("GET", "/api/devices/1/heart-beat", 418, "{}"))
        self.assertTrue(self.problems("GET", "/api/devices/1/heart-beat", 200, "{}", headers={}))
        self.assertTrue(self.problems("GET", "/api/devices/x/heart-beat", 200, "{}"))
        self.assertTrue(self.problems("GET", "/api/devices/1/heart-beats", 200, "{}"))
        self.assertTrue(self.problems("GET", "/log?from=3", 200, "[]", headers={}))
        self.assertTrue(self.problems("GET", "/requests", 200,
                                      '[{"id":1,"deviceId":1,"type":"vpn","status":"gone",'
                                      '"data":"{}","answer":null}]', headers={}))

    def test_last_form_field_runs_to_the_end(self):
        self.assertEqual(parse_form("status=vpn-created&data={\"a\":\"x&y=z\"}", ["status", "data"]),
                         {"status": "vpn-created", "data": "{\"a\":\"x&y=z\"}"})
        self.assertEqual(parse_form("password=a&b=c", ["password"]), {"password": "a&b=c"})


@unittest.skipUnless(os.path.exists(DEVCLOUD) and os.path.exists(AGENT),
                     "LUMIVO_DEVCLOUD and LUMIVO_AGENT must name the built binaries")
class DescriptionMatchesTheWire(unittest.TestCase):
    def setUp(self):
        self.description = load_description()
        self.cloud = Devcloud()
        self.addCleanup(self.cloud.stop)

    def calls(self, method, suffix, status=None):
        return [e for e in self.cloud.log() if e["method"] == method and
                e["path"].endswith(suffix) and (status is None or e["status"] == status)]

    def agent_run(self):
        cloud = self.cloud
        # The first start enrols; enrolment writes fresh settings, connections off.
        first = Agent(cloud)
        self.addCleanup(first.remove)
        device = wait_for("enrolment", first.device_id)
        wait_for("a heart-beat", lambda: self.calls("GET", "/heart-beat", 200))
        self.assertEqual(first.stop(), 0)

        # The second start logs in, with connections and the VPN on. Its polls
        # are refused until devcloud knows the connections password.
        agent = Agent(cloud, "-c", "-n", "-p=cpw", work=first.work, ras_script="address=10.99.0.7\n")
        self.addCleanup(agent.stop)
        wait_for("a refused poll", lambda: self.calls("POST", "/check-requests", 403))
        self.assertTrue(self.calls("POST", "/login", 200))
        cloud.call("PUT", "/devices/%d/connections-password" % device, {"password": "cpw"})
        wait_for("an accepted poll", lambda: self.calls("POST", "/check-requests", 200), 10)

        vpn = cloud.call("POST", "/devices/%d/requests" % device,
                         {"type": "vpn", "url": "vpn.example.net", "username": "dev",
                          "password": "pw", "domain": "CORP", "preSharedKey": "psk"})["id"]
        connected = agent.wait_for_line("VPN connected successfully")
        wait_for("vpn-created", lambda: cloud.request(vpn)["status"] == "vpn-created", 10)
        cloud.call("DELETE", "/requests/%d" % vpn)
        agent.wait_for_line("VPN disconnected successfully", 10, connected + 1)

        agent.script("dial=691\n")
        failed = cloud.call("POST", "/devices/%d/requests" % device,
                            {"url": "vpn.example.net", "username": "dev", "password": "pw",
                             "domain": "", "preSharedKey": "psk"})["id"]
        wait_for("the error answer", lambda: cloud.request(failed)["status"] == "error", 10)

        beat = "%sdevices/%d/heart-beat" % (cloud.prefix, device)
        cloud.call("POST", "/faults", {"path": beat, "count": 1, "status": 500,
                                       "body": '{"message":"injected"}'})
        cloud.call("GET", "/faults")
        wait_for("the injected 500", lambda: self.calls("GET", "/heart-beat", 500), 10)
        self.assertEqual(agent.stop(), 0)
        return device, vpn, failed

    def error_cases(self, device, vpn, failed):
        """The device calls' refusals, made as a device would make them."""
        cloud = self.cloud
        enrol = self.calls("POST", cloud.prefix + "devices")[0]
        secret = parse_form(from_log(enrol).request_body, ["secretKey", "typeCode", "version"])[
            "secretKey"]
        token = [v for k, v in self.calls("POST", "/check-requests")[-1]["headers"]
                 if k.lower() == "x-access-token"][0]
        status, text = cloud.device_call("POST", "devices",
                                         "secretKey=%s&typeCode=wince&version=0.1" % secret)
        self.assertEqual(status, 200, text)
        other = json.loads(text)
        expected = [
            (("POST", "devices", "secretKey=wrong&typeCode=wince&version=0.1"), 404),
            (("POST", "devices/%d/login" % other["id"], "secretKey=%s&password=x&version=0.1"
              % secret), 404),
            (("GET", "devices/%d/heart-beat" % device, "", other["token"]), 403),
            (("GET", "devices/%d/heart-beat" % device, ""), 401),
            (("GET", "devices/999999/heart-beat", "", other["token"]), 404),
            (("POST", "connections/check-requests", "password=wrong", other["token"]), 403),
            (("PUT", "connections/%d" % vpn, "status=vpn-created&data={}", token), 409),
            (("PUT", "connections/%d" % failed, "data={}", token), 400),
            (("PUT", "connections/999999", "status=error&data={}", token), 404),
            (("DELETE", "connections/disconnect-all", "", other["token"]), 200),
        ]
        for arguments, status in expected:
            self.assertEqual(cloud.device_call(*arguments)[0], status, arguments)
        return other["id"]

    def operator_cases(self, device, other):
        cloud = self.cloud
        self.assertEqual(cloud.raw("POST", "/faults", {"path": "/x", "count": 0})[0], 400)
        cloud.call("POST", "/faults", {"path": "/x", "count": 3, "drop": True})
        cloud.call("DELETE", "/faults")
        self.assertEqual(cloud.call("GET", "/faults"), [])
        self.assertEqual(cloud.raw("DELETE", "/requests/999999")[0], 404)
        self.assertEqual(cloud.raw("PUT", "/devices/999999/connections-password",
                                   {"password": "x"})[0], 404)
        cloud.call("GET", "/devices")
        cloud.call("GET", "/requests")
        cloud.call("GET", "/log?device=%d" % device)
        newest = cloud.call("GET", "/log?last=3")
        self.assertEqual(len(newest), 3)
        self.assertEqual(cloud.call("GET", "/log?since=%d" % newest[1]["id"]), newest[2:])
        for query in ("device=abc", "since=x", "last=0"):
            self.assertEqual(cloud.raw("GET", "/log?" + query)[0], 400, query)
        self.assertEqual(cloud.raw("GET", "/devices", token="")[0], 401)
        cloud.call("DELETE", "/devices/%d" % other)
        self.assertEqual(cloud.raw("DELETE", "/devices/%d" % other)[0], 404)
        with open(DESCRIPTION, encoding="utf-8") as f:
            self.assertEqual(cloud.raw("GET", "/openapi.json")[1], f.read())
        for path in ("/", "/console.css", "/console.js"):
            self.assertEqual(cloud.raw("GET", path)[0], 200, path)

    def test_every_request_and_reply_matches(self):
        device, vpn, failed = self.agent_run()
        other = self.error_cases(device, vpn, failed)
        self.operator_cases(device, other)
        log = self.cloud.log()
        self.cloud.call("DELETE", "/log")

        problems, seen = [], set()
        exchanges = [from_log(entry) for entry in log] + self.cloud.exchanges
        for e in exchanges:
            found, operation = self.description.check(e)
            seen.add(operation)
            problems += ["%s %s %d: %s" % (e.method, e.path, e.status, p) for p in found]
        self.assertEqual(problems, [], "\n".join(problems))
        self.assertGreater(len(log), 20)
        documented = {(m, t) for m, _, t, _ in self.description.operations}
        self.assertEqual(documented - seen, set(), "documented but never seen in the run")


if __name__ == "__main__":
    unittest.main(verbosity=2)
