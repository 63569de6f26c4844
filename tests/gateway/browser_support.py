"""What the gateway's browser tests share: the tools they need, loopback ports, the processes
they start (each ended by its own id), a headless Chromium and its viewport, and the line each
check prints."""
import argparse
import json
import os
import socket
import subprocess
import sys
import time
import urllib.request

SKIP = 77


def tools_missing():
    missing = [p for p in ("/usr/bin/chromium", "/usr/bin/chromedriver") if not os.path.exists(p)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium")
    return missing


def missing_tools_status(test):
    """None when the browser tools are there; otherwise the exit status: skipped, or failed
    under CI."""
    missing = tools_missing()
    if not missing:
        return None
    message = f"{test}: missing " + ", ".join(missing) + " (scripts/install-deps.sh installs them)"
    if os.environ.get("CI"):
        print(message + "; CI is set, so this fails", file=sys.stderr)
        return 1
    print(message + "; skipped", file=sys.stderr)
    return SKIP


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_ports(count):
    """count loopback ports, different from each other: each held until all are chosen."""
    sockets = []
    try:
        for _ in range(count):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            sockets.append(s)
        return [s.getsockname()[1] for s in sockets]
    finally:
        for s in sockets:
            s.close()


def wait_listening(port, limit=10.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


def start_servers(processes, server, names, work, taken=()):
    """One ifc-server per name, each in work/NAME, listening on a port of its own; returns
    {name: port}. A port found free can be taken (by another test's outgoing connection, say)
    before the server binds it: that server exits, and is started again on another port."""
    ports = {}
    avoid = set(taken)
    for name in names:
        os.makedirs(os.path.join(work, name), exist_ok=True)
    pending = list(names)
    for _ in range(5):
        started = {}
        for name, port in zip(pending, free_ports(len(pending))):
            while port in avoid:
                port = free_port()
            avoid.add(port)
            started[name] = (port, processes.start([server, "--port", str(port)],
                                                   os.path.join(work, name)))
        pending = []
        for name, (port, process) in started.items():
            end = time.monotonic() + 20
            while time.monotonic() < end and process.poll() is None:
                try:
                    with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                        break
                except OSError:
                    time.sleep(0.05)
            if process.poll() is None:
                ports[name] = port
            else:
                pending.append(name)
        if not pending:
            return ports
    raise RuntimeError(f"ifc-server did not start for {', '.join(pending)}")


def get_json(url):
    with urllib.request.urlopen(url, timeout=5) as response:
        return json.load(response)


class Processes:
    """Every process the test starts, ended by its own id at the end."""

    def __init__(self):
        self.started = []

    def start(self, argv, cwd):
        log = open(os.path.join(cwd, "output.txt"), "wb")
        process = subprocess.Popen(argv, cwd=cwd, stdout=log, stderr=subprocess.STDOUT)
        self.started.append(process)
        return process

    def stop_all(self):
        for process in self.started:
            process.kill()
            process.wait(timeout=10)


def check(condition, message):
    if not condition:
        raise AssertionError(message)
    print("ok:", message)


def new_chromium(work):
    """A headless Chromium with its profile in work, its console kept for the test to read."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={work}/profile"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def set_viewport(driver, width, height):
    """Makes the page's own area (not the window around it) width x height."""
    driver.set_window_size(width, height)
    inner_width, inner_height = driver.execute_script("return [innerWidth, innerHeight]")
    driver.set_window_size(2 * width - inner_width, 2 * height - inner_height)


def test_arguments(*programs):
    """The command line of a browser test: --PROGRAM PATH for each program, and --out DIR."""
    parser = argparse.ArgumentParser()
    for program in programs:
        parser.add_argument(f"--{program}", required=True)
    parser.add_argument("--out", required=True)
    return parser.parse_args()


def fresh_screenshot_folder(out, prefix):
    """Makes out if needed and removes the screenshots an earlier run of this test left there."""
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.startswith(prefix) and old.endswith(".png"):
            os.remove(os.path.join(out, old))


def console_problems(driver):
    """What the browser's console says went wrong since it was last read: script errors and
    policy violations (a resource the network refused is the test's business, not the page's)."""
    return [entry["message"] for entry in driver.get_log("browser")
            if entry["source"] != "network" and entry["level"] in ("SEVERE", "WARNING")]
