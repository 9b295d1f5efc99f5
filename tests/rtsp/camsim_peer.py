#!/usr/bin/python3
"""Runs a test binary against the camera simulator on 127.0.0.1.

Usage: camsim_peer.py CAMSIM MEDIA_DIR COMMAND...  Starts CAMSIM (the native quillon-camsim; a
Windows test binary under wine64 talks to it over loopback like to a camera) on free ports,
passes them to COMMAND in QUILLON_CAMSIM ("web-port rtsp-port control-port"), and exits with
COMMAND's status. Without the simulator the command runs with QUILLON_CAMSIM_MISSING set to the
reason, so that it can skip.
"""
import os
import subprocess
import sys
import threading


def run(command, extra):
    return subprocess.call(command, env=dict(os.environ, **extra))


def main():
    camsim, media, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    if not os.access(camsim, os.X_OK):
        return run(command, {"QUILLON_CAMSIM_MISSING": "no camera simulator at %s (build the native preset)" % camsim})
    simulator = subprocess.Popen([camsim, "--media", media], stdout=subprocess.PIPE, text=True)
    ports = {}
    timer = threading.Timer(10, simulator.kill)  # a simulator that never prints its ports
    timer.start()
    try:
        for line in simulator.stdout:
            words = line.split()
            if len(words) == 2 and words[0] in ("web", "rtsp", "control"):
                ports[words[0]] = words[1].rstrip("/").rsplit(":", 1)[1]
            if "control" in ports:
                break
        timer.cancel()
        if len(ports) != 3:
            return run(command, {"QUILLON_CAMSIM_MISSING": "the camera simulator did not start"})
        return run(command, {"QUILLON_CAMSIM": " ".join(ports[name] for name in ("web", "rtsp", "control"))})
    finally:
        timer.cancel()
        simulator.terminate()
        try:
            simulator.wait(5)
        except subprocess.TimeoutExpired:
            simulator.kill()
            simulator.wait()


if __name__ == "__main__":
    sys.exit(main())
