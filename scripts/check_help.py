#!/usr/bin/env python3
"""Every installed program answers --help with exit status 0 on
standard output, naming each of its options, with an example and its exit
status.

    check_help.py BIN_DIR
"""
import os
import subprocess
import sys
import tempfile

# program: the options and words its help must name.
PROGRAMS = {
    "zimoserver": ["-RegServer", "-Install", "-UnregServer", "-UnInstall", "-Embedding",
                   "-Automation", "--help"],
    "zimo-term": ["-d, --device", "-s, --serial", "--", "-h, --help"],
    "zimo-cardsim": ["--model", "--type", "--type-text", "--version", "--date", "--cpu",
                     "--motors", "--i10", "--dpr-base", "--bootstrap", "--firmware-bytes",
                     "--pty", "--com", "--udp", "--tcp", "--eth", "--mute", "--error", "--delay",
                     "--no-ack", "--unsolicited", "--config", "--no-servo", "--time-scale",
                     "--ring", "--silence-after", "--silence-at", "--log-changes", "--watch",
                     "--fault", "--limit", "--no-stdin", "--help"],
    "zimo-drvhost": ["--card", "--no-registry", "--manual-clock", "--install", "--uninstall",
                     "-h, --help",
                     # every control command
                     "ping", "list", "add WORDS", "start ID", "stop ID", "remove ID",
                     "surprise ID", "power ID", "raise ID", "servo ID N", "clock ID on",
                     "clock ID off", "error ID N", "mute ID", "freeze ID", "log ID",
                     "clear-log ID", "motion-log ID", "clear-motion-log ID", "rotary-answer ID",
                     "host-rotary ID", "host-rotary-refuse ID", "host-rotary-capacity ID",
                     "rotary-error ID", "legacy PORT", "tamrx add|remove", "tamrx set",
                     "tamrx get", "quit"],
    "zimo-plcc": ["-d DEVICE", "--card older|spran", "--firmware", "--link-list", "-h, --help"],
    "zimo-jux": ["--method", "--base", "--dpr", "--vme", "--com", "--baud", "--timeout",
                 "--retries", "--cfg", "-h, --help"],
    "zimo-ctlhost": ["SCRIPT", "-h, --help", "register", "create", "site", "mode", "new", "load",
                     "save", "get", "set", "call", "tick", "answer", "pages", "page", "press"],
    "kabrun32": ["FILE.cfg", "--help"],
    "kabrun32-drive": ["SCRIPT", "--help", "register", "answer", "choose", "start", "pick", "press",
                       "fill", "tick", "text", "expect", "visible", "caption", "wait-window", "wait-caption",
                       "wait-var", "screenshot", "quit"],
}


def main():
    bin_dir = sys.argv[1]
    failures = []
    # A program that took --help for a start would work in a scratch home.
    home = tempfile.mkdtemp(prefix="zimo-help-")
    environment = dict(os.environ, ZIMO_HOME=home)
    for program, words in PROGRAMS.items():
        path = os.path.join(bin_dir, program)
        if not os.path.exists(path):
            failures.append(f"{program}: not built")
            continue
        try:
            run = subprocess.run([path, "--help"], capture_output=True, text=True, timeout=30,
                                 stdin=subprocess.DEVNULL, env=environment)
        except subprocess.TimeoutExpired:
            failures.append(f"{program} --help: still running after 30 s")
            continue
        if run.returncode != 0:
            failures.append(f"{program} --help: exit status {run.returncode}")
            continue
        for word in words + ["usage: " + program, "Example", "Exit status"]:
            if word not in run.stdout:
                failures.append(f"{program} --help: does not name \"{word}\"")
    subprocess.run(["rm", "-rf", home], check=False)
    for failure in failures:
        print(failure)
    if failures:
        return 1
    print(f"{len(PROGRAMS)} programs: --help names every option")
    return 0


if __name__ == "__main__":
    sys.exit(main())
