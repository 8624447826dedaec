#!/usr/bin/env python3
"""unsfx.exe asks for a password on the console: read with echo off, as characters, each
taken into the code page the key is made in (--codepage, else the ANSI one), and shows the
riddle and the other texts to the console as characters. Runs unsfx.exe under Wine on a
pseudo-terminal, one row a typed password. sfx-pack.exe and unsfx.exe take their texts and
passwords from the wide command line: rows run them with texts no ANSI code page of theirs
holds.

usage: console_password_test.py WINE_RUN UNSFX_EXE SFX_PACK WORK_DIR SFX_PACK_EXE UNSFX
"""
import json
import os
import pty
import re
import select
import signal
import subprocess
import sys
import time

# Wine takes its ANSI code page (1252) and the terminal's character set (UTF-8) from here.
WINE_ENV = dict(os.environ, LC_ALL="C.UTF-8")

# Containers the rows open, by name: the packer ("host" sfx-pack or "exe" sfx-pack.exe under
# Wine) and its options besides --stub, --input and -o.
CONTAINERS = {
    "c.exe": ("host", ["--password", "secret"]),
    # For a Russian Windows, packed on a Western one: texts and password in code page 1251.
    "r.exe": ("exe", ["--codepage", "1251", "--password", "\u043f\u0430\u0440\u043e\u043b\u044c",
                      "--riddle", "\u041a\u043b\u044e\u0447",
                      "--description", "\u041e\u0442\u0447\u0451\u0442"]),
    "e.exe": ("exe", ["--no-password", "--description", "Caf\u00e9"]),
}

# Container, unsfx.exe's arguments before it, typed password, exit status, a text the run
# must show.
ROWS = [
    ("c.exe", ["test"], "secret", 0, "OK"),
    ("c.exe", ["test"], "opensesame", 4, "wrong password"),
    # Cyrillic is in no Western ANSI code page: refused, never turned into "?".
    ("c.exe", ["test"], "s\u0436cret", 64, "ANSI"),
    # The riddle is shown as characters whatever the console's code page, and what is typed
    # is taken into code page 1251, not the ANSI one.
    ("r.exe", ["--codepage", "1251", "test"], "\u043f\u0430\u0440\u043e\u043b\u044c", 0,
     "Riddle: \u041a\u043b\u044e\u0447"),
    # So are the texts info shows (nothing is asked: what is typed goes nowhere).
    ("r.exe", ["--codepage", "1251", "info"], "", 0,
     "description:       \u041e\u0442\u0447\u0451\u0442"),
]

# Container, the field of the host unsfx's info --json, the bytes sfx-pack.exe stored there.
STORED_ROWS = [
    ("r.exe", "descriptionBytes", "cef2f7b8f2"),
    ("r.exe", "riddleBytes", "caebfef7"),
    ("e.exe", "descriptionBytes", "436166e9"),
]

# Container, unsfx.exe's arguments before it, exit status: -p from the wide command line.
GIVEN_ROWS = [
    ("r.exe", ["--codepage", "1251", "-p", "\u043f\u0430\u0440\u043e\u043b\u044c", "test"], 0),
    ("r.exe", ["--codepage", "1251", "--password=\u043f\u0430\u0440\u043e\u043b\u044c", "test"],
     0),
    # In the ANSI code page 1252 the password is no text: refused, not turned into "?".
    ("r.exe", ["-p", "\u043f\u0430\u0440\u043e\u043b\u044c", "test"], 64),
]


def read_until(fd, seconds, done):
    """What the program writes, until done(text so far) is true or `seconds` pass."""
    out = b""
    end = time.time() + seconds
    while time.time() < end and not done(out):
        ready, _, _ = select.select([fd], [], [], 0.2)
        if not ready:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError:
            break
        if not data:
            break
        out += data
    return out


def plain(output):
    """The text without the console's cursor and erase sequences (a step right is a space)."""
    text = output.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), text)
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)


def run_row(wine_run, unsfx, arguments, container, typed):
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(wine_run, [wine_run, unsfx, *arguments, container], WINE_ENV)
    shown = read_until(fd, 60, lambda out: "password" in plain(out).lower())
    # Keys typed before Wine's console has taken the terminal over may be lost.
    shown += read_until(fd, 1, lambda _: False)
    try:
        os.write(fd, typed.encode("utf-8") + b"\r")
    except OSError:  # it ended without asking
        pass
    shown += read_until(fd, 60, lambda _: False)  # to the end of its output
    os.close(fd)
    status = wait_for(pid, 60)
    if status is None:  # still waiting for input: it never took the password
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    return status, plain(shown)


def unwrapped(text):
    """The text without white space: Wine's console breaks a line at its 80th column, so where
    a long path puts a word is no business of the rows."""
    return re.sub(r"\s+", "", text)


def wait_for(pid, seconds):
    """The exit status of the child, or None when it is still running after `seconds`."""
    end = time.time() + seconds
    while time.time() < end:
        finished, status = os.waitpid(pid, os.WNOHANG)
        if finished:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.1)
    return None


def pack(wine_run, sfx_pack, sfx_pack_exe, work):
    """Packs every container of CONTAINERS into `work`."""
    stub, data = (os.path.join(work, n) for n in ("stub", "data.txt"))
    with open(stub, "wb") as f:
        f.write(b"MZ console test stub")
    with open(data, "wb") as f:
        f.write(b"typed on the console\n")
    for name, (packer, options) in CONTAINERS.items():
        container = os.path.join(work, name)
        if os.path.exists(container):
            os.remove(container)
        command = [sfx_pack] if packer == "host" else [wine_run, sfx_pack_exe]
        subprocess.run(command + ["--stub", stub, "--input", data, "-o", container, *options],
                       check=True, stdout=subprocess.DEVNULL, env=WINE_ENV)


def check_command_lines(wine_run, unsfx_exe, unsfx, work):
    """The STORED_ROWS and GIVEN_ROWS; the count of those that failed."""
    failed = 0
    for name, field, want in STORED_ROWS:
        shown = subprocess.run([unsfx, "info", "--json", os.path.join(work, name)],
                               capture_output=True, text=True)
        got = json.loads(shown.stdout).get(field) if shown.returncode == 0 else shown.stderr
        if got == want:
            print(f"ok   {name} {field}: {got}")
        else:
            failed += 1
            print(f"FAIL {name} {field}: {got!r}, expected {want!r}")
    for name, arguments, want_status in GIVEN_ROWS:
        run = subprocess.run([wine_run, unsfx_exe, *arguments, os.path.join(work, name)],
                             capture_output=True, env=WINE_ENV, stdin=subprocess.DEVNULL)
        if run.returncode == want_status:
            print(f"ok   {arguments!r}: exit status {run.returncode}")
        else:
            failed += 1
            print(f"FAIL {arguments!r}: exit status {run.returncode}, expected {want_status}\n"
                  f"{run.stderr.decode('utf-8', 'replace')}")
    return failed


def main():
    wine_run, unsfx, sfx_pack, work, sfx_pack_exe, host_unsfx = sys.argv[1:7]
    os.makedirs(work, exist_ok=True)
    pack(wine_run, sfx_pack, sfx_pack_exe, work)
    failed = check_command_lines(wine_run, unsfx, host_unsfx, work)
    for name, arguments, typed, want_status, want_text in ROWS:
        status, shown = run_row(wine_run, unsfx, arguments, os.path.join(work, name), typed)
        problems = []
        if status != want_status:
            problems.append(f"exit status {status}, expected {want_status}")
        if unwrapped(want_text) not in unwrapped(shown):
            problems.append(f"no {want_text!r} shown")
        if typed and typed in shown:
            problems.append("the password was echoed")
        if problems:
            failed += 1
            print(f"FAIL {typed!r}: {'; '.join(problems)}\n{shown}")
        else:
            print(f"ok   {typed!r}: exit status {status}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
