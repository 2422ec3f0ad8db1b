"""oracle_pairs.py - what the oracles share: every NAME.IN in a folder
beside NAME.OUT, handed to a check that says what is wrong, if anything.
"""
import os


def check_pairs(arguments, written, expected, what, problem):
    """arguments: FOLDER [MINIMUM]. Returns the exit code: 1 when a pair
    fails, or fewer than MINIMUM (default 1) pairs are there."""
    folder = arguments[0]
    minimum = int(arguments[1]) if len(arguments) > 1 else 1
    names = sorted(n[:-len(written)] for n in os.listdir(folder) if n.endswith(written))
    failed = 0
    for name in names:
        with open(os.path.join(folder, name + written), "rb") as f:
            stream = f.read()
        with open(os.path.join(folder, name + expected), "rb") as f:
            body = f.read()
        found = problem(stream, body)
        if found:
            print("%s%s: %s" % (name, written, found))
            failed += 1
    print("%d passed, %d failed" % (len(names) - failed, failed))
    if len(names) < minimum:
        print("only %d %s, expected at least %d" % (len(names), what, minimum))
        return 1
    return 1 if failed else 0
