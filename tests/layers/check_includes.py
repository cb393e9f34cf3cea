#!/usr/bin/python3
"""Checks that no #include crosses the layers upwards.

check_includes.py ROOT LAYER...

Each LAYER is a space-separated list of folders (relative to ROOT), from the bottom layer up. A
file belongs to the folder of the longest matching prefix; it may include files of its own folder
and of any lower layer, never those of a folder of its own layer or of a layer above. Test code
(folders named tests or fuzz, files ending in _test.cpp) may include anything. Exit status 1 and
one line per crossing when the rule is broken.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCES = ('.h', '.hpp', '.c', '.cpp')


def is_test_code(rel):
    parts = rel.split('/')
    return any(p in ('tests', 'fuzz') for p in parts[:-1]) or parts[-1].endswith('_test.cpp')


def main(argv):
    root = os.path.abspath(argv[1])
    rank = {}
    for i, layer in enumerate(argv[2:]):
        for folder in layer.split():
            rank[folder.strip('/')] = i

    def folder_of(rel):
        best = None
        for folder in rank:
            if (rel == folder or rel.startswith(folder + '/')) and (best is None or len(folder) > len(best)):
                best = folder
        return best

    crossings = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if not d.startswith('.') and d != 'build' and not d.startswith('build-')]
        for name in filenames:
            if not name.endswith(SOURCES):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root)
            own = folder_of(rel)
            if own is None or is_test_code(rel):
                continue
            with open(path, encoding='utf-8', errors='replace') as f:
                text = f.read()
            for inc in INCLUDE.findall(text):
                candidates = [os.path.join(dirpath, inc), os.path.join(root, inc)]
                target = next((c for c in candidates if os.path.exists(c)), None)
                if target is None:
                    continue
                other = folder_of(os.path.relpath(os.path.normpath(target), root))
                if other is None or other == own:
                    continue
                if rank[other] >= rank[own]:
                    crossings.append('%s includes %s: %s (layer %d) may not use %s (layer %d)'
                                     % (rel, inc, own, rank[own], other, rank[other]))
    for line in sorted(crossings):
        print(line)
    return 1 if crossings else 0


if __name__ == '__main__':
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv))
