#!/usr/bin/env python3
"""Reads a UTF-8 .csv with Python's csv module and prints it again, fields split by 0x1F and
rows by 0x1E, so that a test can take it apart without a csv reader of its own.

usage: csv_rows.py FILE
"""
import csv
import sys

with open(sys.argv[1], newline="", encoding="utf-8") as file:
    sys.stdout.write("\x1e".join("\x1f".join(row) for row in csv.reader(file)))
