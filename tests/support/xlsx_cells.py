#!/usr/bin/env python3
"""Prints the cells of an .xlsx's first sheet as another program reads them, one per line:
ROW, COLUMN (one-based), KIND (number, date, time, bool or text) and the number format, by tabs.

usage: xlsx_cells.py FILE
"""
import datetime
import sys

import openpyxl

for row in openpyxl.load_workbook(sys.argv[1]).worksheets[0].iter_rows():
    for cell in row:
        value = cell.value
        if value is None:
            continue
        if isinstance(value, bool):
            kind = "bool"
        elif isinstance(value, (int, float)):
            kind = "number"
        elif isinstance(value, datetime.datetime):
            kind = "date"
        elif isinstance(value, datetime.time):
            kind = "time"
        else:
            kind = "text"
        print(cell.row, cell.column, kind, cell.number_format, sep="\t")
