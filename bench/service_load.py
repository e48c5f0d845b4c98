#!/usr/bin/env python3
"""Memory and descriptors of a running `linkferry serve` under load.

Usage:
    service_load.py PATH/TO/linkferry [--rounds N] [--clients C] [--clicks K]

Starts `linkferry serve` in a temporary home (one browser, one rule), then runs N rounds; in each,
C clients on their own connections send K dry-run clicks each, all at once. After every round it
prints the service's resident memory (VmRSS), its peak (VmHWM), its open descriptors and the
entries in log.json. Memory that settles after the first round is the allocator's working set;
memory that grows by the same step every round is a leak or an unbounded cache.
"""
import argparse
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time


def status(pid, key):
    with open(f"/proc/{pid}/status") as file:
        for line in file:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def ask(connection, reader, request):
    connection.sendall((json.dumps(request) + "\n").encode())
    return json.loads(reader.readline())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--clients", type=int, default=20)
    parser.add_argument("--clicks", type=int, default=50)
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="linkferry-load-") as root:
        for folder in ("data", "run", "home"):
            os.makedirs(os.path.join(root, folder))
        with open(os.path.join(root, "data/browsers.json"), "w") as file:
            file.write('[{"id": "alpha", "name": "Alpha", "family": "firefox", "appPath": "/bin/true"}]')
        with open(os.path.join(root, "data/settings.json"), "w") as file:
            file.write('{"defaultBrowser": "alpha"}')
        with open(os.path.join(root, "data/rules.json"), "w") as file:
            file.write('{"version": 1, "rules": [{"name": "Work", "match": {"host": "*.work.example"},'
                       ' "action": {"open": {"browser": "alpha"}}}]}')
        environment = {"HOME": os.path.join(root, "home"), "LINKFERRY_HOME": os.path.join(root, "data"),
                       "XDG_DATA_HOME": os.path.join(root, "share"),
                       "XDG_DATA_DIRS": os.path.join(root, "none"),
                       "XDG_CONFIG_HOME": os.path.join(root, "home/.config"),
                       "XDG_RUNTIME_DIR": os.path.join(root, "run"), "PATH": "/usr/bin:/bin"}
        service = subprocess.Popen([arguments.program, "serve"], env=environment)
        path = os.path.join(root, "run/linkferry/router.sock")
        try:
            for _ in range(400):
                if os.path.exists(path):
                    break
                time.sleep(0.025)
            time.sleep(0.2)

            def report(label):
                descriptors = len(os.listdir(f"/proc/{service.pid}/fd"))
                with open(os.path.join(root, "data/log.json")) as file:
                    entries = len(json.load(file)) if os.path.getsize(file.name) else 0
                print(f"{label}: resident {status(service.pid, 'VmRSS')} KiB, peak "
                      f"{status(service.pid, 'VmHWM')} KiB, descriptors {descriptors}, "
                      f"log entries {entries}", flush=True)

            warm = socket.socket(socket.AF_UNIX)
            warm.connect(path)
            ask(warm, warm.makefile(), {"request": "click", "url": "https://warm.work.example/", "dryRun": True})
            warm.close()
            report("before")
            failures = 0
            for round_number in range(1, arguments.rounds + 1):
                lost = []

                def client(c):
                    connection = socket.socket(socket.AF_UNIX)
                    connection.connect(path)
                    reader = connection.makefile()
                    for i in range(arguments.clicks):
                        answer = ask(connection, reader, {
                            "request": "click", "dryRun": True,
                            "url": f"https://load.work.example/{round_number}/{c}/{i}"})
                        if not answer.get("ok"):
                            lost.append(answer)
                    connection.close()

                started = time.monotonic()
                threads = [threading.Thread(target=client, args=(c,)) for c in range(arguments.clients)]
                for thread in threads:
                    thread.start()
                for thread in threads:
                    thread.join()
                elapsed = time.monotonic() - started
                failures += len(lost)
                time.sleep(0.3)
                report(f"after round {round_number} ({arguments.clients * arguments.clicks} clicks in "
                       f"{elapsed:.2f} s, {len(lost)} not answered)")
            return 1 if failures else 0
        finally:
            service.terminate()
            service.wait()


if __name__ == "__main__":
    sys.exit(main())
