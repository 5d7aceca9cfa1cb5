#!/usr/bin/python3
"""The sync folder of `meridoc-cards export --folder` read by other programs.

    sync_test.py server MERIDOC_CARDS   a Radicale server filled and updated through vdirsyncer
    sync_test.py khard MERIDOC_CARDS    khard reading the sync folder as an address book

Everything lives in a temporary folder (HOME included) and the server is stopped at the end.
Exits 77 (skipped) when meridoc-cards is not built.
"""
import base64
import http.client
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

SKIPPED = 77
WIDTHS = (20, 20, 20, 20, 50)  # NAME, SURNAME, PHONE1, PHONE2, COMMENTS
USER, PASSWORD = "meridoc", "secret"
GIVEN = ["Anna", "José ", "Zoë", "Jean-Luc", "Mary Ann", "Maximilian-Alexander"]
NOTES = ["", "PC Sales, Repair; Upgrade", "Back\\slash and 50% off", "Café crème – déjà vu",
         "x" * 50, "  padded comment  "]


def entry(i):
    """The i-th entry of the test card file: five texts as stored (not trimmed)."""
    phone2 = "" if i % 3 == 0 else f"+1 000 555 {i:04d}"
    return (GIVEN[i % len(GIVEN)], f"Surname{i:03d}", f"(000)555-{i:04d}", phone2,
            NOTES[i % len(NOTES)])


def write_card_file(path, entries):
    """135-byte records: per field a length byte and the field's Windows-1252 bytes."""
    with open(path, "wb") as f:
        for fields in entries:
            for text, width in zip(fields, WIDTHS):
                raw = text.encode("cp1252")
                assert len(raw) <= width, text
                f.write(bytes([len(raw)]) + raw + b"\0" * (width - len(raw)))


def run(args, **kw):
    done = subprocess.run(args, capture_output=True, text=True, **kw)
    if done.returncode != 0:
        sys.exit(f"FAIL: {' '.join(map(str, args))} exited {done.returncode}\n"
                 f"{done.stdout}{done.stderr}")
    return done.stdout


class Folder:
    """A program folder with the card file "home.crd" and its sync folder."""

    def __init__(self, tmp, cards):
        self.cards = cards
        self.program = os.path.join(tmp, "program")
        self.sync = os.path.join(tmp, "sync")
        os.makedirs(self.program)
        with open(os.path.join(self.program, "meridoc.ini"), "wb") as f:
            f.write(b"[filenames]\r\nextention=crd\r\ndefaultfile=home\r\n")
        # An extra text for the first entry: it becomes the second part of its note.
        with open(os.path.join(self.program, "AnnaSurname000"), "wb") as f:
            f.write(b"{\\rtf1\\ansi Met at the fair.}")

    def export(self, entries):
        write_card_file(os.path.join(self.program, "home.crd"), entries)
        run([self.cards, "--dir", self.program, "--card-file", "home", "export", "--folder",
             self.sync])


def unescape(value):
    return re.sub(r"\\(.)", lambda m: "\n" if m.group(1) in "nN" else m.group(1), value)


def parse_vcard(text):
    """The N, TEL and NOTE values of one vCard, unfolded and unescaped."""
    text = re.sub(r"\r?\n[ \t]", "", text)
    card = {"tel": [], "note": ""}
    for line in text.splitlines():
        name, _, value = line.partition(":")
        prop = name.split(";")[0].split(".")[-1].upper()
        if prop == "N":
            parts = re.split(r"(?<!\\);", value)
            card["n"] = (unescape(parts[1]), unescape(parts[0]))  # given, family
        elif prop == "TEL":
            card["tel"].append(unescape(value))
        elif prop == "NOTE":
            card["note"] = unescape(value)
    return card


def expected(fields):
    name, surname, phone1, phone2, _ = (f.strip() for f in fields)
    return {"n": (name, surname), "tel": [p for p in (phone1, phone2) if p]}


# --- the CardDAV server ---------------------------------------------------------------------


class Server:
    def __init__(self, tmp):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        config = os.path.join(tmp, "radicale.conf")
        with open(config, "w") as f:
            f.write(f"[server]\nhosts = 127.0.0.1:{self.port}\n"
                    "[auth]\ntype = none\n[rights]\ntype = owner_only\n"
                    f"[storage]\nfilesystem_folder = {tmp}/storage\n"
                    "[logging]\nlevel = warning\n")
        self.log = open(os.path.join(tmp, "radicale.log"), "w")
        self.process = subprocess.Popen(["radicale", "--config", config], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.auth = "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
        self.collection = f"/{USER}/contacts/"
        deadline = time.monotonic() + 20
        while True:
            if self.process.poll() is not None:
                sys.exit(f"FAIL: radicale ended at start:\n{open(self.log.name).read()}")
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    sys.exit("FAIL: radicale did not start listening")
                time.sleep(0.1)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()

    def url(self):
        return f"http://127.0.0.1:{self.port}{self.collection}"

    def request(self, method, path, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.request(method, path, body, {"Authorization": self.auth, **(headers or {})})
        response = connection.getresponse()
        data = response.read().decode("utf-8")
        connection.close()
        if response.status >= 300:
            sys.exit(f"FAIL: {method} {path}: {response.status} {data}")
        return data

    def make_address_book(self):
        self.request("MKCOL", self.collection, """<?xml version="1.0" encoding="utf-8"?>
<D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav"><D:set><D:prop>
<D:resourcetype><D:collection/><C:addressbook/></D:resourcetype>
<D:displayname>MERIDOC</D:displayname></D:prop></D:set></D:mkcol>""")

    def contacts(self):
        """href -> (ETag, parsed vCard) of every contact in the address book."""
        answer = self.request("PROPFIND", self.collection,
                              '<?xml version="1.0" encoding="utf-8"?><D:propfind xmlns:D="DAV:">'
                              "<D:prop><D:getetag/></D:prop></D:propfind>", {"Depth": "1"})
        found = {}
        for response in ET.fromstring(answer).iter("{DAV:}response"):
            href = response.findtext("{DAV:}href")
            etag = response.findtext(".//{DAV:}getetag")
            if href.rstrip("/") != self.collection.rstrip("/"):
                found[href] = (etag, parse_vcard(self.request("GET", href)))
        return found


def by_name(contacts):
    named = {}
    for etag, card in contacts.values():
        assert card["n"] not in named, f"twice on the server: {card['n']}"
        named[card["n"]] = (etag, card)
    return named


def check_server(contacts, entries):
    named = by_name(contacts)
    assert len(contacts) == len(entries), f"{len(contacts)} contacts, {len(entries)} expected"
    for fields in entries:
        want = expected(fields)
        assert want["n"] in named, f"missing on the server: {want['n']}"
        got = named[want["n"]][1]
        assert got["tel"] == want["tel"], f"{want['n']}: phones {got['tel']} != {want['tel']}"
    return named


def test_server(tmp, folder):
    server = Server(tmp)
    try:
        server.make_address_book()
        config = os.path.join(tmp, "vdirsyncer.conf")
        with open(config, "w") as f:
            f.write(f"""[general]
status_path = "{tmp}/vdirsyncer-status/"

[pair meridoc]
a = "meridoc_folder"
b = "meridoc_server"
collections = null
conflict_resolution = "a wins"

[storage meridoc_folder]
type = "filesystem"
path = "{folder.sync}/"
fileext = ".vcf"

[storage meridoc_server]
type = "carddav"
url = "{server.url()}"
username = "{USER}"
password = "{PASSWORD}"
""")
        sync = ["vdirsyncer", "--config", config]
        entries = [entry(i) for i in range(200)]
        folder.export(entries)
        run(sync + ["discover"], input="y\n" * 10)
        run(sync + ["sync"])
        before = check_server(server.contacts(), entries)

        # One phone changed, one entry deleted: after the next export and sync the server holds
        # exactly that change, and every other contact is the one it held before.
        changed, deleted = entries[17], entries[42]
        entries[17] = changed[:2] + ("(000)555-9999",) + changed[3:]
        del entries[42]
        folder.export(entries)
        run(sync + ["sync"])
        after = check_server(server.contacts(), entries)
        assert expected(deleted)["n"] not in after
        assert after[expected(changed)["n"]][1]["tel"][0] == "(000)555-9999"
        untouched = [n for n in after if n != expected(changed)["n"]]
        assert all(after[n][0] == before[n][0] for n in untouched), "an unchanged contact changed"
        assert len(untouched) == 198
    finally:
        server.stop()
    print("sync through vdirsyncer to Radicale: ok")


# --- khard on the sync folder ---------------------------------------------------------------


def test_khard(tmp, folder):
    config = os.path.join(tmp, "khard.conf")
    with open(config, "w") as f:
        f.write(f"[addressbooks]\n[[meridoc]]\npath = {folder.sync}/\n"
                "[general]\neditor = /bin/false\nmerge_editor = /bin/false\n"
                "[vcard]\nskip_unparsable = no\n")
    entries = [entry(i) for i in range(60)]
    folder.export(entries)
    khard = ["khard", "--config", config]
    # Names and phones of all entries: one line per phone, "number<TAB>name<TAB>type".
    phones = {}
    for line in run(khard + ["phone", "--parsable"]).splitlines():
        number, name, _ = line.split("\t")
        phones.setdefault(name, []).append(number)
    for fields in entries:
        want = expected(fields)
        full = " ".join(want["n"])
        assert sorted(phones.get(full, [])) == sorted(want["tel"]), f"{full}: {phones.get(full)}"
    # Notes of one entry of each kind, and the one with an extra text.
    for i in range(len(NOTES)):
        name, surname, *_ = (f.strip() for f in entries[i])
        shown = run(khard + ["show", "--format", "yaml", f"{name} {surname}"])
        note = "\n".join(p for p in (NOTES[i].strip(), "Met at the fair." if i == 0 else "") if p)
        got = parse_yaml_note(shown)
        assert got == note, f"{name} {surname}: note {got!r} != {note!r}"
    print("khard reading the sync folder: ok")


def parse_yaml_note(text):
    """The Note of khard's YAML template, read with the YAML library khard itself uses."""
    from ruamel.yaml import YAML
    note = YAML(typ="safe").load(text).get("Note")
    return "\n".join(note) if isinstance(note, list) else note or ""


def main():
    mode, cards = sys.argv[1], sys.argv[2]
    if not (cards and os.access(cards, os.X_OK)):
        print(f"meridoc-cards is not built ({cards or 'no path'}): skipped")
        return SKIPPED
    tmp = tempfile.mkdtemp(prefix="meridoc-sync-")
    try:
        os.environ["HOME"] = os.path.join(tmp, "home")
        os.environ.pop("XDG_CONFIG_HOME", None)
        os.environ.pop("XDG_DATA_HOME", None)
        {"server": test_server, "khard": test_khard}[mode](tmp, Folder(tmp, cards))
    except AssertionError as e:
        sys.exit(f"FAIL: {e}")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
