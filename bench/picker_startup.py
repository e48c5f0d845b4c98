#!/usr/bin/env python3
"""How soon the picker window is seen and usable, next to a bare GTK 4 window of the same build.

Usage: bench/picker_startup.py BUILD_FOLDER [RUNS]. Starts its own Xvfb, then runs each program
RUNS times (default 15, alternating): the time from starting the program to its first frame drawn
("shown") and to its handling of a key press sent as soon as that frame was reported ("key"), from
the CLOCK_MONOTONIC stamps the programs print with LINKFERRY_PICKER_TRACE set, and the processor
time each had used by its first frame (less disturbed by other work on a busy machine). Prints the
medians and spreads, and the picker's medians divided by the bare window's.

Then the whole click, as the desktop starts `linkferry-open LINK` for a clicked link, through
two `linkferry serve` of their own on data folders with two browsers and a rule that asks: one
started without a display, so the window comes the way it comes without a warm picker ("cold":
the service answers "pick", `linkferry open --service-picker` starts `linkferry-picker`), one
with a display and so a warm picker ("warm": the service shows its ready window). Clicks
alternate between the two, RUNS each after one warm-up: the time from `linkferry-open`'s start
to the picker's first frame, and from the picker's key press ("1") to the start of the browser
chosen (a recorder program noting the time it starts). Pickers trace to one FIFO. Each service
first opens LOG_CLICKS (from the environment, default 3000) links by a rule, so that the
decision log is of a size a user's reaches and whatever reads it on the way to the window shows
in the time.
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
        answer = exchange(socket_path, {"request": "click", "url": f"https://log.example/{n}",
                                        "pick": False, "dryRun": False, "environment": {}})
        if answer["outcome"]["status"] != "opened":
            raise RuntimeError(f"log click not opened: {answer}")


def click_desktop(build, folder, env, display):
    """A data folder with two browsers (the recorder, noting when it starts) and a rule that
    asks for one, its service started with the display or without; returns the environment of
    the clicks, the service's process and its socket."""
    browsers = [{"id": name, "name": f"{name} browser", "family": "chromium",
                 "appPath": os.path.join(build, "LinkferryPicker/picker_recorder_browser")}
                for name in ("alpha", "beta")]
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
                     XDG_DATA_DIRS=os.path.join(folder, "none"),
                     PICKER_RECORDER_FILE=os.path.join(folder, "launched"))
    service_env = dict(click_env)
    if not display:
        del service_env["DISPLAY"]
    service = subprocess.Popen([os.path.join(build, "cli/linkferry"), "serve"], env=service_env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    socket_path = os.path.join(run, "linkferry/router.sock")
    while not os.path.exists(socket_path):
        if time.monotonic() > deadline:
            raise RuntimeError("linkferry serve did not start")
        time.sleep(0.05)
    fill_log(socket_path, LOG_CLICKS)
    return click_env, service, socket_path


def exchange(socket_path, request):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
        connection.connect(socket_path)
        connection.sendall((json.dumps(request) + "\n").encode())
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = connection.recv(65536)
            if not chunk:
                break
            answer += chunk
        return json.loads(answer)


def await_warm_picker(socket_path):
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        picker = exchange(socket_path, {"request": "status"}).get("warmPicker") or {}
        if picker.get("state") == "ready":
            return
        time.sleep(0.01)
    raise RuntimeError("the warm picker did not get ready")


class Trace:
    """The pickers' trace lines, from a FIFO every picker of the run writes to."""

    def __init__(self, path):
        os.mkfifo(path)
        self.reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        # Held open, so the FIFO never reads as ended between pickers.
        self.writer = os.open(path, os.O_WRONLY)
        self.pending = b""

    def next(self, prefix, deadline):
        """The stamp of the next line starting with `prefix`; the lines before it are dropped."""
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                if line.startswith(prefix):
                    return int(line.split()[1])
            if time.monotonic() > deadline:
                raise RuntimeError(f"no {prefix!r} from the picker")
            ready, _, _ = select.select([self.reader], [], [], 1)
            if ready:
                self.pending += os.read(self.reader, 4096)


def last_launch(path):
    with open(path) as file:
        return int(file.read().splitlines()[-1].split()[0])


def click_once(build, click_env, trace, n):
    """linkferry-open for a link that needs a choice, answered with "1": (ms from its start to
    the picker's first frame, ms from the picker's key press to the browser's start)."""
    deadline = time.monotonic() + 60
    start = now_us()
    child = subprocess.Popen([os.path.join(build, "cli/linkferry-open"),
                              f"https://news.example/{n}"], env=click_env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    shown = trace.next(b"shown ", deadline)
    subprocess.run(["xdotool", "key", "1"], env=click_env, check=True)
    key = trace.next(b"key ", deadline)
    output, errors = child.communicate()
    if "picked in alpha browser" not in output:
        raise RuntimeError(f"not picked: {output} {errors}")
    launched = last_launch(click_env["PICKER_RECORDER_FILE"])
    return (shown - start) / 1000, (launched - key) / 1000


def measure_clicks(build, runs, env):
    """Clicks through a service without a display (today's path: linkferry open starts the
    window) and through one with a warm picker, alternating."""
    folder = tempfile.mkdtemp(prefix="picker-click-")
    services = []
    try:
        trace = Trace(os.path.join(folder, "trace"))
        env = dict(env, LINKFERRY_PICKER_TRACE=os.path.join(folder, "trace"))
        paths = {}
        for name, display in (("cold", False), ("warm", True)):
            os.makedirs(os.path.join(folder, name))
            click_env, service, socket_path = click_desktop(build, os.path.join(folder, name), env,
                                                            display)
            services.append(service)
            paths[name] = (click_env, socket_path)
        samples = {name: [] for name in paths}
        for n in range(runs + 1):
            for name, (click_env, socket_path) in paths.items():
                if name == "warm":
                    await_warm_picker(socket_path)
                sample = click_once(build, click_env, trace, f"{name}-{n}")
                if n > 0:  # the first of each is a warm-up
                    samples[name].append(sample)
    finally:
        for service in services:
            service.terminate()
            service.wait()
        shutil.rmtree(folder, ignore_errors=True)
    medians = {}
    for name, values in samples.items():
        shown = [s for s, _ in values]
        launch = [k for _, k in values]
        medians[name] = (statistics.median(shown), statistics.median(launch))
        print(f"click {name}  first frame {medians[name][0]:7.1f} ms (min {min(shown):.1f}, max "
              f"{max(shown):.1f})   key -> browser {medians[name][1]:6.1f} ms (min "
              f"{min(launch):.1f}, max {max(launch):.1f})")
    return medians


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
        clicks = measure_clicks(build, runs, env)
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
    bare = medians["bare"][0]
    cold, warm = clicks["cold"], clicks["warm"]
    print(f"click -> first frame / bare window's first frame: cold {cold[0] / bare:.2f}x, "
          f"warm {warm[0] / bare:.2f}x; warm / cold {warm[0] / cold[0]:.2f}x")
    print(f"key -> browser: warm / cold {warm[1] / cold[1]:.2f}x")
    print("load:", open("/proc/loadavg").read().strip())


if __name__ == "__main__":
    main()
