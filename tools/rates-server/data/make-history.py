#!/usr/bin/env python3
"""Writes bank-rates.txt.gz, the history kurs-rates-server serves, from the
bank's published rates (three CSV files, see HEADER below for their origin).

    make-history.py [SOURCE_DIR [OUTPUT]]

SOURCE_DIR holds official-rates-1992-07-01_2023-12-30.csv.gz,
official-rates-2024-01-10_2026-08-22_eight-currencies.csv.gz and
currency-names-ru.csv (default /work/shared/data/bank-rates); OUTPUT defaults
to bank-rates.txt.gz beside this script.  The output is the same bytes for
the same input (the gzip header carries no time and no file name).
Standard library only.
"""

import csv
import datetime
import gzip
import io
import os
import sys

RATES_FILE = "official-rates-1992-07-01_2023-12-30.csv.gz"
# Eight currencies only, from the first document of 2024 on.
PARTIAL_FILE = "official-rates-2024-01-10_2026-08-22_eight-currencies.csv.gz"
PARTIAL_FROM = datetime.date(2024, 1, 10)
NAMES_FILE = "currency-names-ru.csv"

# A rate stays in force until the currency's next rate.  The source lacks
# long stretches of some currencies (those set monthly between 1998 and
# 11.01.2010, and a few before), so a rate is carried only to a next rate at
# most this many days later (the longest regular spacing, a quarter), and
# never from old roubles into the new ones of 01.01.1998.  Otherwise the
# currency leaves the table after its last rate until it is set again.
MAX_CARRY_DAYS = 92
NEW_ROUBLE = datetime.date(1998, 1, 1)

HEADER = """\
# The official rates of foreign currencies against the rouble set by the
# Central Bank of the Russian Federation from 01.07.1992 to 22.08.2026, as the
# bank published them: to 30.12.2023 every currency, from 10.01.2024 (the first
# document of 2024; the rates of 30.12.2023 held over the New Year holidays)
# eight of them only: USD, EUR, CNY, GBP, CHF, THB, TRY and INR.  Figures
# exactly as published.
#
# Source: the daily XML documents of the bank (XML_daily.asp) as collected in
# the public repository merelin/common-utils (CommonUtils/resources/Doc/,
# commit 7bb69eba73767f0576e2840d6dc4da43390a1565), one document for every
# day from 01.07.1992 to 02.01.2024.  Cross-checked: the US dollar agrees on
# every date with a second, independent export of the bank's figures; the
# German mark and the Finnish markka agree with the euro's fixed conversion
# factors (1.95583, 5.94573) to within 0.06 %.  Names are those the bank used
# at the time; names of 2023 were restored where the source had lost them.
# Rates before 01.01.1998 are in roubles before the redenomination (1000 old
# roubles = 1 new).
#
# From 10.01.2024: the series data/fx_daily.json of the public repository
# solovmm/fin_calc (commit 03271e6a, last changed on 22.08.2026), which its
# author built from the bank's XML_dynamic.asp service: roubles per unit to 6
# decimals, turned back into the bank's nominal (the smallest power of ten
# that makes the figure at least 10) and 4-decimal figure.  Checked against
# the bank's document of 18.03.2026 and its US dollar series of 2024-2025.
# Names are the bank's latest names of 2023 for the same nominal; the bank
# has renamed some since.  The line "! partial from 10.01.2024" says that from
# that date on the file does not hold the bank's whole table.
#
# Written by make-history.py; do not edit by hand.
#
# Format (UTF-8; the page is served in Windows-1251):
#   [dd.mm.yyyy]        the rates the bank set on this date
#   number code | letter code | nominal | name | rate
#                       a currency's rate from this date, with its codes,
#                       nominal and name (a currency without codes leaves
#                       them empty)
#   key | rate          the same with the number code, nominal and name of the
#                       currency's previous line
#   key | -             the currency leaves the table from this date until
#                       its next rate
#   ! partial from dd.mm.yyyy
#                       from this date on only some of the bank's currencies
# The key is the letter code, or the number code of a currency without one,
# or the name of a currency with neither.  The rate is in roubles for
# <nominal> units, written with a decimal comma.  A currency is in force from
# its first rate to its last; on a date the file does not list it keeps its
# latest earlier rate.  Here a rate is carried to the next one only when that
# comes within MAX_CARRY_DAYS days and in the same rouble; otherwise a "key | -" line
# ends the currency after its last rate.
# Lines starting with # and blank lines are ignored.
""".replace("MAX_CARRY_DAYS", str(MAX_CARRY_DAYS))


def fail(message):
    sys.exit("make-history.py: " + message)


def read_names(path):
    """(cbr_id, char, num, nominal) -> [(first, last, name)]"""
    names = {}
    with open(path, encoding="utf-8", newline="") as f:
        for row in csv.DictReader(f):
            combo = (row["cbr_id"], row["char_code"], row["num_code"], row["nominal"])
            span = (datetime.date.fromisoformat(row["first_date"]),
                    datetime.date.fromisoformat(row["last_date"]), row["name_ru"])
            names.setdefault(combo, []).append(span)
    return names


def name_of(names, combo, date):
    spans = names.get(combo, [])
    found = [name for first, last, name in spans if first <= date <= last]
    if not found and date >= PARTIAL_FROM and spans:
        # The names end with 2023: the latest name of the same nominal.
        found = [max(spans)[2]]
    if len(found) != 1:
        fail("%d names for %s on %s" % (len(found), combo, date))
    return found[0]


def read_rates(rows, partial, names, by_date, series):
    """Adds the rows of one source to by_date and series; the partial source
    starts at PARTIAL_FROM, the other ends before it."""
    for row in rows:
        date = datetime.date.fromisoformat(row["date"])
        if (date >= PARTIAL_FROM) != partial:
            fail("%s belongs to the other source" % date)
        combo = (row["cbr_id"], row["char_code"], row["num_code"], row["nominal"])
        whole, dot, fraction = row["value"].partition(".")
        if not (whole.isdigit() and dot and fraction.isdigit()):
            fail("not a rate: %r" % row["value"])
        name = name_of(names, combo, date)
        if any(c in name for c in "|#<>&\""):
            fail("a name the format cannot hold: " + name)
        key = row["char_code"] or row["num_code"] or name
        full = (row["num_code"], row["char_code"], row["nominal"], name)
        by_date.setdefault(date, []).append((row["cbr_id"], key, full, whole + "," + fraction))
        dates = series.setdefault(row["cbr_id"], [])
        if dates and dates[-1] >= date:
            fail("%s is not in date order at %s" % (row["cbr_id"], date))
        dates.append(date)


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "/work/shared/data/bank-rates"
    output = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "bank-rates.txt.gz")
    names = read_names(os.path.join(source, NAMES_FILE))

    # date -> [(cbr_id, full row fields, rate)] in the order of the source
    # (the bank's own order, by currency id).
    by_date = {}
    series = {}  # cbr_id -> its dates, ascending
    for part in (RATES_FILE, PARTIAL_FILE):
        with gzip.open(os.path.join(source, part), "rt", encoding="utf-8", newline="") as f:
            read_rates(csv.DictReader(f), part == PARTIAL_FILE, names, by_date, series)

    # Keys name one currency each for the whole file.
    keys = {}
    key_by_id = {}
    for rows in by_date.values():
        for cbr_id, key, _, _ in rows:
            if keys.setdefault(key, cbr_id) != cbr_id or key_by_id.setdefault(cbr_id, key) != key:
                fail("the key %s and the currency %s do not pair up" % (key, cbr_id))

    # Where a currency leaves the table: at the first date the bank set rates
    # after a last rate that is not carried on.
    all_dates = sorted(by_date)
    next_date = dict(zip(all_dates, all_dates[1:]))
    ends = {}  # date -> [cbr_id]
    for cbr_id, dates in series.items():
        for last, following in zip(dates, dates[1:]):
            leave = next_date[last]
            if leave == following:
                continue  # nothing carried
            if (following - last).days > MAX_CARRY_DAYS or last < NEW_ROUBLE <= leave:
                ends.setdefault(leave, []).append(cbr_id)

    text = io.StringIO()
    text.write(HEADER)
    text.write("\n! partial from %s\n" % PARTIAL_FROM.strftime("%d.%m.%Y"))
    previous = {}  # cbr_id -> full row fields of its latest line
    ended = set()
    for date in all_dates:
        text.write("\n[%s]\n" % date.strftime("%d.%m.%Y"))
        rows = by_date[date]
        set_today = {cbr_id for cbr_id, _, _, _ in rows}
        for cbr_id, key, full, rate in rows:
            # A full line where something but the rate changes, and where a
            # currency comes back, so that the reader of the file sees its name.
            if previous.get(cbr_id) != full or cbr_id in ended:
                text.write(" | ".join(full + (rate,)) + "\n")
            else:
                text.write("%s | %s\n" % (key, rate))
            previous[cbr_id] = full
            ended.discard(cbr_id)
        for cbr_id in ends.get(date, []):
            if cbr_id in set_today:
                fail("%s ends on a date it has a rate" % cbr_id)
            text.write("%s | -\n" % key_by_id[cbr_id])
            ended.add(cbr_id)

    data = text.getvalue().encode("utf-8")
    with open(output + ".tmp", "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as z:
            z.write(data)
    os.replace(output + ".tmp", output)
    print("%s: %d dates, %d currencies, %d bytes of text, %d bytes compressed" %
          (output, len(all_dates), len(series), len(data), os.path.getsize(output)))


if __name__ == "__main__":
    main()
