#!/usr/bin/python3
"""`meridoc-cards sync`: a card file and a sync folder kept in agreement both ways.

    twoway_test.py table MERIDOC_CARDS   scenario rows against Radicale through vdirsyncer, with a
                                         phone played by conditional PUT and DELETE requests
    twoway_test.py kill MERIDOC_CARDS    rounds killed at random moments converge at the next
"""
import base64
import glob
import os
import random
import re
import signal
import subprocess
import sys
import time
import uuid

from syncsupport import Folder, Server, main, parse_vcard, read_card_file, write_card_file

PEOPLE = ["Anna Adams", "Ben Brown", "Cleo Clark", "Dan Dunn", "Eve Evans", "Finn Ford",
          "Gus Green", "Hal Hill", "Ivy Irwin", "Jon Jones"]
START = [(*p.split(), f"(000)555-{i:04d}", f"+1 000 555 {i:04d}" if i % 2 else "", f"comment {i}")
         for i, p in enumerate(PEOPLE)]
LONG = "Bartholomew-Maximilian Johanne"  # 30 characters: the record holds 20
JPEG = base64.b64encode(b"\xff\xd8\xff\xe0" + bytes(96) + b"\xff\xd9").decode()


def vcard(given, family, *tels, uid=None, kind=";TYPE=CELL", version="3.0", extra=()):
    """A phone's new contact."""
    lines = ["BEGIN:VCARD", f"VERSION:{version}", f"UID:{uid or 'urn:uuid:' + str(uuid.uuid4())}",
             f"FN:{given} {family}", f"N:{family};{given};;;", *extra]
    return "\r\n".join(lines + [f"TEL{kind}:{t}" for t in tels] + ["END:VCARD", ""])


def unfolded(raw):
    return re.sub(r"\r?\n[ \t]", "", raw).splitlines()


def vset(prop, value):
    """A change of a vCard's text: the value of its first PROP line, or a new line."""
    def change(raw):
        lines = unfolded(raw)
        hits = [k for k, line in enumerate(lines) if re.match(rf"(\w+\.)?{prop}[;:]", line, re.I)]
        if hits:
            lines[hits[0]] = lines[hits[0]].split(":")[0] + ":" + value
        else:
            lines.insert(len(lines) - 1, f"{prop}:{value}")
        return "\r\n".join(lines) + "\r\n"
    return change


def replaced(fields, at, value):
    return fields[:at] + (value,) + fields[at + 1:]


def write_atomically(path, text):
    with open(os.path.join(os.path.dirname(path), ".phone.tmp"), "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(f.name, path)


def snapshot(*tops):
    """Bytes, mode and time of each file under the given files and folders."""
    paths = [p for top in tops
             for p in [top, *glob.glob(f"{top}/**", recursive=True, include_hidden=True)]]
    return {p: (open(p, "rb").read(), os.stat(p).st_mode, os.stat(p).st_mtime_ns)
            for p in paths if os.path.isfile(p)}


class Sides:
    """A program folder with the card file "home.crd", its sync folder and, for the table, the
    Radicale server the folder is synced with."""

    def __init__(self, tmp, cards):
        self.tmp, self.cards = tmp, cards
        self.folder = Folder(tmp, cards)
        self.sync_dir = self.folder.sync
        self.crd = os.path.join(self.folder.program, "home.crd")
        self.server = None

    def run(self, *args, code=0, path=None, here=True):
        """meridoc-cards ARGS (on the program folder when `here`): its stdout, checked exit."""
        env = dict(os.environ, PATH=path or os.environ["PATH"])
        where = ["--dir", self.folder.program] if here else []
        done = subprocess.run([self.cards, *where, *args], capture_output=True, text=True,
                              env=env, timeout=120, stdin=subprocess.DEVNULL)
        assert done.returncode == code, (f"meridoc-cards {' '.join(args)} exited {done.returncode}"
                                         f", not {code}:\n{done.stdout}{done.stderr}")
        self.stderr = done.stderr
        return done.stdout

    def sync(self, *args, code=0, path=None):
        """A plain round, on the settings the first one remembered."""
        return self.run("sync", *args, code=code, path=path, here=False)

    def entries(self):
        """NAME SURNAME -> the five fields of `meridoc-cards list`; no name twice."""
        rows = [tuple(line.split("\t")) for line in self.run("list").splitlines()]
        named = {f"{r[0].strip()} {r[1].strip()}": r for r in rows}
        assert len(named) == len(rows), f"an entry twice: {sorted(rows)}"
        return named

    def edit(self, person, field=None, value=None, add=None):
        """The card file changed by hand: a field of a person, the person removed, or one added."""
        entries = [e for e in read_card_file(self.crd)
                   if field is not None or f"{e[0]} {e[1]}" != person]
        entries = [replaced(e, field, value) if f"{e[0]} {e[1]}" == person else e
                   for e in entries] + ([add] if add else [])
        write_card_file(self.crd, entries)

    def files(self):
        """The sync folder's vCards, parsed; every one has a UID, no UID twice."""
        cards = [parse_vcard(open(p, encoding="utf-8").read())
                 for p in glob.glob(os.path.join(self.sync_dir, "*.vcf"))]
        uids = [c["uid"] for c in cards]
        assert None not in uids and len(set(uids)) == len(uids), f"UIDs in the folder: {uids}"
        return cards

    def contacts(self):
        """"GIVEN FAMILY" -> (href, ETag, card) of the server's contacts; no name twice."""
        found = [(" ".join(c["n"]), (h, e, c)) for h, (e, c) in self.server.contacts().items()]
        assert len(dict(found)) == len(found), f"a name twice: {sorted(n for n, _ in found)}"
        return dict(found)

    def phone(self, person, change):
        """The phone changes the contact it last read; None deletes it."""
        href, etag, card = self.contacts()[person]
        if change:
            return self.server.put(href, change(card["raw"]), etag)
        self.server.delete(href, etag)

    def removed(self, text):
        """The newest file of removed entries that holds `text`."""
        for path in sorted(glob.glob(f"{self.sync_dir}/.meridoc-sync/removed-*.vcf"))[::-1]:
            if text in open(path, encoding="utf-8").read():
                return path
        raise AssertionError(f"no removed-*.vcf holds {text}")

    def agree(self):
        """Card file, folder and server hold the same number of contacts, none twice."""
        counts = len(self.entries()), len(self.files()), len(self.contacts())
        assert len(set(counts)) == 1, f"entries, folder files, server contacts: {counts}"


# --- the scenario table: rows run in order on one server and one folder ----------------------


def same_contact(before, after, *keys):
    """The server's contact (href, ETag, card) kept its file, UID and the given properties."""
    lost = [key for key in ("uid", *keys) if after[2][key] != before[2][key]]
    assert after[0] == before[0] and not lost, f"{before[0]} as {after[0]} lost {lost}: {after}"


def phone_adds(t):
    href, uid = f"{t.server.collection}{uuid.uuid4().hex[:12]}.vcf", f"urn:uuid:{uuid.uuid4()}"
    t.server.put(href, vcard("Pia", "Phone", "+1 000 555 7001", uid=uid))
    t.sync()
    assert t.entries()["Pia Phone"][2:4] == ("+1 000 555 7001", ""), t.entries()["Pia Phone"]
    got = t.contacts()["Pia Phone"]
    assert (got[0], got[2]["uid"]) == (href, uid), f"moved or renamed: {got[:2]} {got[2]['uid']}"


def phone_edits(t):
    t.phone("Ben Brown", vset("TEL", "+1 000 555 7002"))
    t.sync()
    assert t.entries()["Ben Brown"][2] == "+1 000 555 7002", t.entries()["Ben Brown"]


def phone_deletes(t):
    t.phone("Cleo Clark", None)
    t.sync()
    assert "Cleo Clark" not in t.entries() and "Cleo Clark" not in t.contacts()
    t.run("import", t.removed("Clark"))
    assert t.entries()["Cleo Clark"] == START[2], t.entries()["Cleo Clark"]
    t.sync()
    assert t.contacts()["Cleo Clark"][2]["tel"][0] == START[2][2]


def meridoc_adds(t):
    t.edit(None, add=("Max", "Meyer", "(000)555-8001", "", "added here"))
    t.sync()
    card = t.contacts()["Max Meyer"][2]
    assert (card["tel"], card["note"]) == (["(000)555-8001"], "added here"), card["raw"]
    assert os.path.exists(f"{t.sync_dir}/{card['uid']}.vcf"), f"no file {card['uid']}.vcf"


def meridoc_edits(t):
    before = t.contacts()["Dan Dunn"]
    t.edit("Dan Dunn", 4, "changed here")
    t.sync()
    after = t.contacts()["Dan Dunn"]
    assert after[2]["note"] == "changed here", after[2]["raw"]
    same_contact(before, after)


def meridoc_deletes(t):
    t.edit("Eve Evans")
    t.sync()
    assert "Eve Evans" not in t.contacts()
    t.removed("Evans")


def phone_keeps_email_and_photo(t):
    raw = t.contacts()["Finn Ford"][2]["raw"]
    photo = (vset("PHOTO;ENCODING=b;TYPE=JPEG", JPEG) if "VERSION:3.0" in raw
             else vset("PHOTO", "https://example.org/finn.jpg"))  # 4.0 inline data is dropped
    t.phone("Finn Ford", lambda raw: photo(vset("EMAIL;TYPE=WORK", "finn@example.org")(vset(
        "X-PHONE-APP", "42")(re.sub(r"^(\w+\.)?TEL[^:]*:", "item1.TEL;TYPE=CELL:", raw, 1, re.M)))))
    t.sync()
    before = t.contacts()["Finn Ford"]
    assert before[2]["photo"] and before[2]["email"] == ["finn@example.org"], before[2]["raw"]
    t.edit("Finn Ford", 2, "(000)555-9005")
    t.sync()
    after = t.contacts()["Finn Ford"]
    same_contact(before, after, "email", "photo")
    lost = {"item1.TEL;TYPE=CELL:(000)555-9005", "X-PHONE-APP:42"} - set(unfolded(after[2]["raw"]))
    assert not lost, f"lost {lost}: {after[2]['raw']}"


def restore_keeps_photo_and_uid(t):
    # Deleted in MERIDOC, then on the phone: each time restored as the phone had it.
    before = t.contacts()["Finn Ford"]
    for delete in lambda: t.edit("Finn Ford"), lambda: t.phone("Finn Ford", None):
        delete()
        t.sync()
        assert "Finn Ford" not in t.contacts() and "Finn Ford" not in t.entries()
        path = t.removed("Ford")
        t.run("restore", path)
        assert "already there" in t.run("restore", path), "restored twice"
        t.sync()
        after = t.contacts()["Finn Ford"]
        kept = [after[2][key] == before[2][key] for key in ("uid", "photo", "email")]
        assert all(kept) and t.entries()["Finn Ford"][2] == "(000)555-9005", after[2]["raw"]
        assert t.sync() == "", "the round after a restore changed something"


def both_edit_other_fields(t):
    t.phone("Gus Green", vset("TEL", "+1 000 555 7006"))
    t.edit("Gus Green", 4, "changed here")
    assert "conflict" not in t.sync()
    assert t.entries()["Gus Green"][2::2] == ("+1 000 555 7006", "changed here")
    card = t.contacts()["Gus Green"][2]
    assert (card["tel"][0], card["note"]) == ("+1 000 555 7006", "changed here"), card["raw"]


def both_edit_one_field(t):
    t.phone("Hal Hill", vset("TEL", "+1 000 555 7007"))
    t.edit("Hal Hill", 2, "(000)555-9007")
    t.phone("Jon Jones", vset("NOTE", "phone note"))
    t.edit("Jon Jones", 4, "meridoc note")
    assert "conflict" in t.sync(), "the report names no conflict"
    entries, contacts = t.entries(), t.contacts()
    assert entries["Hal Hill"][2] == "(000)555-9007" and entries["Jon Jones"][4] == "meridoc note"
    hal, jon = contacts["Hal Hill"][2], contacts["Jon Jones"][2]
    assert "+1 000 555 7007" in hal["tel"], hal["raw"]
    assert hal["tel"][0] == "(000)555-9007", f"the first TEL is not the card file's: {hal['raw']}"
    assert jon["note"].startswith("meridoc note") and "phone note" in jon["note"], jon["raw"]
    assert "Sync conflict" in hal["note"] and "Sync conflict" in jon["note"], hal["note"]
    assert '"+1 000 555 7007" on the phone/server' in hal["note"], hal["note"]


def delete_against_edit(t):
    t.phone("Anna Adams", None)
    t.edit("Anna Adams", 2, "(000)555-9000")
    t.phone("Ben Brown", vset("TEL", "+1 000 555 7102"))
    t.edit("Ben Brown")
    t.sync()
    entries, contacts = t.entries(), t.contacts()
    assert entries["Anna Adams"][2] == contacts["Anna Adams"][2]["tel"][0] == "(000)555-9000"
    assert entries["Ben Brown"][2] == contacts["Ben Brown"][2]["tel"][0] == "+1 000 555 7102"


def long_and_foreign_names(t):
    # A 3.0 phone's long name, and a 4.0 phone's 王小明 with a tel: URI, an e-mail and a photo
    # link (Radicale 3.1 drops a 4.0 photo's inline data).
    t.server.put(f"{t.server.collection}{uuid.uuid4().hex[:12]}.vcf", vcard(LONG, "Long", "1"))
    t.server.put(f"{t.server.collection}{uuid.uuid4().hex[:12]}.vcf",
                 vcard("小明", "王", "tel:+86-10-1234", kind=";VALUE=uri;TYPE=cell", version="4.0",
                       extra=["EMAIL:w@example.cn", "PHOTO:https://example.org/w.jpg"]))
    t.sync()
    entries, before = t.entries(), t.contacts()
    assert entries["Bartholomew-Maximili Long"][2] == "1", entries
    assert re.sub(r"\D", "", entries["Xiao Ming Wang"][2]) == "86101234", entries["Xiao Ming Wang"]
    assert {f"{LONG} Long", "小明 王"} <= set(before), f"names rewritten: {sorted(before)}"
    assert t.sync() == "", "the next round changed something"
    t.edit("Xiao Ming Wang", 2, "+86 10 9999")
    t.edit("Bartholomew-Maximili Long", 2, "2")
    t.sync()
    after = t.contacts()
    for name in f"{LONG} Long", "小明 王":
        same_contact(before[name], after[name], "email", "photo", "n")
    assert after[f"{LONG} Long"][2]["tel"] == ["2"], after[f"{LONG} Long"][2]["raw"]


def phone_number_stays_a_uri(t):
    # The 4.0 card of the row before: its TEL is a tel: URI, and so stays after MERIDOC's change.
    tel = [line for line in unfolded(t.contacts()["小明 王"][2]["raw"]) if re.match("TEL[;:]", line)]
    params, value = tel[0].split(":", 1)
    assert re.sub(r"\D", "", value) == "86109999", tel
    assert "VALUE=URI" not in params.upper() or re.fullmatch(r"tel:[+\d().-]+", value), tel


def fake_vdirsyncer(t, name, body):
    """A folder holding a vdirsyncer script that runs `body`; its PATH."""
    bin_dir = os.path.join(t.tmp, name)
    os.makedirs(bin_dir, exist_ok=True)
    with open(os.path.join(bin_dir, "vdirsyncer"), "w") as f:
        f.write("#!/usr/bin/python3\nimport http.client, os, sys, time\n" + body)
    os.chmod(f.name, 0o755)
    return f"{bin_dir}:{os.environ['PATH']}"


def put_between_pull_and_push(t):
    href, etag, card = t.contacts()["Ivy Irwin"]
    calls = os.path.join(t.tmp, "vdirsyncer-calls")
    path = fake_vdirsyncer(t, "bin", f"""calls = (int(open({calls!r}).read()) if os.path.exists({calls!r}) else 0) + ("sync" in sys.argv)
open({calls!r}, "w").write(str(calls))
if "sync" in sys.argv and calls == 2:
    c = http.client.HTTPConnection("127.0.0.1", {t.server.port})
    c.request("PUT", {href!r}, {vset("NOTE", "phone note")(card["raw"]).encode()!r},
              {{"If-Match": {etag!r}, "Authorization": {t.server.auth!r}}})
    assert c.getresponse().status == 201
os.execv("/usr/bin/vdirsyncer", ["vdirsyncer"] + sys.argv[1:])
""")
    t.edit("Ivy Irwin", 2, "(000)555-9008")
    t.sync(path=path)
    assert open(calls).read() == "2", f"vdirsyncer synced {open(calls).read()} times"
    card = t.contacts()["Ivy Irwin"][2]
    assert (card["tel"][0], card["note"]) == ("(000)555-9008", "phone note"), card["raw"]
    t.sync()
    assert t.entries()["Ivy Irwin"][2::2] == ("(000)555-9008", "phone note")


def two_of_one_name(t):
    # Two "Anna Smith" from one CSV: the phone changes the work one's e-mail, MERIDOC the home
    # one's comment; each card keeps its own e-mail. Both go at the end (the table knows a name
    # once).
    csv = os.path.join(t.tmp, "annas.csv")
    with open(csv, "w", encoding="utf-8") as f:
        f.write("First Name,Last Name,E-mail 1 - Value,Phone 1 - Value,Organization Name\r\n"
                "Anna,Smith,anna.smith@example.com,555-0401,\r\n"
                "Anna,Smith,asmith@corp.example.com,555-0402,Corp Inc\r\n")
    t.run("import", csv)
    try:
        t.sync()
        work = [(h, e, c) for h, (e, c) in t.server.contacts().items() if "555-0402" in c["tel"]]
        t.server.put(work[0][0], work[0][2]["raw"].replace("asmith@corp", "anna.s@corp"),
                     work[0][1])
        write_card_file(t.crd, [replaced(e, 4, "home") if e[2] == "555-0401" else e
                                for e in read_card_file(t.crd)])
        t.sync()
        cards = {c["tel"][0]: c for _, c in t.server.contacts().values() if c["n"][1] == "Smith"}
        home, work = cards["555-0401"], cards["555-0402"]
        assert (home["email"], home["note"]) == (["anna.smith@example.com"], "home"), home["raw"]
        assert work["email"] == ["anna.s@corp.example.com"], work["raw"]
        assert t.sync() == "", "the next round changed something"
    finally:
        write_card_file(t.crd, [e for e in read_card_file(t.crd) if e[1] != "Smith"])
        t.sync()


def phone_renames_cyrillic(t):
    t.server.put(f"{t.server.collection}{uuid.uuid4().hex[:12]}.vcf",
                 vcard("Ирина", "Петрова", "+7 000 555 0501"))
    t.sync()
    t.phone("Ирина Петрова", lambda raw: raw.replace("Петрова", "Петрова-Смирнова"))
    t.sync()
    assert "Irina Petrova-Smirnova" in t.entries(), sorted(t.entries())
    card = t.contacts()["Ирина Петрова-Смирнова"][2]
    assert "FN:Ирина Петрова-Смирнова" in unfolded(card["raw"]), card["raw"]
    assert t.sync() == "", "the next round changed something"


def meridoc_renames_with_photo(t):
    before = t.contacts()["Finn Ford"]  # the phone gave it an e-mail and a photo
    for old, new in ("Finn", "Finnegan"), ("Finnegan", "Finn"):  # and back, for the rows after
        t.edit(f"{old} Ford", 0, new)
        t.sync()
        same_contact(before, t.contacts()[f"{new} Ford"], "email", "photo")


def phone_changes_uid(t):
    # The phone removes the contact and adds it again under a new UID while MERIDOC changes it.
    href, etag, card = t.contacts()["Gus Green"]
    t.server.delete(href, etag)
    t.server.put(f"{t.server.collection}{uuid.uuid4().hex[:12]}.vcf",
                 re.sub(r"UID:.*", f"UID:urn:uuid:{uuid.uuid4()}", card["raw"]))
    t.edit("Gus Green", 4, "after the new UID")
    t.sync()
    assert t.entries()["Gus Green"][4] == "after the new UID", t.entries()["Gus Green"]
    assert t.contacts()["Gus Green"][2]["note"] == "after the new UID"
    assert t.sync() == "", "the rounds do not settle"


def phone2_only(t):
    t.edit(None, add=("Pat", "Second", "", "555-0601", ""))
    t.sync()
    t.phone("Pat Second", vset("NOTE", "phone note"))
    t.sync()
    assert t.entries()["Pat Second"][2:] == ("", "555-0601", "phone note"), t.entries()


def two_rounds_no_change(t):
    before, changes = snapshot(t.crd, t.sync_dir), t.server.changes()
    report = t.sync() + t.sync()
    assert report == "", f"rounds without changes reported:\n{report}"
    assert t.server.changes() == changes, "a round without changes wrote to the server"
    after = snapshot(t.crd, t.sync_dir)
    assert after == before, f"rewritten: {[p for p in after if after[p] != before.get(p)]}"


def import_while_vdirsyncer_talks(t):
    # The pull waits until the test says go: an import into the program folder meanwhile ends.
    waiting, go, late = (os.path.join(t.tmp, f"slow-{n}") for n in ("waiting", "go", "late"))
    path = fake_vdirsyncer(t, "slow", f"""if not os.path.exists({waiting!r}):
    open({waiting!r}, "w").close()
    for _ in range(600):
        if os.path.exists({go!r}):
            sys.exit(0)
        time.sleep(0.1)
    open({late!r}, "w").close()
""")
    card = os.path.join(t.tmp, "olga.vcf")
    open(card, "w").write(vcard("Olga", "Slow", "+1 000 555 7010"))
    round_ = subprocess.Popen([t.cards, "sync"], env=dict(os.environ, PATH=path),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(600):
        if os.path.exists(waiting) or round_.poll() is not None:
            break
        time.sleep(0.1)
    t.run("import", card)
    assert not os.path.exists(late) and round_.poll() is None, "the import waited for the round"
    open(go, "w").close()
    assert round_.wait(120) == 0, "the round failed"
    t.sync()
    assert "Olga Slow" in t.contacts() and "Olga Slow" in t.entries()


def vdirsyncer_over_time_limit(t):
    pid = os.path.join(t.tmp, "stalled-pid")
    path = fake_vdirsyncer(t, "stalled", f"""open({pid!r}, "w").write(str(os.getpid()))
time.sleep(120)
""")
    entries, conf = t.entries(), os.path.join(os.environ["HOME"], ".config/meridoc/sync.conf")
    open(conf, "a").write("vdirsyncer-timeout=1\n")
    t.sync(code=1, path=path)
    assert "was stopped" in t.stderr and t.entries() == entries, t.stderr
    try:  # (no file: stopped before it wrote one)
        os.kill(int(open(pid).read()), 0)
        raise AssertionError("vdirsyncer still runs")
    except (ProcessLookupError, FileNotFoundError, ValueError):
        pass
    t.sync("--vdirsyncer-timeout", "300")  # the limit of this round; the remembered one stays
    kept = open(conf).read()
    open(conf, "w").write(kept.replace("vdirsyncer-timeout=1\n", ""))
    assert "vdirsyncer-timeout=1\n" in kept, kept


def mass_deletion_ways_back(t):
    # Every contact deleted on the phone: put back as they were, photo and UID included.
    before = t.contacts()
    for person in before:
        t.phone(person, None)
    t.sync(code=1)
    assert "--force-delete" in t.stderr and "--restore-server" in t.stderr, t.stderr
    t.sync("--restore-server")
    after = t.contacts()
    changed = [n for n in before if after.get(n, (0, 0, {}))[2].get("uid") != before[n][2]["uid"]]
    assert not changed and after["Finn Ford"][2]["photo"] == before["Finn Ford"][2]["photo"]
    assert t.sync() == "", "the round after the restore changed something"
    # Most deleted on the phone, and the deletion accepted.
    gone = sorted(before)[:len(before) // 2 + 1]
    for person in gone:
        t.phone(person, None)
    t.sync(code=1)
    assert "--restore-server" in t.stderr, t.stderr
    t.sync("--force-delete")
    assert not set(gone) & set(t.entries()) and t.sync() == ""


def removals_on_both_sides(t):
    # Each side's removals would pass alone; together they are most of the contacts.
    common = sorted(set(t.entries()) & set(t.contacts()))
    k = len(t.entries()) // 4 + 1
    assert 3 * k <= len(t.entries()) and 2 * k <= len(common), "too few contacts for the row"
    for person in common[:k]:
        t.phone(person, None)
    for person in common[k:2 * k]:
        t.edit(person)
    entries = t.entries()
    t.sync(code=1)
    assert f"would remove {2 * k} of the" in t.stderr and t.entries() == entries, t.stderr
    t.sync("--force-delete")
    assert not set(common[:2 * k]) & (set(t.entries()) | set(t.contacts()))


def wiped_server(t):
    entries, files = t.entries(), snapshot(t.sync_dir)
    for person in t.contacts():
        t.phone(person, None)
    t.sync(code=1)
    assert "\nmeridoc-cards: " in "\n" + t.stderr, t.stderr  # its own words, after vdirsyncer's
    assert t.entries() == entries and snapshot(t.sync_dir) == files, "deleted without consent"
    removed = set(glob.glob(f"{t.sync_dir}/.meridoc-sync/removed-*.vcf"))
    t.sync("--force-delete")
    assert t.entries() == {} and t.files() == [] and t.contacts() == {}
    for path in set(glob.glob(f"{t.sync_dir}/.meridoc-sync/removed-*.vcf")) - removed:
        t.run("import", path)
    assert set(t.entries()) == set(entries), "not every removed entry came back"
    t.sync()
    crd = open(t.crd, "rb").read()
    open(t.crd, "wb").close()  # an emptied card file is refused the same way
    t.sync(code=1)
    assert len(t.contacts()) == len(entries), "the server lost the card file's contacts"
    open(t.crd, "wb").write(crd)


TABLE = [phone_adds, phone_edits, phone_deletes, meridoc_adds, meridoc_edits, meridoc_deletes,
         phone_keeps_email_and_photo, restore_keeps_photo_and_uid, both_edit_other_fields,
         both_edit_one_field, delete_against_edit, long_and_foreign_names,
         phone_number_stays_a_uri, put_between_pull_and_push, two_of_one_name,
         phone_renames_cyrillic, meridoc_renames_with_photo, phone_changes_uid, phone2_only,
         two_rounds_no_change, import_while_vdirsyncer_talks, vdirsyncer_over_time_limit,
         mass_deletion_ways_back, removals_on_both_sides, wiped_server]


def test_table(tmp, cards):
    t = Sides(tmp, cards)
    t.server = server = Server(tmp)
    failed = []
    try:
        server.make_address_book()
        server.vdirsyncer_config(tmp, t.sync_dir, f'["command", "{cards}", "resolve-conflict"]',
                                 os.path.join(os.environ["HOME"], ".config/vdirsyncer/config"))
        os.makedirs(t.sync_dir)
        write_card_file(t.crd, START)
        t.run("--card-file", "home", "sync", "--folder", t.sync_dir, "--vdirsyncer", "meridoc")
        assert len(t.contacts()) == len(START), "the first round did not fill the server"
        for row in TABLE:
            try:
                row(t)
                t.agree()
                print(f"{row.__name__}: ok")
            except (Exception, SystemExit) as e:
                print(f"{row.__name__}: FAIL: {type(e).__name__}: {e}", flush=True)
                failed += [row.__name__]
                subprocess.run([cards, "sync"], capture_output=True)  # the next row starts even
    finally:
        server.stop()
    assert not failed, f"failed rows: {' '.join(failed)}"


# --- rounds killed at random moments ---------------------------------------------------------


def converged(t, model):
    """Card file and folder both hold exactly the model: NAME SURNAME -> PHONE1 PHONE2 NOTE, the
    note's first line the entry's COMMENTS and the rest its extra text's lines under its full
    name, each once; no other extra text, and nothing staged left in either folder."""
    entries = {k: e[2:] for k, e in t.entries().items()}
    files = {" ".join(c["n"]): (*(c["tel"] + ["", ""])[:2], c["note"]) for c in t.files()}
    firsts = {k: (*v[:2], v[2].split("\n")[0]) for k, v in model.items()}
    for side, got, want in ("card file", entries, firsts), ("folder", files, model):
        wrong = {k: (got.get(k), want.get(k)) for k in set(got) | set(want)
                 if got.get(k) != want.get(k)}
        assert not wrong, f"{side} differs (got, want): {wrong}"
    assert len(files) == len(model), "a name twice in the folder"
    texts = {k.replace(" ", ""): [f"Full name: {k}", *v[2].split("\n")[1:]]
             for k, v in model.items() if "\n" in v[2]}
    found = set(os.listdir(t.folder.program)) - {"home.crd", "meridoc.ini"}
    assert found == set(texts), f"extra texts (got, want): {sorted(found)} {sorted(texts)}"
    for name, lines in texts.items():
        rtf = open(os.path.join(t.folder.program, name), encoding="cp1252").read()
        twice = [line for line in lines if rtf.count(line + "\\par") != 1]
        assert not twice, f"{name}: not once: {twice}\n{rtf}"
    staged = [p for p in glob.glob(f"{t.sync_dir}/**", recursive=True, include_hidden=True)
              if "meridoc-staged" in p]
    assert not staged, f"staged files left: {staged}"


def test_kill(tmp, cards, rounds=100):
    rng, t = random.Random(1812), Sides(tmp, cards)
    os.remove(os.path.join(t.folder.program, "AnnaSurname000"))
    model = {f"K{i:02d} Kill": (f"(000)555-{i:04d}", "", f"note {i}") for i in range(12)}
    write_card_file(t.crd, [(*k.split(), *v) for k, v in model.items()])
    os.makedirs(t.sync_dir)
    args, start = ["--card-file", "home", "sync", "--folder", t.sync_dir], time.monotonic()
    t.run(*args)
    duration, killed, midway = time.monotonic() - start, 0, 0
    converged(t, model)
    for r in range(rounds):
        time.sleep(0.02)  # a file's time moves on between one side's writes and the next
        card_edit, card_gone, file_edit, file_gone = rng.sample(sorted(model), 4)
        at, value = rng.choice([(0, f"(000)555-{r + 1000:04d}"), (2, f"card note {r}")])
        t.edit(card_edit, at + 2, value)  # PHONE1 or COMMENTS
        t.edit(card_gone)  # with its extra text, as the search window removes an entry
        text = os.path.join(t.folder.program, card_gone.replace(" ", ""))
        if os.path.exists(text):
            os.remove(text)
        t.edit(None, add=(f"C{r:03d}", "Kill", f"(000)555-{r:04d}", "", "card side"))
        if at == 2:  # the comment is the note's first line; the rest is the extra text's
            value = "\n".join([value, *model[card_edit][2].split("\n")[1:]])
        model[card_edit] = replaced(model[card_edit], at, value)
        paths = {" ".join(parse_vcard(open(p, encoding="utf-8").read())["n"]): p
                 for p in glob.glob(f"{t.sync_dir}/*.vcf")}
        at, value = rng.choice([(0, f"+1 000 555 {r:04d}"), (2, f"folder note {r}\\nmore {r}")])
        change = vset("TEL" if at == 0 else "NOTE", value)
        write_atomically(paths[file_edit], change(open(paths[file_edit], encoding="utf-8").read()))
        model[file_edit] = replaced(model[file_edit], at, value.replace("\\n", "\n"))
        os.remove(paths[file_gone])
        write_atomically(f"{t.sync_dir}/{uuid.uuid4().hex}.vcf",
                         vcard(f"F{r:03d}", "Kill", "+1 000 555 7000", kind="",
                               extra=[f"NOTE:first {r}\\nmore {r}"]))
        model.update({f"C{r:03d} Kill": (f"(000)555-{r:04d}", "", "card side"),
                      f"F{r:03d} Kill": ("+1 000 555 7000", "", f"first {r}\nmore {r}")})
        del model[card_gone], model[file_gone]
        before = snapshot(t.crd, t.sync_dir)
        process = subprocess.Popen([cards, "--dir", t.folder.program, *args],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, duration))
        process.send_signal(signal.SIGKILL)
        if process.wait() == -signal.SIGKILL:
            killed, midway = killed + 1, midway + (snapshot(t.crd, t.sync_dir) != before)
        start = time.monotonic()
        t.run(*args)
        duration = (duration + time.monotonic() - start) / 2
        converged(t, model)
        if r % 10 == 9:  # and a round after that has nothing to do
            before = snapshot(t.crd, t.sync_dir)
            assert t.run(*args) == "" and snapshot(t.crd, t.sync_dir) == before, "no rest"
    assert killed >= rounds // 2, f"only {killed} of {rounds} rounds were killed before their end"
    print(f"{rounds} rounds converged; {killed} were killed before their end, {midway} of these "
          f"after writing something (a round takes {duration * 1000:.0f} ms)")


if __name__ == "__main__":
    sys.exit(main({"table": test_table, "kill": test_kill}))
