#!/usr/bin/env python3
"""Writes currencies.txt, the bank's id and the English name of every
currency in the bundled history, of the bank's other currencies of today, and
the English name of every other ISO 4217 currency: what the XML answers need
beside the rates.

    make-currencies.py [SOURCE_DIR [OUTPUT]]

SOURCE_DIR holds currency-names-ru.csv and the bank's XML_valFull_d0.xml
(default /work/shared/data: bank-rates/ and bank-xml/ under it).  English
names come from the bank's own list of codes where it has the currency, then
from Debian's iso-codes (/usr/share/iso-codes/json/iso_4217.json), then from
retired-currency-names.txt beside this script.  The server does not read
iso-codes: it reads the written table, which is checked in.
Standard library only.
"""

import csv
import json
import os
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ISO_4217 = "/usr/share/iso-codes/json/iso_4217.json"

HEADER = """\
# English names of currencies, one a line: "bank id | key | English name".
# Every currency of the bundled history comes with the bank's id; the bank's
# other currencies of today and every other ISO 4217 one follow, those not
# in its list of codes without an id.  The key is the one the history knows
# the currency by: its letter code, or its number code when it has no letter
# code, or its Russian name when it has neither.  English names are the
# bank's own (its list of codes, XML_valFull.asp), else ISO 4217's (Debian's
# iso-codes), else those of retired-currency-names.txt.  Written by
# make-currencies.py; do not edit by hand.
"""


def fail(message):
    sys.exit("make-currencies.py: " + message)


def read_table(path):
    table = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            key, _, name = (part.strip() for part in line.partition("|"))
            table[key] = name
    return table


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "/work/shared/data"
    output = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "currencies.txt")

    bank = {}
    for item in ET.parse(os.path.join(source, "bank-xml", "XML_valFull_d0.xml")).getroot():
        bank[item.get("ID")] = item.findtext("EngName").strip()
    with open(ISO_4217, encoding="utf-8") as f:
        iso = {c["alpha_3"]: c["name"] for c in json.load(f)["4217"]}
    retired = read_table(os.path.join(HERE, "retired-currency-names.txt"))

    rows = {}
    with open(os.path.join(source, "bank-rates", "currency-names-ru.csv"),
              encoding="utf-8", newline="") as f:
        for row in csv.DictReader(f):
            cbr_id, char, num = row["cbr_id"], row["char_code"], row["num_code"]
            key = char or num or row["name_ru"]
            if rows.setdefault(cbr_id, key) != key:
                fail("%s has two keys: %s and %s" % (cbr_id, rows[cbr_id], key))
    # The bank's other currencies of today, which its documents after the
    # history list, and every other ISO 4217 currency, for the names of
    # documents the bank may write later.
    codes = {}
    for item in ET.parse(os.path.join(source, "bank-xml", "XML_valFull_d0.xml")).getroot():
        char = (item.findtext("ISO_Char_Code") or "").strip()
        if char and item.get("ID") not in rows:
            codes.setdefault(char, item.get("ID"))
    for cbr_id, key in rows.items():
        codes.pop(key, None)
    for char, cbr_id in codes.items():
        rows[cbr_id] = char
    keys = list(rows.values())
    if len(set(keys)) != len(keys):
        fail("a key names two currencies")
    for char in sorted(set(iso) - set(keys)):
        rows["-" + char] = char

    lines = []
    for cbr_id in sorted(rows, key=lambda i: (i.startswith("-"), i)):
        key = rows[cbr_id]
        name = bank.get(cbr_id) or iso.get(key) or retired.get(key) or retired.get(cbr_id)
        if not name:
            fail("no English name for %s (%s)" % (cbr_id, key))
        if any(c in name + key for c in "|#<>&\""):
            fail("a name the table cannot hold: " + name)
        lines.append("%s | %s | %s\n" % ("" if cbr_id.startswith("-") else cbr_id, key, name))

    with open(output + ".tmp", "w", encoding="utf-8") as f:
        f.write(HEADER + "".join(lines))
    os.replace(output + ".tmp", output)
    print("%s: %d currencies" % (output, len(lines)))


if __name__ == "__main__":
    main()
