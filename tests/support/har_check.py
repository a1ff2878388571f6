#!/usr/bin/env python3
"""Checks a HAR file against the HAR 1.2 structure and dumps what it carries.

Usage: har_check.py FILE.har OUTDIR

Problems go to standard error, one per line, and make the exit status 1.
Standard output gets one line per fact, "<entry> <what> <value>", texts as hex
of their bytes (latin1 texts turned back into their bytes); decoded bodies are
written to OUTDIR/<entry>.content and OUTDIR/<entry>.post.
"""
import base64
import json
import math
import os
import re
import sys

problems = []


def problem(where, text):
    problems.append(f"{where}: {text}")


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def is_number(value):
    return (is_int(value) or isinstance(value, float)) and math.isfinite(value)


# field: (type check, required)
STRING = (lambda v: isinstance(v, str), "string")
NUMBER = (is_number, "number")
INTEGER = (is_int, "integer")
BOOLEAN = (lambda v: isinstance(v, bool), "boolean")
OBJECT = (lambda v: isinstance(v, dict), "object")
ARRAY = (lambda v: isinstance(v, list), "array")

SCHEMAS = {
    "log": {"version": (STRING, True), "creator": (OBJECT, True), "browser": (OBJECT, False),
            "pages": (ARRAY, False), "entries": (ARRAY, True), "comment": (STRING, False)},
    "creator": {"name": (STRING, True), "version": (STRING, True), "comment": (STRING, False)},
    "entry": {"pageref": (STRING, False), "startedDateTime": (STRING, True), "time": (NUMBER, True),
              "request": (OBJECT, True), "response": (OBJECT, True), "cache": (OBJECT, True),
              "timings": (OBJECT, True), "serverIPAddress": (STRING, False),
              "connection": (STRING, False), "comment": (STRING, False)},
    "request": {"method": (STRING, True), "url": (STRING, True), "httpVersion": (STRING, True),
                "cookies": (ARRAY, True), "headers": (ARRAY, True), "queryString": (ARRAY, True),
                "postData": (OBJECT, False), "headersSize": (INTEGER, True),
                "bodySize": (INTEGER, True), "comment": (STRING, False)},
    "response": {"status": (INTEGER, True), "statusText": (STRING, True),
                 "httpVersion": (STRING, True), "cookies": (ARRAY, True), "headers": (ARRAY, True),
                 "content": (OBJECT, True), "redirectURL": (STRING, True),
                 "headersSize": (INTEGER, True), "bodySize": (INTEGER, True),
                 "comment": (STRING, False)},
    "cookie": {"name": (STRING, True), "value": (STRING, True), "path": (STRING, False),
               "domain": (STRING, False), "expires": (STRING, False), "httpOnly": (BOOLEAN, False),
               "secure": (BOOLEAN, False), "comment": (STRING, False)},
    "record": {"name": (STRING, True), "value": (STRING, True), "comment": (STRING, False)},
    "postData": {"mimeType": (STRING, True), "params": (ARRAY, True), "text": (STRING, True),
                 "comment": (STRING, False)},
    "param": {"name": (STRING, True), "value": (STRING, False), "fileName": (STRING, False),
              "contentType": (STRING, False), "comment": (STRING, False)},
    "content": {"size": (INTEGER, True), "compression": (INTEGER, False),
                "mimeType": (STRING, True), "text": (STRING, False), "encoding": (STRING, False),
                "comment": (STRING, False)},
    "cache": {"beforeRequest": (OBJECT, False), "afterRequest": (OBJECT, False),
              "comment": (STRING, False)},
    "timings": {"blocked": (NUMBER, False), "dns": (NUMBER, False), "connect": (NUMBER, False),
                "send": (NUMBER, True), "wait": (NUMBER, True), "receive": (NUMBER, True),
                "ssl": (NUMBER, False), "comment": (STRING, False)},
}

ISO_8601 = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)$")


def check(obj, kind, where):
    if not isinstance(obj, dict):
        problem(where, f"{kind} is not an object")
        return False
    schema = SCHEMAS[kind]
    for name, ((test, type_name), required) in schema.items():
        if name not in obj:
            if required:
                problem(where, f"{kind}.{name} missing")
        elif not test(obj[name]):
            problem(where, f"{kind}.{name} is not a {type_name}")
    for name in obj:
        if name not in schema and not name.startswith("_"):
            problem(where, f"{kind}.{name} is not a HAR 1.2 field")
    return True


def text_bytes(obj, name):
    """The bytes a text field stands for, as the writer documents it."""
    value = obj.get(name, "")
    if obj.get("_encoding") == "latin1":
        return value.encode("latin-1")
    return value.encode("utf-8")


def body_bytes(obj, base64_field, where):
    text = obj["text"]
    if obj.get(base64_field) == "base64":
        try:
            return base64.b64decode(text, validate=True)
        except ValueError as error:
            problem(where, f"text is not base64: {error}")
            return b""
    return text.encode("utf-8")


def check_records(records, kind, where):
    for i, record in enumerate(records):
        check(record, kind, f"{where}[{i}]")


def main():
    path, outdir = sys.argv[1], sys.argv[2]
    raw = open(path, "rb").read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        print(f"not UTF-8: {error}", file=sys.stderr)
        return 1

    def no_constants(name):
        raise ValueError(f"{name} is not JSON")

    try:
        har = json.loads(text, parse_constant=no_constants)
    except ValueError as error:
        print(f"not JSON: {error}", file=sys.stderr)
        return 1
    if not isinstance(har, dict) or set(har) != {"log"}:
        print("the top level is not an object holding only log", file=sys.stderr)
        return 1
    log = har["log"]
    check(log, "log", "log")
    if log.get("version") != "1.2":
        problem("log", "version is not 1.2")
    check(log.get("creator"), "creator", "log.creator")
    out = []
    for n, entry in enumerate(log.get("entries", [])):
        where = f"entries[{n}]"
        if not check(entry, "entry", where):
            continue
        if not ISO_8601.match(entry.get("startedDateTime", "")):
            problem(where, "startedDateTime is not ISO 8601")
        request, response = entry.get("request", {}), entry.get("response", {})
        check(request, "request", where + ".request")
        check(response, "response", where + ".response")
        check(entry.get("cache", {}), "cache", where + ".cache")
        timings = entry.get("timings", {})
        if check(timings, "timings", where + ".timings"):
            for name in ("send", "wait", "receive"):
                if is_number(timings.get(name)) and timings[name] < 0:
                    problem(where, f"timings.{name} is negative")
            # ssl is part of connect, so it is not counted again.
            total = sum(v for k, v in timings.items()
                        if k not in ("comment", "ssl") and not k.startswith("_") and is_number(v)
                        and v != -1)
            if is_number(timings.get("ssl")) and timings["ssl"] != -1 and not (
                    is_number(timings.get("connect")) and timings["ssl"] <= timings["connect"]):
                problem(where, "timings.ssl is not part of timings.connect")
            if is_number(entry.get("time")) and abs(total - entry["time"]) > 0.002:
                problem(where, f"time {entry['time']} is not the sum of the timings {total}")
        url = request.get("url", "")
        if not re.match(r"^[a-z][a-z0-9+.-]*://[\x21-\x7e]+$", url):
            problem(where, f"url {url!r} is not an absolute ASCII address")
        if "#" in url:
            problem(where, "url holds a fragment")
        for side, message in (("request", request), ("response", response)):
            check_records(message.get("headers", []), "record", f"{where}.{side}.headers")
            check_records(message.get("cookies", []), "cookie", f"{where}.{side}.cookies")
        check_records(request.get("queryString", []), "record", where + ".request.queryString")

        out.append(f"{n} timing {entry.get('startedDateTime')} {entry.get('time')} "
                   f"{timings.get('wait')} {timings.get('receive')}")
        out.append(f"{n} phases " + " ".join(
            str(timings.get(k)) for k in ("blocked", "dns", "connect", "ssl", "send", "wait",
                                          "receive")))
        out.append(f"{n} method {text_bytes(request, 'method').hex()}")
        out.append(f"{n} url {url}")
        out.append(f"{n} version {text_bytes(request, 'httpVersion').hex()}")
        for record in request.get("headers", []):
            out.append(f"{n} request-header {text_bytes(record, 'name').hex()} "
                       f"{text_bytes(record, 'value').hex()}")
        for record in request.get("queryString", []):
            out.append(f"{n} query {record.get('name')}={record.get('value')}")
        for record in request.get("cookies", []):
            out.append(f"{n} request-cookie {record.get('name')}={record.get('value')}")
        post = request.get("postData")
        if post is not None and check(post, "postData", where + ".request.postData"):
            check_records(post.get("params", []), "param", where + ".request.postData.params")
            with open(os.path.join(outdir, f"{n}.post"), "wb") as f:
                f.write(body_bytes(post, "_encoding", where + ".request.postData"))
            out.append(f"{n} post {post.get('_encoding', 'text')} {post.get('mimeType')}")
            for record in post.get("params", []):
                out.append(f"{n} param {record.get('name')}={record.get('value')}")
        out.append(f"{n} request-sizes {request.get('headersSize')} {request.get('bodySize')}")
        out.append(f"{n} status {response.get('status')} "
                   f"{text_bytes(response, 'statusText').hex()}")
        for record in response.get("headers", []):
            out.append(f"{n} response-header {text_bytes(record, 'name').hex()} "
                       f"{text_bytes(record, 'value').hex()}")
        for record in response.get("cookies", []):
            extra = " ".join(f"{k}={record[k]}" for k in
                             ("path", "domain", "expires", "httpOnly", "secure") if k in record)
            out.append(f"{n} response-cookie {record.get('name')}={record.get('value')} {extra}")
        content = response.get("content", {})
        if check(content, "content", where + ".response.content"):
            if "text" in content:
                body = body_bytes(content, "encoding", where + ".response.content")
                with open(os.path.join(outdir, f"{n}.content"), "wb") as f:
                    f.write(body)
                if len(body) != content.get("size"):
                    problem(where, f"content.size {content.get('size')} but {len(body)} bytes")
            out.append(f"{n} content {content.get('encoding', 'text')} size={content.get('size')}"
                       f" mime={content.get('mimeType')}"
                       + (f" compression={content['compression']}" if "compression" in content
                          else ""))
            if "comment" in content:
                out.append(f"{n} content-comment {content['comment']}")
        out.append(f"{n} response-sizes {response.get('headersSize')} {response.get('bodySize')}")
        out.append(f"{n} redirect {response.get('redirectURL')}")
        if "comment" in entry:
            out.append(f"{n} comment {entry['comment']}")
        if "_resourceType" in entry:
            out.append(f"{n} resource-type {entry['_resourceType']}")
        for i, message in enumerate(entry.get("_webSocketMessages", [])):
            at = f"{where}._webSocketMessages[{i}]"
            if message.get("type") not in ("send", "receive"):
                problem(at, "type is neither send nor receive")
            if not is_number(message.get("time")) or message["time"] < 1e9:
                problem(at, "time is not seconds since 1970")
            if message.get("opcode") not in (1, 2) or not isinstance(message.get("data"), str):
                problem(at, "opcode or data missing")
                continue
            data = message["data"]
            if message["opcode"] == 2:
                data = base64.b64decode(data).hex()
            out.append(f"{n} ws {message['type']} {message['opcode']} {json.dumps(data)}")
        tunnel = entry.get("_tunnel")
        if tunnel is not None:
            out.append(f"{n} tunnel {tunnel.get('bytesToServer')} {tunnel.get('bytesToClient')} "
                       f"{tunnel.get('end')}")
    for line in problems:
        print(line, file=sys.stderr)
    sys.stdout.write("".join(line + "\n" for line in out))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
