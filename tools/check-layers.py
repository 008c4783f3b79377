#!/usr/bin/env python3
"""Checks the include graph against the layer arrows of ARCHITECTURE.md.

Every project header is included by its path from the repository root
("runtime/String.h"), so a file's includes name the folders it depends on.
A folder may include itself and what LAYERS lets it; code under test (tests
and the fixture headers they share, benchmarks, fuzz targets, tests/ folders
and testing/) may also include testing/ and its own folder's tests/.  Product
code never includes test support.  Qt headers are included only under gui/qt.

Prints each violation as FILE:LINE: message and exits 1 when there is one.
Run from anywhere; it reads the files git tracks.
"""

import os
import re
import subprocess
import sys

PLATFORM = ["platform", "platform/*"]

# folder -> what it may include besides itself.  "x/*" means every folder
# under x; an entry ending in ".h" allows that one header only.
LAYERS = {
    "platform": [],
    "platform/clock": ["platform"],
    "platform/files": ["platform"],
    "platform/locale": ["platform"],
    "platform/messages": ["platform", "platform/clock"],
    "platform/sockets": ["platform", "platform/clock", "platform/messages"],
    "platform/registry": ["platform", "platform/clock", "platform/files"],
    "platform/profile": ["platform", "platform/files"],
    "runtime": PLATFORM,
    "net/socket": ["runtime"] + PLATFORM,
    "net/http": ["net/socket", "runtime"] + PLATFORM,
    "gui": ["runtime"] + PLATFORM,
    "gui/qt": ["gui", "runtime"] + PLATFORM,
    "settings": ["gui", "runtime"] + PLATFORM,
    "app": ["settings", "gui", "gui/qt", "net/http", "net/socket", "runtime"] + PLATFORM,
    "app/desktop": ["app", "settings", "gui", "gui/qt", "net/http", "net/socket", "runtime"]
    + PLATFORM,
    "tools/rates-server": ["tools/rates-server/upstream", "runtime"] + PLATFORM,
    # The upstream client fills the server's tables and knows nothing else of it.
    "tools/rates-server/upstream": ["tools/rates-server/RatesTable.h", "runtime"] + PLATFORM,
    # Test support may drive anything below the programs.
    "testing": ["net/http", "net/socket", "runtime", "tools/rates-server"] + PLATFORM,
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
QT_HEADER = re.compile(r"^(Q[A-Za-z]+|Qt[A-Za-z]*/)")
# Tests, benchmarks, fuzz targets, the fixture headers tests share, tests/
# folders, testing/, and the desktop test group, which drives the installed
# window on a real X server.
TEST_FILE = re.compile(r"_(test|bench|fuzz)[A-Za-z_]*\.(cpp|h)$|Benchmark\.cpp$|TestFixture\.h$|(^|/)(tests|testing)/|^app/desktop/")

# What tests of a folder may drive besides their layer: the end-to-end tests
# of the upstream client go through the whole server.
TEST_EXTRA = {
    "tools/rates-server/upstream": ["tools/rates-server"],
}


def folder_of(path):
    """The layer a file belongs to: its folder, with a tests/ part dropped."""
    parts = path.split("/")[:-1]
    if "tests" in parts:
        parts = parts[: parts.index("tests")]
    return "/".join(parts)


def allowed(entries, target_path, target_folder):
    for entry in entries:
        if entry.endswith(".h"):
            if target_path == entry:
                return True
        elif entry.endswith("/*"):
            base = entry[:-2]
            if target_folder.startswith(base + "/"):
                return True
        elif target_folder == entry:
            return True
    return False


def check(path, text):
    problems = []
    folder = folder_of(path)
    is_test = bool(TEST_FILE.search(path))
    layer = "testing" if path.startswith("testing/") else folder
    entries = LAYERS.get(layer)
    for number, line in enumerate(text.splitlines(), 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        quoted, target = m.group(1) == '"', m.group(2)
        where = f"{path}:{number}"
        if not quoted:
            if QT_HEADER.match(target) and not folder.startswith("gui/qt"):
                problems.append(f"{where}: Qt header <{target}> outside gui/qt")
            continue
        if "/" not in target:
            continue  # a header beside the file
        target_folder = folder_of(target)
        target_is_test = target.startswith("testing/") or "/tests/" in target
        if target_is_test:
            if not is_test:
                problems.append(f'{where}: product code includes test support "{target}"')
            elif not (target.startswith("testing/") or target_folder == folder):
                problems.append(
                    f'{where}: "{target}" is another folder\'s test helper; '
                    "shared helpers live in testing/"
                )
            continue
        if target_folder == folder or target_folder == layer:
            continue
        if entries is None:
            problems.append(f"{where}: folder {folder} has no place in the layer map")
            continue
        if is_test and allowed(TEST_EXTRA.get(layer, []), target, target_folder):
            continue
        if not allowed(entries, target, target_folder):
            problems.append(f'{where}: {layer} may not include "{target}" (against the arrows)')
    return problems


def main():
    root = subprocess.run(
        ["git", "rev-parse", "--show-toplevel"],
        capture_output=True,
        text=True,
        check=True,
        cwd=os.path.dirname(os.path.abspath(__file__)),
    ).stdout.strip()
    files = subprocess.run(
        ["git", "ls-files", "*.cpp", "*.h"], capture_output=True, text=True, check=True, cwd=root
    ).stdout.split()
    problems = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            problems += check(path, f.read())
    for p in problems:
        print(p)
    if problems:
        print(f"check-layers: {len(problems)} include(s) against the layer map")
        return 1
    print(f"check-layers: {len(files)} files follow the layer map")
    return 0


if __name__ == "__main__":
    sys.exit(main())
