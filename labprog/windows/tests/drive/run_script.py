#!/usr/bin/env python3
"""Runs kabrun32-drive on a script in a scratch ZIMO_HOME and working
directory, and checks its output: the driver must end with status 0, and
every line of the script that starts with "#> " must appear in the output,
in that order. "@BIN@" in the script stands for the build's bin directory.
A script with "#card LINE" lines first gets a simulated card on a
pseudo-terminal, registered as device 0 and named in VoctoKS.INI of the
working directory; each such LINE is sent to it before the driver starts.

    run_script.py DRIVER BIN_DIR SCRIPT
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time


def start_card(bin_dir, work, environment, lines):
    """Starts the simulated card; returns its process."""
    subprocess.run([os.path.join(bin_dir, "zimoserver"), "-RegServer"], env=environment,
                   capture_output=True, check=True, timeout=60)
    out = open(os.path.join(work, "card.out"), "w")
    card = subprocess.Popen([os.path.join(bin_dir, "zimo-cardsim"), "--model", "older", "--pty",
                             "--com", "1", "--no-stdin"], stdout=out, stderr=subprocess.STDOUT,
                            env=environment)
    deadline = time.monotonic() + 60
    while True:
        with open(os.path.join(work, "card.out")) as f:
            if "ready" in f.read().split("\n"):
                break
        if card.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError("the simulated card did not get ready")
        time.sleep(0.05)
    subprocess.run([os.path.join(bin_dir, "zimo-term"), "-d", "0", "-s", "1"] + lines,
                   env=environment, capture_output=True, check=True, timeout=120)
    with open(os.path.join(work, "VoctoKS.INI"), "w", newline="") as f:
        f.write("[Communication]\r\nDeviceNumber=0\r\nSimulateCommunication=0\r\nEnabled=1\r\n")
    return card


def main():
    driver, bin_dir, script_path = sys.argv[1:4]
    with open(script_path, encoding="latin-1") as f:
        script = f.read().replace("@BIN@", bin_dir)
    wanted = [line[3:] for line in script.splitlines() if line.startswith("#> ")]
    work = tempfile.mkdtemp(prefix="kabrun32-drive-")
    try:
        environment = dict(os.environ, ZIMO_HOME=os.path.join(work, "home"))
        environment.setdefault("QT_QPA_PLATFORM", "offscreen")
        # Objects the hosted control keeps until the process ends are not
        # this check's concern (see docs/notes.md).
        environment["ASAN_OPTIONS"] = (environment.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")
        os.makedirs(environment["ZIMO_HOME"])
        card_lines = [line[6:] for line in script.splitlines() if line.startswith("#card ")]
        card = start_card(bin_dir, work, environment, card_lines) if card_lines else None
        try:
            run = subprocess.run([driver], input=script, capture_output=True, text=True,
                                 encoding="latin-1", cwd=work, env=environment, timeout=240)
        finally:
            if card is not None:
                card.kill()
                card.wait()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    sys.stdout.write(run.stdout)
    sys.stderr.write(run.stderr)
    failures = []
    if run.returncode != 0:
        failures.append(f"kabrun32-drive ended with status {run.returncode}")
    lines = run.stdout.splitlines()
    at = 0
    for line in wanted:
        while at < len(lines) and lines[at] != line:
            at += 1
        if at == len(lines):
            failures.append(f"missing (in order): {line}")
            break
        at += 1
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
