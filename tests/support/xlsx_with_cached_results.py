#!/usr/bin/env python3
"""Writes an .xlsx as Excel does: formulas with the results Excel computed, cached.

usage: xlsx_with_cached_results.py OUT ROWS

Sheet "Main": A = "R<n>", F = =FALSE() (cached FALSE), G = =CONCATENATE(F<n>,"-Z",A<n>)
(cached "FALSE-ZR<n>"), title row 1. Sheet "Other": one text. LibreOffice computes G as
"0-ZR<n>" once it calculates again; Excel shows "FALSE-ZR<n>". openpyxl writes the formulas without results;
the results are put into the sheet's XML the way Excel stores them.
"""
import os
import re
import sys
import zipfile

import openpyxl

out, rows = sys.argv[1], int(sys.argv[2])
book = openpyxl.Workbook()
main = book.active
main.title = "Main"
main["A1"], main["F1"], main["G1"] = "ID", "Flag", "Key"
for r in range(2, rows + 2):
    main[f"A{r}"] = f"R{r}"
    main[f"F{r}"] = "=FALSE()"
    main[f"G{r}"] = f'=CONCATENATE(F{r},"-Z",A{r})'
book.create_sheet("Other")["A1"] = "another sheet"
book.save(out + ".part")

with zipfile.ZipFile(out + ".part") as source, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as target:
    for item in source.infolist():
        data = source.read(item.filename)
        if item.filename == "xl/worksheets/sheet1.xml":
            xml = data.decode()
            xml = re.sub(r'<c r="(F\d+)"><f>(FALSE\(\))</f><v\s*/?>(?:</v>)?</c>',
                         r'<c r="\1" t="b"><f>\2</f><v>0</v></c>', xml)
            xml = re.sub(r'<c r="G(\d+)"><f>([^<]*)</f><v\s*/?>(?:</v>)?</c>',
                         r'<c r="G\1" t="str"><f>\2</f><v>FALSE-ZR\1</v></c>', xml)
            data = xml.encode()
        target.writestr(item, data)
os.remove(out + ".part")
