#!/usr/bin/env python3
"""Reads the layer table of docs/architecture.md and fails when a source file
includes a file of a higher layer, when a dialog includes another dialog,
when includes form a circle, or when a source file has no row in the table."""
import fnmatch
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..'))
# Bare names ("RqFrame.h") are found where the build looks for them.
BARE_DIRS = ['drivers', 'bridge']
SOURCE = re.compile(r'.*\.(h|hpp|c|cpp)$')
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_table():
    text = open(os.path.join(root, 'docs', 'architecture.md'), encoding='utf-8').read()
    section = text.split('## Layers', 1)[1]
    rows = []
    for line in section.splitlines():
        cells = [c.strip() for c in line.strip().strip('|').split('|')]
        if len(cells) < 4 or not cells[0].isdigit():
            continue
        level, name, closed, patterns = int(cells[0]), cells[1], cells[2] == 'no', cells[3]
        for p in re.findall(r'`([^`]+)`', patterns):
            rows.append((p, level, name, closed))
    if not rows:
        sys.exit('docs/architecture.md: no layer table under "## Layers"')
    return rows


def place(path, rows):
    """The row of the longest pattern that matches the file."""
    best = None
    for pattern, level, name, closed in rows:
        if fnmatch.fnmatchcase(path, pattern) and (best is None or len(pattern) > len(best[0])):
            best = (pattern, level, name, closed)
    return best


def resolve(including, name):
    for candidate in (name, os.path.join(os.path.dirname(including), name),
                      *(os.path.join(d, name) for d in BARE_DIRS)):
        candidate = os.path.normpath(candidate)
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None  # generated or outside the tree


def unit(path):
    return os.path.splitext(path)[0]


def main():
    rows = read_table()
    folders = sorted({p.split('/', 1)[0] for p, *_ in rows})
    files = []
    for folder in folders:
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            files += [os.path.relpath(os.path.join(dirpath, n), root) for n in names if SOURCE.match(n)]
    faults = []
    graph = {}
    for path in sorted(files):
        here = place(path, rows)
        if here is None:
            faults.append(f'{path}: no row of the layer table places it')
            continue
        text = open(os.path.join(root, path), encoding='utf-8', errors='replace').read()
        graph[path] = []
        for name in INCLUDE.findall(text):
            target = resolve(path, name)
            if target is None:
                continue
            graph[path].append(target)
            there = place(target, rows)
            if there is None:
                continue
            if there[1] > here[1]:
                faults.append(f'{path} ({here[2]}) includes {target} ({there[2]}), a higher layer')
            elif there[1] == here[1] and here[3] and unit(target) != unit(path):
                faults.append(f'{path} ({here[2]}) includes {target}: files of this layer include only their own header')
    # A circle of includes, however long.
    state = {}

    def visit(node, stack):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                faults.append('circle: ' + ' -> '.join(stack[stack.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node, [])
    for f in faults:
        print(f)
    print(f'{len(files)} files, {sum(len(v) for v in graph.values())} includes, {len(faults)} faults')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
