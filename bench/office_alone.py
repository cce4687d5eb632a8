#!/usr/bin/python3
"""The office doing a merge's own work alone, timed step by step: what no merge can go below.

Usage: bench/office_alone.py DIR   (DIR holds main.ods and add.ods, as written by
`merge_bench --write-tables DIR ROWS`)

An office of its own starts, loads both tables and stores the main one (the floor the merge
benchmark counts); then it reads the add table's ten columns in one call, writes them as
texts beside the main table in blocks of 20,000 rows (the rows in the add table's order: the
office's cost of making the cells is the same in any order), stores the result and closes
both books. Nothing is matched: the keys are left out, and so is everything the merge adds
for safety. Needs python3-uno.
"""
import os
import sys
import time

import uno

from copy_paths import own_office, prop

BLOCK = 20000
LEFT = 12  # column M: beside the main table's ten columns, as the merge writes


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    tables = os.path.abspath(sys.argv[1])
    steps = []
    last = [time.time()]

    def step(name):
        now = time.time()
        steps.append((name, now - last[0]))
        last[0] = now

    def url(name):
        return uno.systemPathToFileUrl(os.path.join(tables, name))

    with own_office("office-alone") as (desktop, _):
        step("start the office")
        hidden = (prop("Hidden", True),)
        add = desktop.loadComponentFromURL(url("add.ods"), "_blank", 0, hidden)
        step("load the add table")
        main_book = desktop.loadComponentFromURL(url("main.ods"), "_blank", 0, hidden)
        step("load the main table")
        main_book.storeToURL(url("office-floor.ods"), (prop("FilterName", "calc8"),))
        step("store the main table (the floor ends here)")
        source = add.Sheets.getByIndex(0)
        cursor = source.createCursor()
        cursor.gotoEndOfUsedArea(False)
        bottom = cursor.getRangeAddress().EndRow
        values = source.getCellRangeByPosition(0, 0, 9, bottom).getDataArray()
        step("read the add table's ten columns")
        texts = tuple(tuple(v if isinstance(v, str) else "%.15g" % v for v in row)
                      for row in values)
        step("(their texts, in Python)")
        target = main_book.Sheets.getByIndex(0)
        for top in range(0, len(texts), BLOCK):
            rows = texts[top:top + BLOCK]
            target.getCellRangeByPosition(LEFT, top, LEFT + 9,
                                          top + len(rows) - 1).setDataArray(rows)
        step("write them as texts, blocks of %d rows" % BLOCK)
        main_book.storeToURL(url("office-result.ods"), (prop("FilterName", "calc8"),))
        step("store the result")
        main_book.close(True)
        add.close(True)
        step("close both")
    step("end the office")
    for name in ("office-floor.ods", "office-result.ods"):
        try:
            os.remove(os.path.join(tables, name))
        except OSError:
            pass
    floor = sum(seconds for name, seconds in steps[:4])
    print("| step | time |\n|------|------|")
    for name, seconds in steps:
        print("| %s | %.2f s |" % (name, seconds))
    # The merge stores only its result: the floor's store of the main table is not its work.
    total = sum(seconds for i, (name, seconds) in enumerate(steps)
                if i != 3 and not name.startswith("("))
    print("| floor (start, loads, main stored) | %.2f s |" % floor)
    print("| the merge's office work alone (all but the main's store and Python's) "
          "| %.2f s (%.2fx the floor) |"
          % (total, total / floor))


if __name__ == "__main__":
    main()
