#!/usr/bin/python3
"""Ways of putting a block of copied texts into a sheet, timed against one office.

Usage: bench/copy_paths.py [ROWS]   (default 100000; 10 columns, every tenth row empty)

Each way writes the same texts into column M on of a new hidden document and is timed from
its first call to its last; the last line checks that the text import wrote what
setDataArray writes. Needs python3-uno (Debian) and starts an office of its own on a private
profile, ended at the end.
"""
import contextlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue

COLUMNS = 10
LEFT = 12  # column M


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


def connect(pipe):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(1200):
        try:
            return resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        except Exception:  # not listening yet
            time.sleep(0.05)
    raise SystemExit("the office did not answer")


def write_blocks(sheet, data, block):
    for top in range(0, len(data), block):
        rows = data[top:top + block]
        sheet.getCellRangeByPosition(LEFT, top, LEFT + COLUMNS - 1,
                                     top + len(rows) - 1).setDataArray(rows)


def import_and_copy(doc, sheet, data, folder):
    """The block as a csv of ours, linked into a new sheet as values, copied, removed."""
    path = os.path.join(folder, "block.csv")
    with open(path, "w", encoding="utf-8", newline="") as out:
        for row in data:
            out.write(",".join('"%s"' % v.replace('"', '""') if v else "" for v in row) + "\n")
    doc.Sheets.insertNewByName("import", 1)
    imported = doc.Sheets.getByName("import")
    text_columns = "/".join("%d/2" % (i + 1) for i in range(COLUMNS))
    mode = uno.Enum("com.sun.star.sheet.SheetLinkMode", "VALUE")
    imported.link(uno.systemPathToFileUrl(path), "", "Text - txt - csv (StarCalc)",
                  "44,34,76,1," + text_columns, mode)
    imported.setLinkMode(uno.Enum("com.sun.star.sheet.SheetLinkMode", "NONE"))
    source = imported.getCellRangeByPosition(0, 0, COLUMNS - 1, len(data) - 1).getRangeAddress()
    sheet.copyRange(sheet.getCellByPosition(LEFT, 0).getCellAddress(), source)
    doc.Sheets.removeByName("import")


def sorted_in_office(desktop, doc, sheet, data):
    """The rows as another book holds them (shuffled, untimed), that sheet copied into the
    result book, sorted there by a column of target rows written by us, copied across with
    copyRange and removed: no text passes through us. A row without a partner is an empty
    row of the source."""
    rows = len(data)
    order = list(range(rows))
    random.Random(2).shuffle(order)  # source row i holds target row order[i]
    source = desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                          (prop("Hidden", True),))
    held = source.Sheets.getByIndex(0)
    shuffled = [data[t] for t in order]
    for top in range(0, rows, 20000):
        part = shuffled[top:top + 20000]
        held.getCellRangeByPosition(0, top, COLUMNS - 1, top + len(part) - 1).setDataArray(part)
    start = time.time()
    doc.Sheets.importSheet(source, held.Name, 1)
    copied = doc.Sheets.getByIndex(1)
    copied.getCellRangeByPosition(COLUMNS, 0, COLUMNS, rows - 1).setDataArray(
        tuple((float(t),) for t in order))
    block = copied.getCellRangeByPosition(0, 0, COLUMNS, rows - 1)
    field = uno.createUnoStruct("com.sun.star.table.TableSortField")
    field.Field, field.IsAscending = COLUMNS, True
    descriptor = block.createSortDescriptor()
    for p in descriptor:
        if p.Name == "SortFields":
            p.Value = uno.Any("[]com.sun.star.table.TableSortField", (field,))
        elif p.Name == "ContainsHeader":
            p.Value = False
    uno.invoke(block, "sort", (descriptor,))
    sheet.copyRange(sheet.getCellByPosition(LEFT, 0).getCellAddress(),
                    copied.getCellRangeByPosition(0, 0, COLUMNS - 1, rows - 1).getRangeAddress())
    doc.Sheets.removeByName(copied.Name)
    seconds = time.time() - start
    source.close(True)
    return seconds


@contextlib.contextmanager
def own_office(name):
    """An office of our own on a private profile: (its desktop, a scratch folder); ended by
    its id and the folder removed afterwards."""
    folder = tempfile.mkdtemp(prefix=name + "-")
    pipe = "%s_%d" % (name.replace("-", "_"), os.getpid())
    office = subprocess.Popen(
        ["/usr/lib/libreoffice/program/soffice", "--headless", "--invisible", "--norestore",
         "--nologo", "--nodefault", "--nolockcheck",
         "-env:UserInstallation=" + uno.systemPathToFileUrl(os.path.join(folder, "profile")),
         "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % pipe],
        stderr=subprocess.DEVNULL)
    desktop = None
    try:
        context = connect(pipe)
        desktop = context.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", context)
        yield desktop, folder
    finally:
        if desktop is not None:
            try:
                desktop.terminate()
            except Exception:  # the bridge goes with the office
                pass
        try:
            office.wait(timeout=60)
        except subprocess.TimeoutExpired:
            office.kill()
            office.wait()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
    with own_office("copy-paths") as (desktop, folder):
        rnd = random.Random(1)
        data = tuple(tuple("v%d-%d-%d" % (r, c, rnd.randint(0, 999)) if r % 10 else ""
                           for c in range(COLUMNS)) for r in range(rows))

        def timed(name, work, locked=False, unadjusted=False):
            doc = desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                               (prop("Hidden", True),))
            if locked:
                doc.getUndoManager().lock()
                doc.addActionLock()
                doc.lockControllers()
            if unadjusted:  # no undo, no row heights fitted after each write
                doc.setPropertyValue("IsUndoEnabled", False)
                doc.setPropertyValue("IsAdjustHeightEnabled", False)
            sheet = doc.Sheets.getByIndex(0)
            start = time.time()
            seconds = work(doc, sheet)
            seconds = time.time() - start if seconds is None else seconds
            written = sheet.getCellRangeByPosition(LEFT, 0, LEFT + COLUMNS - 1,
                                                   rows - 1).getDataArray()
            doc.close(True)
            print("| %-44s | %7.2f s | %s |" % (name, seconds, "same" if written == data
                                                 else "DIFFERENT"), flush=True)

        print("| %d rows x %d, way                          | time      | texts |" % (rows, COLUMNS))
        print("|----------------------------------------------|-----------|-------|")
        for block in (5000, 20000, 100000):
            timed("setDataArray, blocks of %d rows" % block,
                  lambda doc, sheet, b=block: write_blocks(sheet, data, b))
        timed("setDataArray, 5000, undo and actions locked",
              lambda doc, sheet: write_blocks(sheet, data, 5000), locked=True)
        timed("setDataArray, 20000, no undo, no row heights",
              lambda doc, sheet: write_blocks(sheet, data, 20000), unadjusted=True)
        timed("csv of ours imported, copyRange, removed",
              lambda doc, sheet: import_and_copy(doc, sheet, data, folder))
        timed("sheet copied in, sorted, copyRange, removed",
              lambda doc, sheet: sorted_in_office(desktop, doc, sheet, data))


if __name__ == "__main__":
    main()
