#!/usr/bin/env python3
"""The EPICS example: every record's protocol, sent as an IOC would, to tovrikctl serve."""
import os
import re
import select
import socket
import subprocess
import sys
import tempfile
import unittest

EXAMPLE, EMU, CTL = sys.argv[1:4]
if not (os.access(EMU, os.X_OK) and os.access(CTL, os.X_OK)):
    print("tovrik-emu or tovrikctl is missing")
    sys.exit(77)

TOKEN = re.compile(r'#[^\n]*|"((?:[^"\\]|\\.)*)"|[{};=@]|[^\s{};=@#"]+')
# %(redirect)flags width.precision, then a conversion, an enum {a|b} or a set [...]
CONV = re.compile(r'%(?:\(([^)]*)\))?([-+ 0#*?=!]*)(\d*)(?:\.(\d+))?'
                  r'(?:\{([^}]*)\}|(\[\^?\]?[^\]]*\])|([a-zA-Z]))')
NUMBER = r'([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)'
ESCAPES = {"n": "\n", "r": "\r", "t": "\t"}


def unescape(text):
    return re.sub(r'\\(.)', lambda m: ESCAPES.get(m[1], m[1]), text)


def block(tokens):
    """Commands (name, joined strings), @handlers and variables up to the closing brace."""
    items, handlers, variables = [], {}, {}
    for token in tokens:
        word = token[0]
        if word == "}":
            break
        if word == "@":
            name = next(tokens)[0].lower()
            next(tokens)
            handlers[name] = block(tokens)[0]
            continue
        rest = []
        for end in tokens:
            if end[0] in ";{":
                break
            rest.append(end)
        if end[0] == "{":
            items.append((word.lower(), block(tokens)))
        elif rest and rest[0][0] == "=":
            variables[word.lower()] = " ".join(r[0] for r in rest[1:])
        else:
            items.append((word.lower(), "".join(r[1] for r in rest if r[1] is not None)))
    return items, handlers, variables


def parse_proto(text):
    tokens = iter([(m[0], m[1]) for m in TOKEN.finditer(text) if m[0][0] != "#"] + [("}", None)])
    items, _, variables = block(tokens)
    return {name: body for name, body in items}, variables


def expand(commands, protocols):
    """A protocol's name used as a command stands for that protocol's commands."""
    out = []
    for name, text in commands:
        out += expand(protocols[name][0], protocols) if name in protocols else [(name, text)]
    return out


def pieces(text):
    position = 0
    for m in CONV.finditer(text):
        yield unescape(text[position:m.start()]), m
        position = m.end()
    yield unescape(text[position:]), None


def format_out(text, value):
    line = ""
    for literal, m in pieces(text):
        line += literal
        if m and m[5] is not None:
            line += m[5].split("|")[int(value)]
        elif m:
            conversion = "%" + m[2] + m[3] + ("." + m[4] if m[4] else "")
            line += (conversion + ("d" if m[7] in "diu" else m[7])) % value
    return line


def read_in(text, line, extra_ignored):
    """The first value an in pattern takes from the line (an enum's index), or a failure."""
    regex, kinds = "", []
    for literal, m in pieces(text):
        regex += re.escape(literal)
        if not m:
            continue
        width = "{1,%s}" % m[3] if m[3] else "+"
        if m[5] is not None:
            kinds.append(m[5].split("|"))
            regex += "(" + "|".join(re.escape(c) for c in kinds[-1]) + ")"
        else:
            kinds.append(float if m[7] and m[7] in "diufeg" else str)
            regex += ("(" + unescape(m[6]) + width + ")" if m[6] else
                      "(.%s)" % width if m[7] == "c" else r"(\S+)" if m[7] == "s" else
                      r"([-+]?\d+)" if m[7] in "diu" else NUMBER)
    found = (re.match if extra_ignored else re.fullmatch)(regex, line)
    assert found, "%r does not match %r" % (line, text)
    if not kinds:
        return None
    return kinds[0].index(found[1]) if isinstance(kinds[0], list) else kinds[0](found[1])


def parse_db(text, macros):
    text = re.sub(r"\$\((\w+)\)", lambda m: macros[m[1]], text)
    return [(kind, name, dict(re.findall(r'field\((\w+),\s*"([^"]*)"\)', body)))
            for kind, name, body in re.findall(r'record\((\w+),\s*"([^"]+)"\)\s*\{(.*?)\}',
                                               text, re.S)]


def read(name):
    with open(os.path.join(EXAMPLE, name)) as f:
        return f.read()


def report(hz):
    w = int(hz * 4294967296 / 180e6 + 0.5)
    return "00 %s 01 00 00" % " ".join("%02X" % (w >> shift & 0xFF) for shift in (0, 8, 16, 24))


class Contract(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        st = read("st.cmd")
        cls.port = re.search(r'drvAsynIPPortConfigure\("(\w+)", *"[^"]+:5025"\)', st)[1]
        loaded = re.search(r'dbLoadRecords\("[^"]*tovrik\.db", *"([^"]*)"\)', st)[1]
        cls.macros = dict(pair.split("=", 1) for pair in loaded.split(","))
        cls.protocols, cls.variables = parse_proto(read("tovrik.proto"))
        cls.records = parse_db(read("tovrik.db"), cls.macros)
        cls.links = {name: re.fullmatch(r"@(\S+) (\w+)(?:\(([^)]*)\))? (\S+)",
                                        fields.get("INP", fields.get("OUT", "")))
                     for _, name, fields in cls.records if fields.get("DTYP") == "stream"}

    def test_records_name_protocols_that_exist(self):
        self.assertEqual(self.macros["PORT"], self.port, "st.cmd loads the records on another port")
        self.assertEqual(self.variables.get("terminator"), "LF", "the server ends lines with LF")
        names = {name for _, name, _ in self.records}
        for kind, name, fields in self.records:
            if name not in self.links:
                continue
            link = self.links[name]
            self.assertTrue(link and link[1] == "tovrik.proto" and link[4] == self.port, name)
            self.assertIn(link[2].lower(), self.protocols, name)
            args = link[3].split(",") if link[3] else []
            used = re.findall(r"\\\$(\d)", str(self.protocols[link[2].lower()]))
            self.assertLessEqual(max(map(int, used), default=0), len(args), name)
            self.assertTrue(set(args) <= names, "%s redirects to no record" % name)
            if kind in ("ao", "longout"):
                self.assertTrue({"DRVL", "DRVH"} <= fields.keys(), "%s has no limits" % name)

    def test_every_protocol_against_the_server(self):
        with tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, "log")
            server = subprocess.Popen([EMU, "--devices", "t", "--log", log, "--", CTL, "serve",
                                       "--listen", "127.0.0.1:0", "--no-vxi11"],
                                      stdout=subprocess.PIPE, text=True)
            try:
                ready, _, _ = select.select([server.stdout], [], [], 20)
                line = server.stdout.readline() if ready else ""
                self.assertTrue(line.startswith("listening on 127.0.0.1:"), line)
                port = int(line.split()[2].split(":")[1])
                with socket.create_connection(("127.0.0.1", port), timeout=5) as self.connection:
                    self.lines = self.connection.makefile("r", newline="\n")
                    frequency = self.process_records()
                with open(log) as f:
                    writes = [l.split(" write ")[1].strip() for l in f if " write " in l]
            finally:
                server.terminate()
                self.assertEqual(server.wait(20), 0)
                server.stdout.close()
        # After the abort the device is back at the frequency set, with the output on.
        self.assertEqual(writes[-1], report(frequency))

    def process_records(self):
        """As an IOC: every @init handler at start, then each record processed in turn, an
        output record with its drive limits and their middle, or with every enum choice."""
        streams = []
        for kind, name, fields in self.records:
            if name in self.links:
                link = self.links[name]
                body, handlers, variables = self.protocols[link[2].lower()]
                streams.append((kind, name, fields, expand(body, self.protocols),
                                expand(handlers.get("init", []), self.protocols),
                                link[3].split(",") if link[3] else [],
                                variables.get("extrainput", "").lower() == "ignore"))
        for *_, init, args, extra in streams:
            self.send(init, None, args, extra)
        for kind, name, fields, body, init, args, extra in streams:
            formats = [m for cmd, text in body if cmd == "out" for _, m in pieces(text) if m]
            values = [None]
            if formats and formats[0][5] is not None:
                values = range(len(formats[0][5].split("|")))
            elif formats:
                low, high = float(fields["DRVL"]), float(fields["DRVH"])
                middle = (low + high) / 2
                values = [low, high, round(middle) if kind == "longout" else middle]
            for value in values:
                self.send(body, value, args, extra)
                if value is not None and init:
                    self.assertAlmostEqual(self.send(init, None, args, extra), value, delta=0.05,
                                           msg="%s reads back otherwise" % name)
            if name == self.macros["P"] + "Freq":
                frequency = values[-1]
        return frequency

    def send(self, commands, value, args, extra_ignored):
        taken = None
        for cmd, text in commands:
            text = re.sub(r"\\\$(\d)", lambda m: args[int(m[1]) - 1], text)
            if cmd == "out":
                self.connection.sendall((format_out(text, value) + "\n").encode())
            elif cmd == "in":
                taken = read_in(text, self.lines.readline().rstrip("\n"), extra_ignored)
        self.connection.sendall(b"SYST:ERR?\n")
        self.assertEqual(self.lines.readline(), '0,"No error"\n', commands)
        return taken


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
