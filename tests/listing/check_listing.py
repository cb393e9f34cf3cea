#!/usr/bin/python3
"""Checks the list of tests ctest knows.

    check_listing.py labels SOURCE_DIR BUILD_DIR CTEST
    check_listing.py names SOURCE_DIR BUILD_DIR CTEST

labels: every test carries its folder's label, and each folder README's test command selects every
test of that folder and of the folders below it.

A test's folder is the folder of the CMakeLists.txt that adds it, less a last "tests": for a test
program that is where it is built, for a command test the file that adds it. A README's test
command is a `ctest -L REGEX` in its text; a folder README with tests under it must have one that
selects them all (others may select fewer).
names: every case of a parameterised test has a name of its own (Prefix/Suite.Test/Name), made by
its suite's name generator: not its number in the list, nor the bytes of its value.
Exit status 0 when all holds, 1 with the faults listed otherwise."""
import json
import os
import re
import subprocess
import sys

COMMAND = re.compile(r"ctest\b[^`\n]*?\s-L\s+(?:'([^']*)'|\"([^\"]*)\"|([^\s`]+))")


def folder_of(directory, root):
    folder = os.path.relpath(directory, root).replace(os.sep, "/")
    return re.sub(r"/tests$", "", folder)


def test_folders(listing, source, build):
    """name -> (folder, labels) for every test ctest knows."""
    files = listing["backtraceGraph"]["files"]
    nodes = listing["backtraceGraph"]["nodes"]
    build_prefix = os.path.realpath(build) + os.sep
    tests = {}
    for test in listing["tests"]:
        labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
        folder = None
        if test.get("backtrace") is not None:
            # The add_test of a function in the top CMakeLists.txt: the folder is its caller's.
            node = nodes[test["backtrace"]]
            while os.path.dirname(files[node["file"]]) == os.path.realpath(source) and "parent" in node:
                node = nodes[node["parent"]]
            folder = folder_of(os.path.dirname(files[node["file"]]), source)
        else:
            for argument in test.get("command", []):
                path = os.path.realpath(argument)
                if path.startswith(build_prefix) and os.path.isfile(path) and os.access(path, os.X_OK):
                    folder = folder_of(os.path.dirname(path), build)
                    break
        tests[test["name"]] = (folder, labels)
    return tests


def readmes(source, build):
    skip = {os.path.realpath(build), os.path.realpath(os.path.join(source, ".git"))}
    for directory, subdirectories, names in os.walk(source):
        subdirectories[:] = [d for d in subdirectories if os.path.realpath(os.path.join(directory, d)) not in skip]
        if "README.md" in names and os.path.realpath(directory) != os.path.realpath(source):
            yield folder_of(directory, source), os.path.join(directory, "README.md")


def listing(build, ctest):
    shown = subprocess.run([ctest, "--show-only=json-v1"], cwd=build, capture_output=True, text=True, check=True)
    return json.loads(shown.stdout)


PARAMETERISED = re.compile(r"^[^/.]+/[^.]+\.[^/]+/(?P<case>.*)$")


def name_faults(source, build, ctest):
    found = []
    for test in listing(build, ctest)["tests"]:
        case = PARAMETERISED.match(test["name"])
        if case and not re.fullmatch(r"[A-Za-z0-9_]*[A-Za-z_][A-Za-z0-9_]*", case.group("case")):
            found.append(f"{test['name']}: the case has no name of its own")
    return found


def label_faults(source, build, ctest):
    tests = test_folders(listing(build, ctest), source, build)
    found = []
    for name, (folder, labels) in sorted(tests.items()):
        if folder is None:
            found.append(f"{name}: no folder found for it")
        elif folder not in labels:
            found.append(f"{name}: labels {labels}, not its folder {folder}")
    for folder, readme in readmes(source, build):
        own = {n for n, (f, labels) in tests.items()
               if f == folder or f.startswith(folder + "/") or folder in labels}
        text = open(readme, encoding="utf-8").read()
        patterns = [next(g for g in m.groups() if g is not None) for m in COMMAND.finditer(text)]
        if not patterns:
            if own:
                found.append(f"{readme}: {len(own)} tests under it and no `ctest -L` command")
            continue
        missing = []
        for pattern in patterns:
            selected = {n for n, (_, labels) in tests.items() if any(re.search(pattern, l) for l in labels)}
            missing.append((sorted(own - selected) if selected else None, pattern))
        if not any(missed == [] for missed, _ in missing):
            missed, pattern = missing[0]
            if missed is None:
                found.append(f"{readme}: `ctest -L {pattern}` selects no test")
            else:
                found.append(f"{readme}: `ctest -L {pattern}` leaves out {', '.join(missed[:5])}"
                             + (f" and {len(missed) - 5} more" if len(missed) > 5 else ""))
    return found


if __name__ == "__main__":
    check = {"labels": label_faults, "names": name_faults}[sys.argv[1]]
    problems = check(*sys.argv[2:5])
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)
