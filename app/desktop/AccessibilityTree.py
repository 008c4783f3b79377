#!/usr/bin/python3
"""Prints what the desktop's accessibility layer (AT-SPI) shows of a
program's windows: one line per node on the screen, its role and its name,
and for a text or a status bar what it reads, indented two spaces a level."""
import sys

import pyatspi


def walk(node, depth):
    try:
        role, name, state = node.getRoleName(), node.name, node.getState()
    except Exception:  # a node that went away while it was read
        return
    if depth > 0 and not state.contains(pyatspi.STATE_SHOWING):
        return
    line = "  " * depth + f'{role} "{name}"'
    if role in ("text", "status bar"):
        try:
            text = node.queryText()
            content = text.getText(0, text.characterCount).strip()
            if content:
                line += f' reads "{content.splitlines()[-1]}"'
        except NotImplementedError:
            pass
    print(line)
    for i in range(node.childCount):
        walk(node.getChildAtIndex(i), depth + 1)


for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == sys.argv[1]:
        for i in range(app.childCount):
            walk(app.getChildAtIndex(i), 0)
