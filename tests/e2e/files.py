"""What the program leaves on disk, read independently of the program's own code: card files
(runs of 135-byte records of five length-prefixed fields), the configuration file and extra-text
files."""

import os

FIELDS = (("NAME", 20), ("SURNAME", 20), ("PHONE1", 20), ("PHONE2", 20), ("COMMENTS", 50))
RECORD_SIZE = sum(size + 1 for _, size in FIELDS)

SEED = ("TANRO", "SYSTEMS", "(000)555-0101", "(000)555-0102", "PC Sales, Repair, Upgrade")

DEFAULT_INI = b"\r\n[filenames]\r\nextention=crd\r\ndefaultfile=tanro\r\n\r\n"


def find(folder, name):
    """The file of that name in the folder, matched without regard to letter case (the exact
    spelling first), or None."""
    exact = os.path.join(folder, name)
    if os.path.isfile(exact):
        return exact
    for entry in sorted(os.listdir(folder)):
        path = os.path.join(folder, entry)
        if entry.lower() == name.lower() and os.path.isfile(path):
            return path
    return None


def records(path):
    """The entries of a card file as tuples of five texts."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) % RECORD_SIZE:
        raise AssertionError(f"{path} is {len(data)} bytes, not a whole number of records")
    result = []
    for start in range(0, len(data), RECORD_SIZE):
        fields, pos = [], start
        for _, size in FIELDS:
            length = data[pos]
            if length > size:
                raise AssertionError(f"{path}: field length {length} exceeds {size}")
            fields.append(data[pos + 1 : pos + 1 + length].decode("cp1252"))
            pos += size + 1
        result.append(tuple(fields))
    return result


def sort_key(entry):
    return (entry[1] + entry[0]).encode("cp1252").upper()


def card_files(folder):
    """Base names of the "*.crd" files of the folder, upper-cased, sorted."""
    return sorted(e[:-4].upper() for e in os.listdir(folder) if e.lower().endswith(".crd"))


def ini_value(folder, key, section="filenames"):
    path = find(folder, "meridoc.ini")
    if path is None:
        return None
    current = None
    with open(path, "rb") as f:
        for raw in f.read().decode("cp1252").splitlines():
            line = raw.strip()
            if line.startswith("[") and line.endswith("]"):
                current = line[1:-1].strip().lower()
            elif current == section.lower() and "=" in line:
                k, v = line.split("=", 1)
                if k.strip().lower() == key.lower():
                    return v.strip()
    return None


def rtf_text(path):
    """The visible text of a simple RTF file: groups that are destinations (font and colour
    tables, \\* groups) are skipped, control words dropped, \\par and \\line become line breaks."""
    with open(path, "rb") as f:
        data = f.read().decode("cp1252")
    if not data.startswith("{\\rtf"):
        raise AssertionError(f"{path} does not start with {{\\rtf")
    out, stack, skip, i = [], [], False, 0
    while i < len(data):
        c = data[i]
        if c == "{":
            stack.append(skip)
            i += 1
            if data.startswith("\\*", i) or any(
                    data.startswith("\\" + d, i)
                    for d in ("fonttbl", "colortbl", "stylesheet", "info", "generator")):
                skip = True
        elif c == "}":
            skip = stack.pop() if stack else False
            i += 1
        elif c == "\\":
            i += 1
            if i < len(data) and not data[i].isalpha():
                if data[i] == "'":
                    if not skip:
                        out.append(bytes.fromhex(data[i + 1 : i + 3]).decode("cp1252"))
                    i += 3
                else:
                    if not skip and data[i] in "\\{}":
                        out.append(data[i])
                    i += 1
                continue
            start = i
            while i < len(data) and data[i].isalpha():
                i += 1
            word = data[start:i]
            while i < len(data) and (data[i].isdigit() or data[i] == "-"):
                i += 1
            if i < len(data) and data[i] == " ":
                i += 1
            if not skip and word in ("par", "line"):
                out.append("\n")
            elif not skip and word == "tab":
                out.append("\t")
        elif c in "\r\n":
            i += 1
        else:
            if not skip:
                out.append(c)
            i += 1
    return "".join(out)


def write_records(path, entries):
    """Writes a card file holding the given entries, in the given order."""
    with open(path, "wb") as f:
        for entry in entries:
            for text, (_, size) in zip(entry, FIELDS):
                raw = text.encode("cp1252")[:size]
                f.write(bytes([len(raw)]) + raw + b"\0" * (size - len(raw)))


def write_ini(folder, default_file, extension="crd"):
    with open(os.path.join(folder, "meridoc.ini"), "wb") as f:
        f.write(f"\r\n[filenames]\r\nextention={extension}\r\ndefaultfile={default_file}\r\n\r\n"
                .encode("cp1252"))
