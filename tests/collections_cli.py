#!/usr/bin/env python3
"""collections_cli.py - quillaro-cli over collections, end to end: archives
made here (python3's zipfile and tarfile, a WARC written by hand) from
corpus movies, folders walked with -r, and the many-machines recipe of the
README run with GNU parallel on two local workers.

Usage: collections_cli.py CLI CORPUS_DIR PLAYER_EXE
Exits 77 (skipped) when the corpus is missing.
"""
import hashlib
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tarfile
import zipfile
import zlib

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)


def run(cli, *words):
    done = subprocess.run([cli] + list(words), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def facts(cli, *names):
    code, out, err = run(cli, "info", "--facts", "--json", *names)
    return code, [json.loads(line) for line in out.splitlines()], err


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def warc(records):
    """A WARC file of response records (uri, HTTP body)."""
    out = b""
    for uri, body in records:
        block = b"HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n" + body
        out += (b"WARC/1.0\r\nWARC-Type: response\r\nWARC-Date: 2009-05-01T12:00:00Z\r\n"
                b"WARC-Record-ID: <urn:uuid:" + sha256(uri.encode())[:32].encode() + b">\r\n"
                b"WARC-Target-URI: " + uri.encode() +
                b"\r\nContent-Type: application/http;msgtype=response\r\nContent-Length: " +
                str(len(block)).encode() + b"\r\n\r\n" + block + b"\r\n\r\n")
    return out


def make_collection(cli, corpus, player):
    """Movies, the same movie stored three ways and in a projector, and
    archives of them; returns {name: bytes} of the movies."""
    names = sorted(os.listdir(os.path.join(corpus, "swf")))
    picked = [n for n in names if n.endswith(".swf")][:12:3]
    movies = {}
    for name in picked:
        with open(os.path.join(corpus, "swf", name), "rb") as file:
            movies[name] = file.read()
    # A movie new enough for LZMA, stored three ways.
    source = next(os.path.join(corpus, "swf", n) for n in names
                  if open(os.path.join(corpus, "swf", n), "rb").read(4)[3] >= 13)
    for way, options in (("fws", ["--movie", "decompress"]), ("cws", ["--movie", "compress"]),
                         ("zws", ["--movie", "lzma", "--force"])):
        run(cli, "save", source, way + ".swf", *options)
    run(cli, "save", "cws.swf", "game.exe", "--player", "replace=" + player, "--force")
    for name in ("fws.swf", "cws.swf", "game.exe"):
        with open(name, "rb") as file:
            movies[name] = file.read()
    if os.path.exists("zws.swf"):
        with open("zws.swf", "rb") as file:
            movies["zws.swf"] = file.read()
    with zipfile.ZipFile("pack.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in movies.items():
            z.writestr("games/" + name, data)
        z.writestr("readme.txt", b"not a movie")
    with zipfile.ZipFile("outer.zip", "w", zipfile.ZIP_STORED) as z:
        z.write("pack.zip", "inner/pack.zip")
    with tarfile.open("pack.tar.gz", "w:gz") as t:
        for name, data in movies.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    with open("crawl.warc", "wb") as file:
        file.write(warc([("http://example.org/" + n, d) for n, d in movies.items()]))
    return movies


def test_entries_match_files(cli, movies):
    """Every entry's facts and identities are those of the same bytes as a file."""
    os.makedirs("files", exist_ok=True)
    for name, data in movies.items():
        with open(os.path.join("files", name), "wb") as file:
            file.write(data)
    code, as_files, _ = facts(cli, *[os.path.join("files", n) for n in movies])
    expected = {os.path.basename(f["file"]): dict(f, file=None) for f in as_files}
    for archive, prefix in (("pack.zip", "pack.zip!/games/"), ("outer.zip",
                            "outer.zip!/inner/pack.zip!/games/"), ("pack.tar.gz", "pack.tar.gz!/"),
                            ("crawl.warc", "crawl.warc!/http://example.org/")):
        code, entries, err = facts(cli, archive)
        check(code == 0, "%s: exit %d: %s" % (archive, code, err))
        check(len(entries) == len(movies), "%s: %d entries for %d movies" % (archive, len(entries),
                                                                           len(movies)))
        for entry in entries:
            name = entry["file"][len(prefix):]
            check(entry["file"].startswith(prefix), "%s: entry named %s" % (archive, entry["file"]))
            check(dict(entry, file=None) == expected.get(name),
                  "%s: %s differs from the file" % (archive, entry["file"]))
            check(entry["file_sha256"] == sha256(movies.get(name, b"")),
                  "%s: file_sha256 of %s" % (archive, name))
        check(("left out" in err) == archive.endswith(".zip"),
              "%s: skipped entries counted wrong: %s" % (archive, err))


def test_identity(cli, movies):
    """Copies stored three ways and in a projector share movie_sha256, which
    is the hash of what a decompressing save without player writes."""
    names = [n for n in ("fws.swf", "cws.swf", "zws.swf", "game.exe") if n in movies]
    code, found, _ = facts(cli, *names)
    identities = {f["movie_sha256"] for f in found}
    run(cli, "save", "game.exe", "plain.swf", "--movie", "decompress", "--player", "remove")
    with open("plain.swf", "rb") as file:
        check(identities == {sha256(file.read())}, "identities %s" % identities)
    # A file large enough to be hashed beside the decode of its movie: one
    # binary-data tag of noise, then the End tag.
    noise = random.Random(5).randbytes(5 << 20)
    body = b"\x00" + struct.pack("<HHHI", 24 << 8, 1, 87 << 6 | 0x3F, len(noise) + 6)
    body += struct.pack("<HI", 1, 0) + noise + b"\x00\x00"
    plain = b"FWS\x0a" + struct.pack("<I", len(body) + 8) + body
    stored = b"CWS" + plain[3:8] + zlib.compress(body)
    with open("large.swf", "wb") as file:
        file.write(stored)
    code, found, _ = facts(cli, "large.swf")
    check(code == 0 and found[0]["file_sha256"] == sha256(stored)
          and found[0]["movie_sha256"] == sha256(plain), "identities of a large movie")


def test_extraction(cli, movies):
    """An entry extracted is the stored movie byte for byte; names inside an
    archive never choose a folder."""
    code, _, err = run(cli, "extract-movie", "pack.zip!/games/game.exe", "from-entry.swf")
    run(cli, "extract-movie", "game.exe", "from-file.swf")
    with open("from-entry.swf", "rb") as a, open("from-file.swf", "rb") as b:
        check(code == 0 and a.read() == b.read(), "extract-movie of an entry: %s" % err)
    with zipfile.ZipFile("evil.zip", "w") as z:
        for path in ("../evil.swf", "sub/../../evil2.swf", "x/NUL.swf", "ok/good.swf"):
            z.writestr(path, movies["fws.swf"])
    code, _, err = run(cli, "extract-movie", "evil.zip", "--out-dir", "out")
    check(code == 1 and os.listdir("out") == ["good.swf"] and not os.path.exists("evil.swf"),
          "zip slip: exit %d, out %s, %s" % (code, os.listdir("out"), err))


def test_damage_and_folders(cli, movies):
    """A damaged archive fails only its own entries; -r walks folders in a
    stable order and does not follow a link to a folder."""
    with open("pack.zip", "rb") as file:
        whole = file.read()
    with open("cut.zip", "wb") as file:
        file.write(whole[:len(whole) * 2 // 3])
    code, out, err = run(cli, "check", "cut.zip", "fws.swf")
    check(code == 1 and "fws.swf: intact" in out and "cut.zip" in err,
          "damaged archive: exit %d\n%s%s" % (code, out, err))
    # Zeros read as an empty tar file: no collection, but a file of its own.
    with zipfile.ZipFile("image.zip", "w") as z:
        z.writestr("disk.img", bytes(4096) + movies["fws.swf"])
    with open("zeros.bin", "wb") as file:
        file.write(bytes(100000))
    code, out, err = run(cli, "scan", "image.zip", "zeros.bin")
    check("image.zip!/disk.img: offset 4096" in out and "zeros.bin: no movie found" in out,
          "zeros: exit %d\n%s%s" % (code, out, err))
    os.makedirs("tree/a/b", exist_ok=True)
    shutil.copy("pack.tar.gz", "tree/a/b/")
    shutil.copy("fws.swf", "tree/a/")
    os.symlink("..", "tree/a/loop")
    code, out, err = run(cli, "check", "-r", "tree")
    lines = [line.split(":")[0] for line in out.splitlines()]
    check(code == 0 and lines[0].startswith("tree/a/b/pack.tar.gz!/") and
          lines[-1] == "tree/a/fws.swf" and len(lines) == len(movies) + 1,
          "-r: exit %d\n%s%s" % (code, out, err))


def test_many_machines(cli, corpus):
    """The README's recipe: a file list split by GNU parallel over two
    workers prints the lines of one run."""
    listing = sorted(os.path.join(corpus, "swf", n) for n in os.listdir(os.path.join(corpus, "swf")))
    with open("files.txt", "w") as file:
        file.write("".join(name + "\n" for name in listing))
    split = subprocess.run(["parallel", "--sshlogin", "2/:", "-X", "-n", "20", "--keep-order",
                            "--joblog", "facts.log", cli, "info", "--facts", "--json", "::::",
                            "files.txt"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    single = subprocess.run([cli, "info", "--facts", "--json"] + listing,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    check(split == single and single.count(b"\n") == len(listing),
          "parallel: %d lines against %d" % (split.count(b"\n"), single.count(b"\n")))


def main(arguments):
    cli, corpus, player = [os.path.abspath(a) for a in arguments]
    if not os.path.isdir(os.path.join(corpus, "swf")):
        print("skipped: no corpus")
        return 77
    work = os.path.abspath("collections-work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.chdir(work)
    movies = make_collection(cli, corpus, player)
    test_entries_match_files(cli, movies)
    test_identity(cli, movies)
    test_extraction(cli, movies)
    test_damage_and_folders(cli, movies)
    if shutil.which("parallel"):
        test_many_machines(cli, corpus)
    for failure in FAILURES:
        print("FAILED: " + failure)
    print("%d failures" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
