#!/usr/bin/env python3
"""Checks that the includes under src/ follow the floors of docs/architecture.md.

Each folder under src/ stands on a floor; a file may include files of its own floor or of a floor
below, never above. Folders on one floor may include each other but not in a circle; modules (a
.hpp/.cpp pair) of different folders never include each other in a circle, nor do the modules of
the folders in NO_CIRCLES_INSIDE. Known departures that are still to be removed are listed in
ALLOWED below, each with its reason; the check fails when one of them is mended but still listed,
so that the list only shrinks.

Usage: tools/check_layers.py [SOURCE_ROOT]   (default: the src/ folder beside this script's parent)
Prints one line per fault and exits 1 when there is any; prints a summary and exits 0 otherwise.
Plain Python 3, no packages: CI runs it as a test.
"""
import os
import re
import sys

# Bottom first. A folder not named here fails the check: every new folder takes a floor.
FLOORS = [
    ["base"],  # logging, file I/O, JSON text, UTF-8
    ["audio"],  # decoding, mixing, MIDI and charts (audio/midi belongs to audio)
    ["game"],  # the rules: circles, judgement, scoring, the game state and its clock step
    ["render", "level", "leaderboard", "prefs", "authoring", "replay"],
    ["ui"],  # the GUI core, shared widgets and screens
    ["app", "server"],  # wiring, main loop and threads; the leaderboard server program
]

# Folders whose own modules must not include each other in a circle either (elsewhere a folder's
# wiring module and its parts may know each other).
NO_CIRCLES_INSIDE = ["base", "game", "ui"]

# (including file, included file): departures still to be removed, with why they remain.
ALLOWED = {
}

# Folders whose inner circle is still to be broken, with why it remains.
ALLOWED_CIRCLES = {
}

# Folders whose files, and every file of ours they include, reach no windowing, GL, GUI, audio
# device or HTTP library: the rules and the replays link alone (the leaderboard server and
# command-line tools link them too).
PURE_FOLDERS = ["base", "game", "replay"]
IMPURE_HEADERS = re.compile(r"^(SDL|imgui|GL/|miniaudio|httplib)")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s+<([^>]+)>")


def folderOf(path):
    return path.split("/", 1)[0]


def moduleOf(path):
    return os.path.splitext(path)[0]


def scan(root):
    """{file relative to root: [included files under root]}, {file: [<system> includes]}."""
    includes = {}
    systemIncludes = {}
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith((".hpp", ".cpp", ".h")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            found = []
            system = []
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if m and os.path.exists(os.path.join(root, m.group(1))):
                        found.append(m.group(1))
                    m = SYSTEM_INCLUDE.match(line)
                    if m:
                        system.append(m.group(1))
            includes[path] = found
            systemIncludes[path] = system
    return includes, systemIncludes


def findCycle(graph):
    """One cycle of `graph` ({node: set(nodes)}) as a list of nodes, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def check(root):
    floorOf = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
    includes, systemIncludes = scan(root)
    faults = []
    used = set()
    folderGraph = {}
    moduleGraph = {}
    for path, targets in sorted(includes.items()):
        own = folderOf(path)
        if own not in floorOf:
            faults.append("%s: folder '%s' has no floor in tools/check_layers.py" % (path, own))
            continue
        for target in targets:
            other = folderOf(target)
            if (path, target) in ALLOWED:
                used.add((path, target))
                continue  # nor does it count towards a circle
            if other not in floorOf:
                faults.append("%s includes %s: folder '%s' has no floor" % (path, target, other))
            elif floorOf[other] > floorOf[own]:
                faults.append("%s (floor %d) includes %s (floor %d): includes point down only" %
                              (path, floorOf[own], target, floorOf[other]))
            if other != own:
                folderGraph.setdefault(own, set()).add(other)
            if moduleOf(target) != moduleOf(path):
                moduleGraph.setdefault(moduleOf(path), set()).add(moduleOf(target))
    for path in sorted(p for p in includes if folderOf(p) in PURE_FOLDERS):
        seen, todo = set(), [path]
        while todo:
            current = todo.pop()
            if current in seen:
                continue
            seen.add(current)
            todo.extend(includes.get(current, ()))
            for header in systemIncludes.get(current, ()):
                if IMPURE_HEADERS.match(header):
                    faults.append("%s reaches <%s> (through %s): %s must link alone" %
                                  (path, header, current, folderOf(path)))
    for stale in sorted(set(ALLOWED) - used):
        faults.append("%s no longer includes %s: remove it from ALLOWED" % stale)
    cycle = findCycle(folderGraph)
    if cycle:
        faults.append("folders include each other in a circle: " + " -> ".join(cycle))
    for component in circles(moduleGraph):
        folders = sorted({folderOf(m) for m in component})
        if len(folders) > 1:
            faults.append("files of different folders include each other in a circle: " + ", ".join(component))
        elif folders[0] in NO_CIRCLES_INSIDE and folders[0] not in ALLOWED_CIRCLES:
            faults.append("files of %s include each other in a circle: %s" % (folders[0], ", ".join(component)))
    return faults, len(includes)


def circles(graph):
    """The strongly connected components of `graph` with more than one node, each sorted."""
    index, low, stack, onStack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        onStack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in onStack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                onStack.discard(top)
                component.append(top)
                if top == node:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(max(sys.getrecursionlimit(), 10000))
    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(here), "src")
    faults, files = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print("%d include fault(s) in %d files" % (len(faults), files))
        return 1
    print("includes follow the floors: %d files, %d departures and %d circles still allowed" %
          (files, len(ALLOWED), len(ALLOWED_CIRCLES)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
