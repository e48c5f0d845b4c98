#!/usr/bin/env python3
"""How soon the picker window is seen and usable, next to a bare GTK 4 window of the same build.

Usage: bench/picker_startup.py BUILD_FOLDER [RUNS]. Starts its own Xvfb, then runs each program
RUNS times (default 15, alternating): the time from starting the program to its first frame drawn
("shown") and to its handling of a key press sent as soon as that frame was reported ("key"), from
the CLOCK_MONOTONIC stamps the programs print with LINKFERRY_PICKER_TRACE set, and the processor
time each had used by its first frame (less disturbed by other work on a busy machine). Prints the
medians and spreads, and the picker's medians divided by the bare window's.

Then the whole click: a `linkferry serve` of its own on a data folder with two browsers and a rule
that asks, and `linkferry-open LINK` started RUNS times as the desktop starts it for a clicked
link: the time from its start to the picker's first frame and to the picker's first key, through
the service and `linkferry open --service-picker` (the picker's trace goes to a FIFO, as
`linkferry` keeps the window's standard error until it ends). The service first opens
LOG_CLICKS (from the environment, default 3000) links by a rule, so that the decision log is of
a size a user's reaches and whatever reads it on the way to the window shows in the time.
"""
import json
import os
import select
import shutil
import socket
import tempfile
import statistics
import subprocess
import sys
import time


def request():
    candidates = [{"target": {"browser": b}, "weight": 0, "reasons": [], "label": f"Browser {i}"}
                  for i, b in enumerate(["firefox-esr", "chromium"] * 5)]
    return json.dumps({
        "id": "7D2B3C4E-1111-4222-8333-944455556666",
        "url": "https://accounts.example.com/signin/v2/challenge/pwd?continue=x&hl=en",
        "candidates": candidates, "note": "A note", "safety": [
            {"code": "lookalike", "label": "Looks like another site", "excerpt": "example",
             "kind": "domain"}],
        "window": {"scopes": [{"id": "domain", "title": "example.com"}],
                   "durations": [{"count": 1, "unit": "hour", "title": "1 hour"}]}})


def now_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def run_once(program, stdin_text, env):
    start = now_us()
    child = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=env, text=True)
    child.stdin.write(stdin_text)
    child.stdin.close()
    stamps = {}
    for line in child.stderr:
        if line.startswith("shown "):
            stamps["shown"] = int(line.split()[1])
            stamps["cpu"] = cpu_ms(child.pid)
            subprocess.run(["xdotool", "key", "Escape"], env=env, check=True)
        elif line.startswith("key "):
            stamps["key"] = int(line.split()[1])
            break
    child.stdout.read()
    child.wait()
    return (stamps["shown"] - start) / 1000, (stamps["key"] - start) / 1000, stamps["cpu"]


def cpu_ms(pid):
    """The processor time (user and system) the process has used so far."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf("SC_CLK_TCK")


# Links opened by a rule before the clicks are measured: the decision log's entries.
LOG_CLICKS = int(os.environ.get("LOG_CLICKS", "3000"))


def fill_log(socket_path, clicks):
    """Opens `clicks` links by the rule for log.example through the service."""
    for n in range(clicks):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.connect(socket_path)
            request = {"request": "click", "url": f"https://log.example/{n}", "pick": False,
                       "dryRun": False, "environment": {}}
            connection.sendall((json.dumps(request) + "\n").encode())
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = connection.recv(65536)
                if not chunk:
                    break
                answer += chunk
            if json.loads(answer)["outcome"]["status"] != "opened":
                raise RuntimeError(f"log click not opened: {answer}")


def click_desktop(build, folder, env):
    """A data folder with two browsers (scripts that exit at once) and a rule that asks for one,
    its service started; returns the environment of the clicks and the service's process."""
    browsers = []
    for name in ("alpha", "beta"):
        program = os.path.join(folder, name)
        with open(program, "w") as script:
            script.write("#!/bin/sh\nexit 0\n")
        os.chmod(program, 0o755)
        browsers.append({"id": name, "name": f"{name} browser", "family": "chromium",
                         "appPath": program})
    data = os.path.join(folder, "data")
    os.makedirs(data)
    with open(os.path.join(data, "browsers.json"), "w") as file:
        json.dump(browsers, file)
    with open(os.path.join(data, "rules.json"), "w") as file:
        json.dump({"version": 1, "rules": [
            {"name": "Ask", "match": {"host": "news.example"},
             "action": {"prompt": [{"browser": "alpha"}, {"browser": "beta"}]}},
            {"name": "Log", "match": {"host": "log.example"}, "action": {"open": {"browser": "alpha"}}}
        ]}, file)
    run = os.path.join(folder, "run")
    os.makedirs(run, mode=0o700)
    click_env = dict(env, HOME=os.path.join(folder, "home"), LINKFERRY_HOME=data,
                     XDG_RUNTIME_DIR=run, XDG_DATA_HOME=os.path.join(folder, "share"),
                     XDG_CONFIG_HOME=os.path.join(folder, "config"),
                     XDG_DATA_DIRS=os.path.join(folder, "none"))
    service = subprocess.Popen([os.path.join(build, "cli/linkferry"), "serve"], env=click_env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    socket_path = os.path.join(run, "linkferry/router.sock")
    while not os.path.exists(socket_path):
        if time.monotonic() > deadline:
            raise RuntimeError("linkferry serve did not start")
        time.sleep(0.05)
    fill_log(socket_path, LOG_CLICKS)
    return click_env, service


def click_once(build, click_env, fifo, n):
    """linkferry-open for a link that needs a choice: (ms to the picker's first frame, to its
    first key)."""
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    env = dict(click_env, LINKFERRY_PICKER_TRACE=fifo)
    start = now_us()
    child = subprocess.Popen([os.path.join(build, "cli/linkferry-open"),
                              f"https://news.example/{n}"], env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    stamps, pending = {}, b""
    deadline = time.monotonic() + 60
    while "key" not in stamps and time.monotonic() < deadline:
        ready, _, _ = select.select([reader], [], [], 1)
        if not ready:
            continue
        chunk = os.read(reader, 4096)
        if not chunk:
            time.sleep(0.001)  # no writer yet
            continue
        pending += chunk
        *lines, pending = pending.split(b"\n")
        for line in lines:
            if line.startswith(b"shown "):
                stamps["shown"] = int(line.split()[1])
                subprocess.run(["xdotool", "key", "Escape"], env=env, check=True)
            elif line.startswith(b"key "):
                stamps["key"] = int(line.split()[1])
    output, errors = child.communicate()
    os.close(reader)
    if "key" not in stamps:
        raise RuntimeError(f"no picker: {output} {errors}")
    return (stamps["shown"] - start) / 1000, (stamps["key"] - start) / 1000


def measure_clicks(build, runs, env):
    folder = tempfile.mkdtemp(prefix="picker-click-")
    service = None
    try:
        click_env, service = click_desktop(build, folder, env)
        fifo = os.path.join(folder, "trace")
        os.mkfifo(fifo)
        click_once(build, click_env, fifo, "warm-up")
        samples = [click_once(build, click_env, fifo, n) for n in range(runs)]
    finally:
        if service:
            service.terminate()
            service.wait()
        shutil.rmtree(folder, ignore_errors=True)
    shown = [s for s, _ in samples]
    key = [k for _, k in samples]
    print(f"click   first frame {statistics.median(shown):7.1f} ms (min {min(shown):.1f}, max "
          f"{max(shown):.1f})   first key {statistics.median(key):7.1f} ms (min {min(key):.1f}, "
          f"max {max(key):.1f})   (linkferry-open -> service -> linkferry open -> picker)")


def main():
    build = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    ready_read, ready_write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(ready_write), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp"], pass_fds=[ready_write], stderr=subprocess.DEVNULL)
    os.close(ready_write)
    display = os.read(ready_read, 16).decode().strip()
    env = dict(os.environ, DISPLAY=":" + display, LINKFERRY_PICKER_TRACE="1",
               DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent", GTK_A11Y="none")
    programs = {"picker": (os.path.join(build, "cli/linkferry-picker"), request()),
                "bare": (os.path.join(build, "LinkferryPicker/picker_bare_window"), "")}
    results = {name: [] for name in programs}
    try:
        for _ in range(runs):
            for name, (program, text) in programs.items():
                results[name].append(run_once(program, text, env))
        measure_clicks(build, runs, env)
    finally:
        xvfb.terminate()
        xvfb.wait()
    medians = {}
    for name, samples in results.items():
        shown = [s for s, _, _ in samples]
        key = [k for _, k, _ in samples]
        cpu = [c for _, _, c in samples]
        medians[name] = (statistics.median(shown), statistics.median(key), statistics.median(cpu))
        print(f"{name:7} first frame {medians[name][0]:7.1f} ms (min {min(shown):.1f}, max "
              f"{max(shown):.1f})   first key {medians[name][1]:7.1f} ms (min {min(key):.1f}, max "
              f"{max(key):.1f})   processor time to first frame {medians[name][2]:.0f} ms")
    print(f"picker / bare: first frame {medians['picker'][0] / medians['bare'][0]:.2f}x, "
          f"first key {medians['picker'][1] / medians['bare'][1]:.2f}x, "
          f"processor time {medians['picker'][2] / medians['bare'][2]:.2f}x")
    print("load:", open("/proc/loadavg").read().strip())


if __name__ == "__main__":
    main()
