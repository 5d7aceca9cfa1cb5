#!/usr/bin/python3
"""The sync folder of `meridoc-cards export --folder` read by other programs.

    sync_test.py server MERIDOC_CARDS   a Radicale server filled and updated through vdirsyncer
    sync_test.py khard MERIDOC_CARDS    khard reading the sync folder as an address book

Everything lives in a temporary folder (HOME included) and the server is stopped at the end.
Exits 77 (skipped) when meridoc-cards is not built.
"""
import os
import sys

from syncsupport import NOTES, Folder, Server, entry, expected, main, run


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
        config = server.vdirsyncer_config(tmp, folder.sync, '"a wins"')
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


if __name__ == "__main__":
    sys.exit(main({"server": lambda tmp, cards: test_server(tmp, Folder(tmp, cards)),
                   "khard": lambda tmp, cards: test_khard(tmp, Folder(tmp, cards))}))
