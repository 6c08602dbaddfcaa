#!/usr/bin/env python3
"""Mutation runner: do the tests notice when the code is wrong?

For each source file given, makes small realistic faults one at a time (a comparison flipped, a
condition negated, && and || exchanged, a signal emission, an early return or a guard dropped, a
constant moved by one, two adjacent statements swapped), rebuilds only the test targets that depend
on the file, runs those tests, and puts the file back. A mutant is killed when a test fails or runs
out of time, survives when every test passes, and is not viable when it does not build.

    tools/mutate.py [--build-dir build] [--since REV] [--max N] FILE...

--since REV mutates only the lines that changed since REV (git diff). The file is always restored,
also on Ctrl-C; a run that was killed outright leaves a backup that the next run restores first.
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BACKUP_DIR = Path(tempfile.gettempdir()) / "nw-mutate-backups"


# --- finding the mutants --------------------------------------------------------------------------


def code_mask(line):
    """Which characters of a line are code: not inside a string or character literal, not a comment."""
    mask = [True] * len(line)
    quote = None
    i = 0
    while i < len(line):
        c = line[i]
        if quote:
            mask[i] = False
            if c == "\\":
                if i + 1 < len(line):
                    mask[i + 1] = False
                i += 2
                continue
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            mask[i] = False
        elif line.startswith("//", i):
            for j in range(i, len(line)):
                mask[j] = False
            break
        i += 1
    return mask


def code_matches(pattern, line):
    mask = code_mask(line)
    return [m for m in re.finditer(pattern, line) if all(mask[m.start():m.end()])]


COMPARISONS = {" == ": " != ", " != ": " == ", " <= ": " > ", " >= ": " < ", " < ": " >= ", " > ": " <= "}
EARLY_EXIT = re.compile(r"^\s*if \(.*\)\s*(return\b[^;]*|continue|break);\s*$")
SIMPLE_STATEMENT = re.compile(r"^\s*[^\s{}#/].*;\s*$")
CONTROL = re.compile(r"^\s*(if|else|for|while|do|switch|case|default|return|break|continue|goto)\b|[{}]")


def skippable(line):
    s = line.strip()
    return (not s or s.startswith(("//", "#", "*", "/*")) or s.startswith(("static_assert", "Q_"))
            or s in ("{", "}", "};", "});"))


def balanced_if(line):
    """The if line split as prefix, condition, rest, when its condition's parentheses close on it."""
    m = re.match(r"^(\s*(?:\} else )?if \()", line)
    if not m:
        return None
    depth = 1
    mask = code_mask(line)
    for i in range(m.end(), len(line)):
        if not mask[i]:
            continue
        if line[i] == "(":
            depth += 1
        elif line[i] == ")":
            depth -= 1
            if depth == 0:
                return line[:m.end()], line[m.end():i], line[i:]
    return None


DECLARATION = re.compile(r"^\s*(?:const\s+|static\s+)*[A-Za-z_][\w:<>,*& ]*?[\s*&]+([A-Za-z_]\w*)\s*(?:=[^=].*|\(.*\)|\{.*\})?;\s*$")
ASSIGNMENT = re.compile(r"^\s*([A-Za-z_][\w.\->\[\]]*?)\s*=[^=].*;\s*$")


def written_name(statement):
    """The variable a declaration or plain assignment writes, or None for anything else."""
    if re.match(r"^\s*(return|emit|delete|throw)\b", statement):
        return None
    m = ASSIGNMENT.match(statement) or DECLARATION.match(statement)
    return re.findall(r"\w+", m.group(1))[-1] if m else None


SETTER = re.compile(r"^\s*(?:([\w.\->]+?)(?:\.|->))?(set[A-Z]\w*)\((.*)\);\s*$")


def code_names(statement):
    mask = code_mask(statement)
    return re.findall(r"\w+", "".join(c if keep else " " for c, keep in zip(statement, mask)))


def independent(first, second):
    """Two declarations or assignments of which neither touches what the other writes, or two setters
    of different properties whose values do not read the other's object: swapping them changes
    nothing, so the mutant would only add an equivalent survivor."""
    sa, sb = SETTER.match(first), SETTER.match(second)
    if sa and sb:
        return (sa.group(2) != sb.group(2) or sa.group(1) != sb.group(1)) and \
            not set(code_names(sa.group(3))) & set(code_names(sb.group(1) or "")) and \
            not set(code_names(sb.group(3))) & set(code_names(sa.group(1) or ""))
    a, b = written_name(first), written_name(second)
    if not a or not b:
        return False
    return a not in code_names(second) and b not in code_names(first)


CONNECT = re.compile(r"^\s*(?:QObject::)?connect\(\s*([^,]+),\s*([^,]+),")


def separate_connections(first, second):
    """Two connections of different signals: Qt keeps the order only among the slots of one signal."""
    a, b = CONNECT.match(first), CONNECT.match(second)
    return bool(a and b) and (a.group(1).strip(), a.group(2).strip()) != (b.group(1).strip(), b.group(2).strip())


def mutants_of(lines, wanted):
    """Every mutant of the wanted line numbers (1-based): (line, kind, {line: new text}, description)."""
    out = []
    for n in sorted(wanted):
        line = lines[n - 1]
        if skippable(line):
            continue
        body = line.rstrip("\n")

        for old, new in COMPARISONS.items():
            for m in code_matches(re.escape(old), body):
                text = body[:m.start()] + new + body[m.end():]
                out.append((n, "comparison flipped", {n: text}))
        for m in code_matches(r" (&&|\|\|) ", body):
            new = " || " if m.group(1) == "&&" else " && "
            out.append((n, "&& and || exchanged", {n: body[:m.start()] + new + body[m.end():]}))

        split = balanced_if(body)
        if split:
            prefix, cond, rest = split
            out.append((n, "condition negated", {n: prefix + "!(" + cond + ")" + rest}))

        if re.match(r"^\s*emit\b.*;\s*$", body):
            out.append((n, "signal emission dropped", {n: re.match(r"^\s*", body).group(0) + ";"}))

        if EARLY_EXIT.match(body):
            out.append((n, "guard removed", {n: ""}))
        elif re.match(r"^\s*return\b[^;]*;\s*$", body) and n >= 2:
            before = lines[n - 2].strip()
            if re.match(r"^(\} else )?if \(.*\{$", before) or before == "} else {":
                out.append((n, "error path dropped", {n: ""}))

        for m in code_matches(r"(?<![\w.])(\d+)(?![\w.])", body):
            value = int(m.group(1))
            out.append((n, "constant moved by one", {n: body[:m.start()] + str(value + 1) + body[m.end():]}))
        for m in code_matches(r"\b(true|false)\b", body):
            new = "false" if m.group(1) == "true" else "true"
            out.append((n, "constant moved by one", {n: body[:m.start()] + new + body[m.end():]}))

        if n < len(lines):
            nxt = lines[n].rstrip("\n")
            indent = re.match(r"^\s*", body).group(0)
            if (SIMPLE_STATEMENT.match(body) and SIMPLE_STATEMENT.match(nxt) and not CONTROL.search(body)
                    and not CONTROL.search(nxt) and re.match(r"^\s*", nxt).group(0) == indent
                    and not skippable(nxt) and not independent(body, nxt)
                    and not separate_connections(body, nxt)):
                out.append((n, "statements swapped", {n: nxt, n + 1: body}))
    return out


def changed_lines(path, since):
    diff = subprocess.run(["git", "diff", "-U0", since, "--", str(path)], capture_output=True, text=True,
                          cwd=path.parent, check=True).stdout
    wanted = set()
    for m in re.finditer(r"^@@ -\S+ \+(\d+)(?:,(\d+))? @@", diff, re.M):
        start, count = int(m.group(1)), int(m.group(2) or 1)
        wanted.update(range(start, start + count))
    return wanted


def sample(mutants, limit, key):
    if limit is None or len(mutants) <= limit:
        return mutants
    rng = random.Random(int(hashlib.sha256(key.encode()).hexdigest(), 16))
    return sorted(rng.sample(mutants, limit), key=lambda m: m[0])


# --- which tests depend on a file -----------------------------------------------------------------


def target_graph(build):
    """Target -> the targets it needs, from the Makefile generator's list of target dependencies."""
    graph = {}
    makefile2 = build / "CMakeFiles" / "Makefile2"
    edge = re.compile(r"^(\S+)/CMakeFiles/([^/]+)\.dir/all: (\S+)/CMakeFiles/([^/]+)\.dir/all$")
    plain = re.compile(r"^(?:\S+/)?CMakeFiles/([^/]+)\.dir/all: (?:\S+/)?CMakeFiles/([^/]+)\.dir/all$")
    for line in makefile2.read_text().splitlines():
        m = edge.match(line) or plain.match(line)
        if m:
            a, b = (m.group(2), m.group(4)) if m.re is edge else (m.group(1), m.group(2))
            graph.setdefault(a, set()).add(b)
    return graph


def owners(build, source):
    """The targets that compile the source file."""
    name = source.name + ".o"
    found = set()
    for obj in build.rglob(name):
        for part in obj.parts:
            if part.endswith(".dir"):
                found.add(part[:-4])
                break
    return found


def tests_by_target(build):
    show = subprocess.run(["ctest", "--test-dir", str(build), "--show-only=json-v1"], capture_output=True,
                          text=True, check=True).stdout
    tests = {}
    for t in json.loads(show).get("tests", []):
        command = t.get("command") or []
        if command:
            tests.setdefault(Path(command[0]).name, []).append(t["name"])
    return tests


def dependent_tests(build, source):
    graph = target_graph(build)
    start = owners(build, source)
    if not start:
        return [], []
    needers = {}
    for a, deps in graph.items():
        for b in deps:
            needers.setdefault(b, set()).add(a)
    closure, todo = set(start), list(start)
    while todo:
        for a in needers.get(todo.pop(), ()):
            if a not in closure:
                closure.add(a)
                todo.append(a)
    by_target = tests_by_target(build)
    targets = sorted(t for t in closure if t in by_target)
    tests = sorted(name for t in targets for name in by_target[t])
    return targets, tests


# --- running --------------------------------------------------------------------------------------


class Restorer:
    """Keeps a file's original bytes, in memory and in a backup file, until it is put back."""

    def __init__(self, path):
        self.path = path
        self.original = path.read_bytes()
        BACKUP_DIR.mkdir(parents=True, exist_ok=True)
        self.backup = BACKUP_DIR / hashlib.sha256(str(path.resolve()).encode()).hexdigest()
        self.backup.write_bytes(self.original)

    def restore(self):
        # Written even when unchanged: a fresh time stamp makes the next build drop the mutant's objects.
        self.path.write_bytes(self.original)
        if self.backup.exists():
            self.backup.unlink()


def restore_leftovers(paths):
    for path in paths:
        backup = BACKUP_DIR / hashlib.sha256(str(path.resolve()).encode()).hexdigest()
        if backup.exists():
            print(f"restoring {path} from an interrupted run", file=sys.stderr)
            path.write_bytes(backup.read_bytes())
            backup.unlink()


def build(build_dir, targets, jobs):
    r = subprocess.run(["cmake", "--build", str(build_dir), "-j", str(jobs), "--target", *targets],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return r.returncode == 0


def run_one(build_dir, test, timeout):
    # A group of its own, so a test that hangs is ended with ctest rather than left running.
    p = subprocess.Popen(["ctest", "--test-dir", str(build_dir), "-R", "^" + re.escape(test) + "$",
                          "--timeout", str(timeout)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    try:
        return p.wait(timeout=timeout + 60) == 0
    except subprocess.TimeoutExpired:
        return False
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()


def baseline(build_dir, tests, timeout):
    """Runs each test on the unchanged code; their times, or None when one fails."""
    times = {}
    for test in tests:
        started = time.monotonic()
        if not run_one(build_dir, test, timeout):
            print(f"  {test} fails without any mutant", file=sys.stderr)
            return None
        times[test] = time.monotonic() - started
    return times


def run_tests(build_dir, times, timeout):
    """True when every test passes. The quickest run first, so a mutant is mostly caught in seconds;
    a test running five times its usual length (at least 20 s) counts as hanging."""
    for test in sorted(times, key=times.get):
        if not run_one(build_dir, test, min(timeout, max(20, int(5 * times[test])))):
            return False
    return True


def apply(lines, changes):
    out = list(lines)
    for n, text in changes.items():
        out[n - 1] = text + "\n" if text else ""
    return "".join(out)


def show(lines, n, kind, changes):
    parts = [f"  line {n} [{kind}]"]
    for k in sorted(changes):
        parts.append(f"    - {lines[k - 1].rstrip()}")
        parts.append(f"    + {changes[k].rstrip() if changes[k] else '(removed)'}")
    return "\n".join(parts)


def mutate_file(path, args):
    lines = path.read_text().splitlines(keepends=True)
    if args.recheck:
        # The survivors of an earlier run, as long as the lines they change are still as they were.
        mutants = []
        for r in json.loads(args.recheck.read_text()):
            if Path(r["file"]).name != path.name:
                continue
            for m in r.get("survivors", []):
                changes = {int(k): v for k, v in m["changes"].items()}

                def fits(shift):
                    return all(0 < k + shift <= len(lines) and lines[k + shift - 1].rstrip("\n") == m["was"][str(k)]
                               for k in changes)
                # Lines added or removed above since: the same text a little further up or down.
                shift = next((d for d in sorted(range(-60, 61), key=abs) if fits(d)), None)
                if shift is None:
                    print(f"  line {m['line']} [{m['kind']}]: the line has changed, not rechecked")
                    continue
                mutants.append((m["line"] + shift, m["kind"], {k + shift: v for k, v in changes.items()}))
    else:
        wanted = changed_lines(path, args.since) if args.since else set(range(1, len(lines) + 1))
        mutants = sample(mutants_of(lines, wanted), args.max, f"{args.seed}:{path.name}")
    targets, tests = dependent_tests(args.build_dir, path)
    if args.tests:
        chosen = {target: [t for t in names if re.search(args.tests, t)]
                  for target, names in tests_by_target(args.build_dir).items()}
        targets = [target for target, names in chosen.items() if names]
        tests = sorted(t for names in chosen.values() for t in names)
    targets = sorted(set(targets) | set(args.targets or []))
    if args.list:
        print(f"{path}: {len(mutants)} mutants; targets {' '.join(targets)}; tests {' '.join(tests)}")
        for n, kind, changes in mutants:
            print(show(lines, n, kind, changes))
        return None
    if not tests:
        print(f"{path}: no test depends on it", file=sys.stderr)
        return None

    restorer = Restorer(path)
    result = {"file": str(path), "total": len(mutants), "killed": 0, "survived": [], "not_viable": 0,
              "survivors": []}
    try:
        times = baseline(args.build_dir, tests, args.timeout) if build(args.build_dir, targets, args.jobs) else None
        if times is None:
            print(f"{path}: the tests fail without any mutant; nothing measured", file=sys.stderr)
            return None
        for i, (n, kind, changes) in enumerate(mutants, 1):
            path.write_text(apply(lines, changes))
            started = time.monotonic()
            if not build(args.build_dir, targets, args.jobs):
                verdict = "not viable"
                result["not_viable"] += 1
            elif run_tests(args.build_dir, times, args.timeout):
                verdict = "SURVIVED"
                result["survived"].append(show(lines, n, kind, changes))
                result["survivors"].append({"line": n, "kind": kind, "changes": changes,
                                            "was": {k: lines[k - 1].rstrip("\n") for k in changes}})
            else:
                verdict = "killed"
                result["killed"] += 1
            restorer.restore()
            print(f"  [{i}/{len(mutants)}] line {n} {kind}: {verdict} ({time.monotonic() - started:.0f} s)",
                  flush=True)
    finally:
        restorer.restore()
    # The build tree left as the source is.
    build(args.build_dir, targets, args.jobs)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="+", type=Path)
    parser.add_argument("--build-dir", type=Path, default=Path("build"))
    parser.add_argument("--since", help="mutate only the lines changed since this git revision")
    parser.add_argument("--max", type=int, help="at most this many mutants per file (a fixed sample)")
    parser.add_argument("--seed", default="0", help="picks the sample (default 0)")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per test (default 300)")
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    parser.add_argument("--tests", help="run the tests matching this expression instead of the found ones")
    parser.add_argument("--targets", nargs="*", help="targets to build besides the found ones")
    parser.add_argument("--list", action="store_true", help="only list the mutants and the tests")
    parser.add_argument("--json", type=Path, help="also write the results to this file")
    parser.add_argument("--recheck", type=Path, help="run again only the survivors in this --json file")
    args = parser.parse_args()
    args.build_dir = args.build_dir.resolve()
    files = [f.resolve() for f in args.files]
    restore_leftovers(files)

    # Ctrl-C and a polite kill end the run through the finally clauses, which put the file back.
    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)

    results = []
    try:
        for path in files:
            print(f"{path}:", flush=True)
            r = mutate_file(path, args)
            if r:
                results.append(r)
    except KeyboardInterrupt:
        print("interrupted; the files are restored", file=sys.stderr)
        return 130

    for r in results:
        viable = r["total"] - r["not_viable"]
        score = 100.0 * r["killed"] / viable if viable else 100.0
        print(f"\n{r['file']}: {r['killed']}/{viable} killed ({score:.0f} %), "
              f"{len(r['survived'])} survived, {r['not_viable']} not viable")
        for s in r["survived"]:
            print(s)
    if args.json:
        args.json.write_text(json.dumps(results, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
