#!/usr/bin/env python3
"""hard_stop_campaign.py - kills Saves with SIGKILL at random moments and
checks that the destination is each time either the old file or the
complete new one, and that no temporary file is left.

Usage: hard_stop_campaign.py [--runs N] [--runner RUNNER] PROGRAM [SHIM]
RUNNER (Wine) runs PROGRAM when given, in fewer runs (10), killed late
enough that Wine has started. SHIM, an LD_PRELOAD library that
makes O_TMPFILE fail, adds runs on the named-temporary path, where a kill
leaves a temporary file by design: those are counted, not failed.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fault_campaign import movie, movie_body  # noqa: E402

OLD = b"the old output, which must survive every kill"
TEMPORARY_PREFIXES = (".quillaro-", "qlr")


def temporaries(wait):
    """The temporary files left; Wine's server deletes an output held by a
    process that was killed a moment after it died, so that is waited
    for up to `wait` seconds."""
    for _ in range(int(wait * 10) + 1):
        found = [n for n in os.listdir(".") if n.startswith(TEMPORARY_PREFIXES)]
        if not found:
            break
        time.sleep(0.1)
    return found


def save(command, env):
    with open("out.swf", "wb") as f:
        f.write(OLD)
    return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=env)


def campaign(command, runs, env, label, seed, wine):
    """Returns the number of failures; prints the figures."""
    took = None
    for _ in range(2):  # the second run, with the caches (and Wine) warm
        started = time.monotonic()
        process = save(command, env)
        process.wait()
        took = time.monotonic() - started
    new = open("out.swf", "rb").read()
    if process.returncode != 0 or new == OLD:
        print("FAILED: %s: a run without a kill ended with %s" % (label, process.returncode))
        return 1
    rng = random.Random(seed)
    failures = damaged = left = killed = kept_old = in_window = 0
    for run in range(runs):
        for name in temporaries(0):
            os.remove(name)
        process = save(command, env)
        # Most kills land while the movie is converted or written, the
        # rest near the end, where the output is flushed and named.
        # Under Wine the first half of a run is Wine starting.
        if wine:
            time.sleep(rng.uniform(0.5 * took, 1.05 * took))
        else:
            time.sleep(rng.uniform(0, took) if run % 3 else rng.uniform(0.7 * took, 1.1 * took))
        killed += process.poll() is None
        process.send_signal(signal.SIGKILL)
        process.wait()
        now = open("out.swf", "rb").read()
        kept_old += now == OLD
        found = temporaries(2 if wine else 0)
        # Replacing links the finished output under a temporary name and
        # moves it over the destination: a kill between those two calls
        # leaves the complete new output under that name. Anything else
        # left is a failure.
        window = [n for n in found if open(n, "rb").read() == new]
        in_window += len(window)
        found = [n for n in found if n not in window]
        left += len(found)
        if now not in (OLD, new):
            failures += 1
            damaged += 1
            print("FAILED: %s: run %d: the destination is damaged (%d bytes)" % (label, run, len(now)))
        if found and not env.get("LD_PRELOAD"):
            failures += 1
            print("FAILED: %s: run %d: left %s" % (label, run, " ".join(found)))
    print("%s: %d runs (%d killed while running, a clean run takes %.2f s), destination old %d "
          "times and new %d times, %d damaged, %d files left, %d complete outputs left by a kill "
          "between naming and moving" %
          (label, runs, killed, took, kept_old, runs - kept_old, damaged, left, in_window))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int)
    parser.add_argument("--runner", default="")
    parser.add_argument("program")
    parser.add_argument("shim", nargs="?")
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    work = "hard-stop-campaign"
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.chdir(work)
    with open("in.swf", "wb") as f:
        f.write(movie(movie_body(2 << 20, 5)))
    command = ([options.runner] if options.runner else []) + [
        program, "save", "in.swf", "out.swf", "--movie", "compress", "--force"]
    env = dict(os.environ)
    wine = bool(options.runner)
    runs = options.runs or (10 if wine else 60)
    if wine:
        subprocess.run(["wineserver", "-p"])  # started once, not in the runs
    try:
        failures = campaign(command, runs, env, "hard stop" + " under Wine" * wine, 7, wine)
    finally:
        if wine:
            subprocess.run(["wineserver", "-k"])
    if options.shim:
        env["LD_PRELOAD"] = os.path.abspath(options.shim)
        failures += campaign(command, runs // 3, env, "hard stop, named temporary", 8, wine)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
