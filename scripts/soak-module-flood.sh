#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Floods lumo-module with random bytes at full pseudo-terminal speed for
# SECONDS (default 20), prints its resident memory every second, then stops
# it with SIGTERM and checks the exit status (1) and the JUnit report.
# Usage: scripts/soak-module-flood.sh [SECONDS] [BUILD_DIR]
# Needs python3 (for the pseudo-terminal and the report check).
set -eu
SECONDS_TO_RUN=${1:-20}
BUILD=${2:-build}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
exec python3 - "$SECONDS_TO_RUN" "$BUILD/lumo-module" "$WORK" <<'PY'
import os, sys, time, signal, subprocess, tty, fcntl
import xml.etree.ElementTree as ET
secs, exe, work = float(sys.argv[1]), sys.argv[2], sys.argv[3]
master, slave = os.openpty()
tty.setraw(slave)
path = os.ttyname(slave)
os.set_inheritable(master, False)
report = os.path.join(work, "report.xml")
p = subprocess.Popen([exe, "--port", path, "--root", os.path.join(work, "root"),
                      "--reply-limit", "100", "--junit", report],
                     stdout=subprocess.DEVNULL)
os.close(slave)
fcntl.fcntl(master, fcntl.F_SETFL, fcntl.fcntl(master, fcntl.F_GETFL) | os.O_NONBLOCK)
noise = os.urandom(1 << 20)
def status(key):
    for line in open("/proc/%d/status" % p.pid):
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return 0
start = time.time(); sent = 0; shown = start
while time.time() - start < secs and p.poll() is None:
    at = sent % len(noise)
    try:
        sent += os.write(master, noise[at:])
    except BlockingIOError:
        pass
    try:
        while os.read(master, 65536):
            pass
    except (BlockingIOError, OSError):
        pass
    if time.time() - shown >= 1:
        shown = time.time()
        print("%5.1f s  %6d MB sent  VmRSS %6d kB  VmHWM %6d kB"
              % (shown - start, sent >> 20, status("VmRSS"), status("VmHWM")), flush=True)
peak = status("VmHWM")
p.send_signal(signal.SIGTERM)
code = p.wait(120)
cases = ET.parse(report).getroot().iter("testcase")
print("peak %d kB, exit %d, %d testcases in the report" % (peak, code, len(list(cases))))
sys.exit(0 if code == 1 and peak < 100 * 1024 else 1)
PY
