#!/usr/bin/env python3
"""Mutation run over the library and the host log, or over the jxrestart
tool: applies one operator change at a time, rebuilds, and runs the tests
of what was changed. A mutant the tests fail is killed; one they pass
survives and is listed, with its place, for a person to judge (some change
nothing observable). A mutant that does not build counts neither way.

  tests/mutation/mutate.py [BUILD_DIR] [--tool] [--sample N [--seed S]]
                           [--only PATH_SUBSTRING] [--list]

--tool mutates tools/jxrestart/ and judges by the tool's tests; --sample
takes N mutants drawn with the seed (default 1) instead of all of them.
The build folder is configured with only what the tests need, and the
sources are restored after each mutant, also when the run is interrupted.
"""
import glob
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FILES = ["restart/JxRestartability.cpp", "restart/ZNJxRestart.cpp", "restart/JxRestartAbi.cpp", "host/EvEvent.cpp",
         "restart/internal/Decimal.h", "restart/internal/MapStore.h", "restart/internal/RestartInput.h",
         "restart/internal/StringWriter.h", "restart/internal/TextFormat.h", "restart/internal/VolumeItem.h"]
# One operator change each: (pattern, replacement).
OPERATORS = [
    (r" == ", " != "), (r" != ", " == "), (r" <= ", " < "), (r" >= ", " > "), (r" < ", " <= "),
    (r" > ", " >= "), (r" && ", " || "), (r" \|\| ", " && "), (r"\btrue\b", "false"),
    (r"\bfalse\b", "true"), (r"(?<=[\w)\]]) \+ 1\b", " + 2"), (r"(?<=[\w)\]]) - 1\b", " - 2"),
    (r"\+\+(?=\w)", "--"), (r"(?<=\()!(?=\w)", ""), (r"(?<=[ (])(\d+)(?=[;,)\]])", None),
]
LABELS = "unit|alloc|concurrency|abi|corpus"
TOOL_FILES = sorted(os.path.relpath(p, ROOT) for p in glob.glob(os.path.join(ROOT, "tools/jxrestart/**/*.[ch]*"), recursive=True))
TOOL_LABELS = "tool|corpus"


def skippable(line):
    stripped = line.strip()
    return (not stripped or stripped.startswith(("//", "#", "*", "/*")) or "static_assert" in line
            or "template <" in line or "constexpr char" in line or "include" in line)


def mutants(path):
    with open(os.path.join(ROOT, path)) as f:
        lines = f.read().split("\n")
    for number, line in enumerate(lines):
        if skippable(line):
            continue
        code = line.split("//")[0]
        for pattern, replacement in OPERATORS:
            for match in re.finditer(pattern, code):
                if replacement is None:  # a number: one more
                    new = str(int(match.group(1)) + 1)
                else:
                    new = replacement
                mutated = line[:match.start()] + new + line[match.end():]
                if mutated != line:
                    yield number, mutated


def run(command, cwd, timeout):
    try:
        return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    def value(option, default):
        return sys.argv[sys.argv.index(option) + 1] if option in sys.argv else default
    valued = {value(o, None) for o in ("--only", "--sample", "--seed")}
    args = [a for a in sys.argv[1:] if not a.startswith("--") and a not in valued]
    build = os.path.abspath(args[0] if args else os.path.join(ROOT, "build-mutate"))
    tool = "--tool" in sys.argv
    files, labels = (TOOL_FILES, TOOL_LABELS) if tool else (FILES, LABELS)
    only = value("--only", "")
    listing = "--list" in sys.argv
    work = [(path, number, mutated) for path in files if only in path for number, mutated in mutants(path)]
    if "--sample" in sys.argv:
        work = sorted(random.Random(int(value("--seed", "1"))).sample(work, min(len(work), int(value("--sample", 0)))))
    if listing:
        for path, number, mutated in work:
            print(f"{path}:{number + 1}: {mutated.strip()}")
        print(f"{len(work)} mutants")
        return 0
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DJXRESTART_BUILD_TOOLS=" + ("ON" if tool else "OFF"), "-DJXRESTART_BUILD_BENCH=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    if run(["cmake", "--build", build], ROOT, 900) != 0 or run(["ctest", "-L", labels, "-j2"], build, 600) != 0:
        print("the unmutated build or its tests fail; nothing to measure")
        return 2
    killed, stillborn, survivors, started = 0, 0, [], time.time()
    for index, (path, number, mutated) in enumerate(work, 1):
        full = os.path.join(ROOT, path)
        with open(full) as f:
            original = f.read()
        lines = original.split("\n")
        lines[number] = mutated
        try:
            with open(full, "w") as f:
                f.write("\n".join(lines))
            built = run(["cmake", "--build", build], ROOT, 900) == 0
            dead = built and run(["ctest", "-L", labels, "-j2", "--timeout", "60"], build, 900) != 0
        finally:
            with open(full, "w") as f:
                f.write(original)
        stillborn += not built
        killed += dead
        if built and not dead:
            survivors.append(f"{path}:{number + 1}: {mutated.strip()}")
        verdict = "does not build" if not built else "killed" if dead else "SURVIVED"
        print(f"[{index}/{len(work)}] {verdict:14} {path}:{number + 1}: {mutated.strip()}", flush=True)
    run(["cmake", "--build", build], ROOT, 900)
    print("\nsurvivors:")
    for survivor in survivors:
        print("  " + survivor)
    tested = len(work) - stillborn
    score = 100.0 * killed / max(1, tested)
    print(f"\n{killed} of {tested} mutants that build killed ({score:.1f} %); {stillborn} did not build; "
          f"{(time.time() - started) / 60:.0f} min")
    return 0


if __name__ == "__main__":
    sys.exit(main())
