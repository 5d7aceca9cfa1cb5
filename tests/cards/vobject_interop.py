"""Exports a card file as vCard 3.0 and 4.0 with meridoc-cards and reads the files back with
vobject, an independent parser: names, phones and notes must come back exactly."""
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
        note += "\n" + extra
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


def main(tool):
    failures = 0
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
    sys.exit(main(sys.argv[1]))
