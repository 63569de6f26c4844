#!/usr/bin/env python3
"""Fails when two modules of the tree include each other, directly or round a longer circle.

A module is a source file and its header (client/connection.h and client/connection.cpp are one
module); module A uses module B when any file of A includes B's header. A circle means that the
modules can only be understood, built and tested together: each should be one module, or the
shared part a third one that both use.

    module_cycles.py SOURCE_DIR
"""
import os
import re
import sys
from collections import defaultdict

SKIPPED = {"build", ".git", ".cache", "fixtures"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def module_of(path):
    return os.path.splitext(path)[0]


def uses(root):
    graph = defaultdict(set)
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = [s for s in subfolders if s not in SKIPPED]
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            with open(os.path.join(root, path), errors="replace") as source:
                for line in source:
                    match = INCLUDE.match(line)
                    if match and module_of(match.group(1)) != module_of(path):
                        graph[module_of(path)].add(module_of(match.group(1)))
    return graph


def circles(graph):
    """The strongly connected components of more than one module (Tarjan, without recursion)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = 0
    for start in list(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph.get(start, ()))))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is not None:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph.get(child, ())))))
                elif child in on_stack:
                    low[node] = min(low[node], index[child])
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    found.append(sorted(component))
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    found = circles(uses(sys.argv[1]))
    for component in found:
        print("modules that use each other: " + ", ".join(component))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
