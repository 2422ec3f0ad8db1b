#!/usr/bin/env python3
"""fault_campaign.py - makes each system call of a Save fail in turn, at
every occurrence (strace's fault injection), and checks that no fault
loses a file: a Save that fails leaves its destination as it was, one that
succeeds leaves the complete output, and none leaves a temporary file.
Also checks, on a run without faults, that every output is flushed before
it is named and its folder flushed before the program reports or ends.

Usage: fault_campaign.py [--runner RUNNER] PROGRAM [SHIM]
SHIM, an LD_PRELOAD library that makes O_TMPFILE fail, runs the single
--force Save once more on the named-temporary path.

Under Wine (RUNNER) the campaign is brief, and the faults are those that
reach the program: Wine's own client calls (requests to its server) cannot
fail without killing Wine, and its server makes the file-system calls
that create, open and rename files. So the disk fills up at a few sizes of
the output (a limit on the size of files the process writes), the flush
of the output's data fails, and the server's rename fails.
"""
import argparse
import collections
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import time
import zlib

# The faults, as a full disk, a failing disk or a refused permission.
FAULTS = [
    ("openat", "EACCES"), ("read", "EIO"), ("lseek", "EIO"), ("newfstatat", "EIO"),
    ("flock", "EIO"), ("write", "ENOSPC"), ("fsync", "EIO"), ("fchmod", "EPERM"),
    ("linkat", "EIO"), ("renameat2", "EIO"), ("renameat", "EIO"), ("rename", "EIO"),
    ("close", "EIO"),
]
NAMING_CALLS = ("linkat", "renameat", "renameat2", "rename")
NOT_FLUSHED = "its folder could not be flushed"
RUNNER = ""  # Wine, for the Windows program


def movie(body, signature=b"FWS"):
    return signature + bytes([10]) + struct.pack("<I", len(body) + 8) + body


def movie_body(size, seed):
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefgh") for _ in range(rng.randint(2, 9))) for _ in range(300)]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + bytes([rng.randrange(256)])
    return bytes(out[:size])


def damaged_movie():
    """A CWS movie whose zlib stream is cut after a third of it."""
    body = movie_body(60000, 3)
    stream = zlib.compress(body, 9)
    return b"CWS" + bytes([10]) + struct.pack("<I", len(body) + 8) + stream[: len(stream) // 3]


class Scenario:
    """A command and the outputs it writes: (output, input, content before
    or None when absent). `success` is the exit code of a complete run."""

    def __init__(self, name, args, outputs, success=0):
        self.name, self.args, self.outputs, self.success = name, args, outputs, success
        self.expected = {}


SCENARIOS = [
    Scenario("force", ["save", "in.swf", "out.swf", "--movie", "compress", "--threads", "2", "--force"],
             [("out.swf", "in.swf", b"old output")]),
    Scenario("new", ["save", "in.swf", "new.swf", "--movie", "compress", "--threads", "2"],
             [("new.swf", "in.swf", None)]),
    Scenario("batch", ["save", "a.swf", "b.swf", "--out-dir", "batch", "--movie", "compress",
                       "--threads", "2", "--jobs", "2", "--force"],
             [("batch/a.swf", "a.swf", b"old a"), ("batch/b.swf", "b.swf", None)]),
    Scenario("salvage", ["save", "cut.swf", "salvaged.swf", "--movie", "decompress", "--salvage",
                         "--force"],
             [("salvaged.swf", "cut.swf", b"old salvage")], success=4),
]


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def temporaries():
    """The temporary files in the work folders. Under Wine the server
    deletes an output it holds once the program's handles are closed,
    which may come a moment after the program ended."""
    for _ in range(20):
        names = os.listdir(".") + ["batch/" + n for n in os.listdir("batch")]
        found = [n for n in names if re.match(r"\.quillaro-|qlr.*\.tmp$", os.path.basename(n))]
        if not found or not RUNNER:
            return found
        time.sleep(0.1)
    return found


def reset(scenario):
    for path in temporaries():
        os.remove(path)
    for output, _, before in scenario.outputs:
        if before is None:
            if os.path.exists(output):
                os.remove(output)
        else:
            with open(output, "wb") as f:
                f.write(before)


def run(program, args, strace=(), env=None, file_limit=None):
    command = list(strace) + ([RUNNER] if RUNNER else []) + [program] + args

    def limit_files():  # a disk that is full once `file_limit` bytes are written
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))

    # Standard error goes to a file: Wine's helper processes inherit it and
    # outlive the program, so a pipe would not end with it.
    with open("stderr.txt", "w+b") as err:
        try:
            done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=err, timeout=60,
                                  env=env,
                                  preexec_fn=limit_files if file_limit is not None else None)
            code = done.returncode
        except subprocess.TimeoutExpired:
            code = "timeout"
        err.seek(0)
        return code, err.read().decode("utf-8", "replace")


def problems_of(scenario, code, err, fault):
    """What is wrong with the files after a run that ended with `code`."""
    found = []
    all_new = True
    for output, source, before in scenario.outputs:
        now = read(output)
        named = any(line.startswith("quillaro-cli: %s: " % name) and not re.search(
            r": (warning|note): |; salvaged ", line) for line in err.splitlines()
            for name in (output, source))
        not_flushed = "%s: was put in place, but %s" % (output, NOT_FLUSHED) in err
        if now == before:
            all_new = False
            if code == scenario.success:
                found.append("%s untouched, but exit %s" % (output, code))
            if not err and fault != "write":  # a failing write may take the message too
                found.append("%s untouched without a message" % output)
        elif now == scenario.expected[output]:
            if named and not not_flushed:
                found.append("%s written, but reported as failed" % output)
            all_new = all_new and not not_flushed
        else:
            found.append("%s damaged (%s bytes)" % (output, "no" if now is None else len(now)))
    if all_new and code != scenario.success:
        found.append("every output written, but exit %s" % code)
    if code == "timeout" or (isinstance(code, int) and code < 0):
        found.append("ended by %s" % code)
    left = temporaries()
    if left:
        found.append("left " + " ".join(left))
    return found, len(left)


def occurrences(program, scenario, env):
    """The most calls of each faulted system call that one thread of a
    run makes, from a trace without faults."""
    reset(scenario)
    names = ",".join(sorted({name for name, _ in FAULTS}))
    run(program, scenario.args, ["strace", "-f", "-qq", "-o", "trace.txt", "-e", "trace=" + names],
        env)
    counts = collections.Counter()
    for line in open("trace.txt", encoding="utf-8", errors="replace"):
        match = re.match(r"(\d+)\s+(\w+)\(", line)
        if match:
            counts[(match.group(1), match.group(2))] += 1
    most = collections.Counter()
    for (_, name), count in counts.items():
        most[name] = max(most[name], count)
    return most


def order_problems(program, scenario):
    """Every output's data is flushed before it is named, and its folder
    after, before the program writes a message or ends."""
    reset(scenario)
    run(program, scenario.args, ["strace", "-f", "-qq", "-y", "-o", "order.txt", "-e",
                                 "trace=fsync,write,exit_group," + ",".join(NAMING_CALLS)])
    folder = os.getcwd()
    events = []  # (kind, detail) in the order the calls returned
    pending = {}
    for line in open("order.txt", encoding="utf-8", errors="replace"):
        match = re.match(r"(\d+)\s+(?:<\.\.\. )?(\w+)(.*)", line)
        if not match:
            continue
        pid, name, rest = match.groups()
        if "<unfinished ...>" in rest:
            pending[pid] = rest
            continue
        if "resumed>" in rest:
            rest = pending.pop(pid, "") + rest
        if name == "fsync" and rest.rstrip().endswith("= 0"):
            path = re.search(r"<([^>]*)>", rest).group(1)
            events.append(("folder flushed" if path.rstrip("/") in (folder, folder + "/batch")
                           else "data flushed", path))
        elif name in NAMING_CALLS and rest.rstrip().endswith("= 0"):
            target = re.findall(r'"([^"]*)"', rest)[-1]
            if not target.startswith(".quillaro-"):
                events.append(("named", target))
        elif name == "write" and rest.startswith("(2"):
            events.append(("message", ""))
        elif name == "exit_group":
            events.append(("end", ""))
    found = []
    for index, (kind, target) in enumerate(events):
        if kind != "named":
            continue
        if not any(k == "data flushed" for k, _ in events[:index]):
            found.append("%s named before its data was flushed" % target)
        later = [k for k, _ in events[index + 1:] if k in ("folder flushed", "message", "end")]
        if not later or later[0] != "folder flushed":
            found.append("%s named, but its folder not flushed before %s" %
                         (target, later[0] if later else "the end"))
    return found


def campaign(program, scenario, env=None, label=None):
    label = label or scenario.name
    reset(scenario)
    code, err = run(program, scenario.args, env=env)
    if code != scenario.success:
        print("FAILED: %s: a run without faults ended with %s: %s" % (label, code, err))
        return 1
    for output, _, _ in scenario.outputs:
        scenario.expected[output] = read(output)
    cases = failures = files_left = 0
    for name, error in FAULTS:
        for when in range(1, occurrences(program, scenario, env)[name] + 1):
            reset(scenario)
            code, err = run(program, scenario.args,
                            ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + name, "-e",
                             "inject=%s:error=%s:when=%d" % (name, error, when)], env)
            found, left = problems_of(scenario, code, err, name)
            cases += 1
            files_left += left
            if found:
                failures += 1
                print("FAILED: %s: %s %s at call %d: exit %s: %s\n  %s" %
                      (label, name, error, when, code, "; ".join(found), err.strip()))
    order = order_problems(program, scenario) if env is None else []
    for problem in order:
        print("FAILED: %s: %s" % (label, problem))
    print("%s: %d cases, %d failures, %d files left%s" %
          (label, cases, failures, files_left, "" if env else ", flushes in order" if not order else ""))
    return failures + len(order)


def wine_case(program, scenario, label, strace=(), file_limit=None, server_strace=None):
    """One run under Wine; `server_strace` runs Wine's server under strace
    for this run. Returns (failures, files left)."""
    if server_strace:
        subprocess.run(["wineserver", "-k"])
        server = subprocess.Popen(server_strace + ["wineserver", "-f", "-p"])
        time.sleep(1)
    reset(scenario)
    code, err = run(program, scenario.args, strace, file_limit=file_limit)
    found, left = problems_of(scenario, code, err, "write" if file_limit is not None else "")
    if server_strace:
        subprocess.run(["wineserver", "-k"])
        server.wait()
        subprocess.run(["wineserver", "-p"])
    if found:
        print("FAILED: %s: exit %s: %s\n  %s" % (label, code, "; ".join(found), err.strip()))
    return len(found) != 0, left


def wine_campaign(program, scenario):
    reset(scenario)
    code, err = run(program, scenario.args)
    if code != scenario.success:
        print("FAILED: %s: a run without faults ended with %s: %s" % (scenario.name, code, err))
        return 1
    for output, _, _ in scenario.outputs:
        scenario.expected[output] = read(output)
    size = len(scenario.expected[scenario.outputs[0][0]])
    cases = [("disk full after %d bytes" % limit, {"file_limit": limit})
             for limit in (0, 4096, size // 2, size - 1)]
    cases.append(("fsync EIO", {"strace": ["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                           "trace=fsync", "-e", "inject=fsync:error=EIO:when=1"]}))
    cases.append(("server's rename EIO", {"server_strace": [
        "strace", "-qq", "-o", "/dev/null", "-e", "trace=rename,renameat,renameat2", "-e",
        "inject=rename,renameat,renameat2:error=EIO:when=1"]}))
    failures = files_left = 0
    for name, options in cases:
        failed, left = wine_case(program, scenario, "%s: %s" % (scenario.name, name), **options)
        failures += failed
        files_left += left
    print("%s under Wine: %d cases, %d failures, %d files left" %
          (scenario.name, len(cases), failures, files_left))
    return failures


def main():
    global RUNNER
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", default="")
    parser.add_argument("program")
    parser.add_argument("shim", nargs="?")
    options = parser.parse_args()
    RUNNER = options.runner
    program = os.path.abspath(options.program)
    if not shutil.which("strace"):
        print("strace is missing (tools/install-packages installs it)")
        return 1
    work = "fault-campaign"
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work + "/batch")
    os.chdir(work)
    files = {"in.swf": movie(movie_body(150000, 1)), "a.swf": movie(movie_body(40000, 2)),
             "b.swf": movie(movie_body(50000, 4)), "cut.swf": damaged_movie()}
    for name, data in files.items():
        with open(name, "wb") as f:
            f.write(data)
    if RUNNER:
        subprocess.run(["wineserver", "-p"])
        try:
            failures = sum(wine_campaign(program, scenario) for scenario in SCENARIOS[:2])
        finally:
            subprocess.run(["wineserver", "-k"])
        return 1 if failures else 0
    failures = sum(campaign(program, scenario) for scenario in SCENARIOS)
    if options.shim:
        env = dict(os.environ, LD_PRELOAD=os.path.abspath(options.shim))
        failures += campaign(program, SCENARIOS[0], env, "force, named temporary")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
