#!/usr/bin/env python3
"""A click through a running service, two builds side by side.

Usage: bench/click_builds.py BEFORE_CLI_FOLDER AFTER_CLI_FOLDER [RUNS]. Each folder holds a
build's `linkferry` and `linkferry-open` (e.g. build-bench/cli of two checkouts). Each build gets
its own data folder (one browser, one rule) and its own `linkferry serve`; then RUNS times
(default 200), alternating between the builds, `linkferry-open --dry-run LINK` (the desktop's
click program) and `linkferry open --dry-run LINK` are timed from start to exit. Prints medians,
means and 90th percentiles, to be read as ratios of one run.

Then the click that replaces a service of the other build: the BEFORE build's service running,
one click of the AFTER build's `linkferry-open` (which stops it and starts its own), and the
click after it.
"""
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


ROOTS = []


def world():
    root = tempfile.mkdtemp(prefix="linkferry-click-builds-")
    ROOTS.append(root)
    for folder in ("data", "run", "bin"):
        os.makedirs(os.path.join(root, folder))
    browser = os.path.join(root, "bin/alpha")
    with open(browser, "w") as file:
        file.write("#!/bin/sh\nexit 0\n")
    os.chmod(browser, 0o700)
    with open(os.path.join(root, "data/browsers.json"), "w") as file:
        json.dump([{"id": "alpha", "name": "alpha", "family": "firefox", "appPath": browser}], file)
    with open(os.path.join(root, "data/settings.json"), "w") as file:
        file.write("{}")
    with open(os.path.join(root, "data/rules.json"), "w") as file:
        json.dump({"version": 1, "rules": [{"name": "Work", "match": {"host": "*.work.example"},
                                            "action": {"open": {"browser": "alpha"}}}]}, file)
    return {"HOME": root + "/home", "LINKFERRY_HOME": root + "/data",
            "XDG_DATA_HOME": root + "/share", "XDG_DATA_DIRS": root + "/none",
            "XDG_CONFIG_HOME": root + "/home/.config", "XDG_RUNTIME_DIR": root + "/run",
            "PATH": "/usr/bin:/bin"}


def serve(folder, environment):
    service = subprocess.Popen([folder + "/linkferry", "serve"], env=environment,
                               stderr=subprocess.DEVNULL)
    path = environment["XDG_RUNTIME_DIR"] + "/linkferry/router.sock"
    for _ in range(2400):
        try:
            with socket.socket(socket.AF_UNIX) as probe:
                probe.connect(path)
                probe.sendall(b'{"request":"status"}\n')
                if probe.recv(65536):
                    return service
        except OSError:
            time.sleep(0.025)
    sys.exit("the service of " + folder + " never answered")


def click(words, environment):
    start = time.perf_counter()
    result = subprocess.run(words, env=environment, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(" ".join(words) + " exited with " + str(result.returncode) + ": " + result.stderr)
    return elapsed, result.stderr


def main():
    builds = {"before": sys.argv[1], "after": sys.argv[2]}
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    worlds = {tag: world() for tag in builds}
    services = {tag: serve(folder, worlds[tag]) for tag, folder in builds.items()}
    programs = {"linkferry-open": ["linkferry-open"], "linkferry open": ["linkferry", "open"]}
    times = {(tag, name): [] for tag in builds for name in programs}
    for i in range(runs):
        for tag, folder in builds.items():
            for name, words in programs.items():
                command = [folder + "/" + words[0]] + words[1:]
                link = "https://docs.work.example/%d" % i
                times[(tag, name)].append(click(command + ["--dry-run", link], worlds[tag])[0])
    for service in services.values():
        service.terminate()
        service.wait()
    for name in programs:
        for tag in builds:
            values = sorted(times[(tag, name)])
            print("%-15s %-7s median %6.2f ms  mean %6.2f ms  p90 %6.2f ms" % (
                name, tag, 1000 * statistics.median(values), 1000 * statistics.mean(values),
                1000 * values[int(0.9 * len(values))]))

    environment = world()
    old = serve(builds["before"], environment)
    quick = [builds["after"] + "/linkferry-open", "--dry-run"]
    first, said = click(quick + ["https://docs.work.example/first"], environment)
    second, _ = click(quick + ["https://docs.work.example/second"], environment)
    old.wait(timeout=60)
    print("replacing click %.1f ms, the next %.1f ms; %s" % (1000 * first, 1000 * second,
                                                            said.strip()))
    with socket.socket(socket.AF_UNIX) as client:
        client.connect(environment["XDG_RUNTIME_DIR"] + "/linkferry/router.sock")
        client.sendall(b'{"request":"quit"}\n')
        client.recv(65536)


if __name__ == "__main__":
    try:
        main()
    finally:
        for root in ROOTS:
            shutil.rmtree(root, ignore_errors=True)
