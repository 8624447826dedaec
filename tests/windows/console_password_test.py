#!/usr/bin/env python3
"""unsfx.exe asks for a password on the console: read with echo off, as characters, each
taken into the ANSI code page. Runs unsfx.exe under Wine on a pseudo-terminal, one row a
typed password.

usage: console_password_test.py WINE_RUN UNSFX_EXE SFX_PACK WORK_DIR
"""
import os
import pty
import re
import select
import signal
import subprocess
import sys
import time

# Typed password, exit status, a text the run must show.
ROWS = [
    ("secret", 0, "OK"),
    ("opensesame", 4, "wrong password"),
    # Cyrillic is in no Western ANSI code page: refused, never turned into "?".
    ("s\u0436cret", 64, "ANSI"),
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


def run_row(wine_run, unsfx, container, typed):
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(wine_run, [wine_run, unsfx, "test", container])
    shown = read_until(fd, 60, lambda out: "password" in plain(out).lower())
    # Keys typed before Wine's console has taken the terminal over may be lost.
    shown += read_until(fd, 1, lambda _: False)
    os.write(fd, typed.encode("utf-8") + b"\r")
    shown += read_until(fd, 60, lambda _: False)  # to the end of its output
    os.close(fd)
    status = wait_for(pid, 60)
    if status is None:  # still waiting for input: it never took the password
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    return status, plain(shown)


def wait_for(pid, seconds):
    """The exit status of the child, or None when it is still running after `seconds`."""
    end = time.time() + seconds
    while time.time() < end:
        finished, status = os.waitpid(pid, os.WNOHANG)
        if finished:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.1)
    return None


def main():
    wine_run, unsfx, sfx_pack, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    stub, data, container = (os.path.join(work, n) for n in ("stub", "data.txt", "c.exe"))
    with open(stub, "wb") as f:
        f.write(b"MZ console test stub")
    with open(data, "wb") as f:
        f.write(b"typed on the console\n")
    if os.path.exists(container):
        os.remove(container)
    subprocess.run([sfx_pack, "--stub", stub, "--input", data, "-o", container,
                    "--password", "secret"], check=True, stdout=subprocess.DEVNULL)
    failed = 0
    for typed, want_status, want_text in ROWS:
        status, shown = run_row(wine_run, unsfx, container, typed)
        problems = []
        if status != want_status:
            problems.append(f"exit status {status}, expected {want_status}")
        if want_text not in shown:
            problems.append(f"no {want_text!r} shown")
        if typed in shown:
            problems.append("the password was echoed")
        if problems:
            failed += 1
            print(f"FAIL {typed!r}: {'; '.join(problems)}\n{shown}")
        else:
            print(f"ok   {typed!r}: exit status {status}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
