"""What the sync tests share: a program folder and its card file, vCard reading, and a Radicale
server on 127.0.0.1 (free port, storage in the test's temporary folder) spoken to over HTTP."""
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


def read_card_file(path):
    """The entries of a card file, five texts each as stored."""
    with open(path, "rb") as f:
        data = f.read()
    entries, at = [], 0
    while at + sum(WIDTHS) + len(WIDTHS) <= len(data):
        fields = []
        for width in WIDTHS:
            fields.append(data[at + 1:at + 1 + data[at]].decode("cp1252"))
            at += width + 1
        entries.append(tuple(fields))
    return entries


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
    """The N, TEL, NOTE, UID and EMAIL values of one vCard, unfolded and unescaped, its PHOTO
    lines as they are, and the text itself ("raw")."""
    card = {"tel": [], "note": "", "email": [], "photo": [], "uid": None, "raw": text}
    text = re.sub(r"\r?\n[ \t]", "", text)
    for line in text.splitlines():
        name, _, value = line.partition(":")
        prop = name.split(";")[0].split(".")[-1].upper()
        if prop in ("EMAIL", "UID"):
            card["email"].append(value) if prop == "EMAIL" else card.update(uid=value)
        elif prop == "PHOTO":
            card["photo"].append(line)
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
                    "[logging]\nlevel = info\n")  # a line per request
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

    def request(self, method, path, body=None, headers=None, want=None):
        """The answer's text; `want` (a status) makes it (text, ETag) and checks the status."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.request(method, path, body, {"Authorization": self.auth, **(headers or {})})
        response = connection.getresponse()
        data = response.read().decode("utf-8")
        connection.close()
        if response.status != (want or response.status) or response.status >= 300:
            sys.exit(f"FAIL: {method} {path}: {response.status} {data}")
        return (data, response.getheader("ETag")) if want else data

    def put(self, href, text, etag=None):
        """A phone's upload: a new contact (If-None-Match) or a change of the one it last read
        (If-Match). Returns the new ETag."""
        condition = {"If-Match": etag} if etag else {"If-None-Match": "*"}
        return self.request("PUT", href, text.encode("utf-8"),
                            {"Content-Type": "text/vcard; charset=utf-8", **condition},
                            want=201)[1]

    def delete(self, href, etag):
        self.request("DELETE", href, headers={"If-Match": etag}, want=200)

    def changes(self):
        """How many PUT and DELETE requests the server has logged."""
        self.log.flush()
        return len(re.findall(r"\] (PUT|DELETE) request", open(self.log.name).read()))

    def vdirsyncer_config(self, tmp, folder, resolution, path=None):
        """A vdirsyncer configuration (at `path`, else in tmp) of the pair "meridoc": the folder
        and this server's address book, a conflict resolved by `resolution`."""
        path = path or os.path.join(tmp, "vdirsyncer.conf")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(f"""[general]
status_path = "{tmp}/vdirsyncer-status/"

[pair meridoc]
a = "meridoc_folder"
b = "meridoc_server"
collections = null
conflict_resolution = {resolution}

[storage meridoc_folder]
type = "filesystem"
path = "{folder}/"
fileext = ".vcf"

[storage meridoc_server]
type = "carddav"
url = "{self.url()}"
username = "{USER}"
password = "{PASSWORD}"
""")
        return path

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


def main(modes):
    """Runs the test named by the first argument on the meridoc-cards of the second, in a
    temporary folder that is also HOME. Exits 77 (skipped) when meridoc-cards is not built."""
    mode, cards = sys.argv[1], sys.argv[2]
    if not (cards and os.access(cards, os.X_OK)):
        print(f"meridoc-cards is not built ({cards or 'no path'}): skipped")
        return SKIPPED
    tmp = tempfile.mkdtemp(prefix="meridoc-sync-")
    try:
        os.environ["HOME"] = os.path.join(tmp, "home")
        for name in "XDG_CONFIG_HOME", "XDG_DATA_HOME", "VDIRSYNCER_CONFIG":
            os.environ.pop(name, None)
        modes[mode](tmp, os.path.abspath(cards))
    except AssertionError as e:
        sys.exit(f"FAIL: {e}")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return 0
