#!/usr/bin/env python3
"""Checks that every product folder includes headers only from its own layer or below.

Layers, lowest first: framework < storage < container < unpack < resources < launcher < tools.
A quoted #include is resolved by file name against the headers of all product
folders; an include that resolves to a higher layer, or to more than one folder,
is reported with file and line. Exit status 1 when anything is reported.
"""
import pathlib
import re
import sys

LAYERS = ["framework", "storage", "container", "unpack", "resources", "launcher", "tools"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def main(root: pathlib.Path) -> int:
    owner = {}  # header file name -> set of layers holding it
    for layer in LAYERS:
        for header in (root / layer).rglob("*.h"):
            owner.setdefault(header.name, set()).add(layer)

    problems = []
    for level, layer in enumerate(LAYERS):
        for source in sorted((root / layer).rglob("*")):
            if source.suffix not in (".h", ".cpp", ".c", ".rc"):
                continue
            for number, line in enumerate(source.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                name = pathlib.PurePosixPath(match.group(1))
                where = f"{source.relative_to(root)}:{number}"
                if ".." in name.parts:
                    problems.append(f"{where}: \"{name}\" reaches into another folder by a relative path")
                    continue
                holders = owner.get(name.name)
                if not holders:
                    continue  # a system or generated header
                if len(holders) > 1:
                    problems.append(f"{where}: \"{name}\" is ambiguous, found in {', '.join(sorted(holders))}")
                    continue
                target = next(iter(holders))
                if LAYERS.index(target) > level:
                    problems.append(f"{where}: {layer} includes \"{name}\" from {target}, a layer above it")
    for problem in problems:
        print(problem)
    print(f"layering: {len(problems)} problem(s) in {', '.join(LAYERS)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
