#!/usr/bin/env python3
"""The loader a site would write by hand: each CDR file of a folder into one SQLite table,
one transaction per file, repeated records kept out by a unique index on pkid.

    bench/plain_loader.py DATABASE FOLDER
"""
import csv
import os
import sqlite3
import sys


def main():
    database, folder = sys.argv[1], sys.argv[2]
    names = sorted(n for n in os.listdir(folder) if n.startswith("cdr_"))
    con = sqlite3.connect(database, isolation_level=None)
    insert = None
    for name in names:
        with open(os.path.join(folder, name), newline="", encoding="utf-8") as f:
            rows = csv.reader(f)
            header = next(rows)
            next(rows)  # the types line
            if insert is None:
                columns = ", ".join('"%s"' % c for c in header)
                con.execute("CREATE TABLE IF NOT EXISTS CallDetailRecord (%s)" % columns)
                con.execute("CREATE UNIQUE INDEX IF NOT EXISTS ix_pkid "
                            "ON CallDetailRecord (pkid)")
                insert = "INSERT OR IGNORE INTO CallDetailRecord (%s) VALUES (%s)" % (
                    columns, ", ".join("?" * len(header)))
            con.execute("BEGIN")
            con.executemany(insert, rows)
            con.execute("COMMIT")
    con.close()


if __name__ == "__main__":
    main()
