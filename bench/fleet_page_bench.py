#!/usr/bin/python3
"""The fleet page's own figures in a headless Chromium at 1280x800, for a gateway of 50 and of
500 controllers (the fake fleet, answering as a real ifc-server did), in the table and in the
cards:

  load     from the start of the navigation to the first complete drawing of every controller
           (the page's "fleet-first-render" mark), median of several loads
  sort     from choosing another order to the next frame drawn, median and worst over the five
           orders, each chosen several times
  search   from a typed letter to the next frame drawn, median
  refresh  the page's main-thread time per refresh (every poll interval) while it stays open,
           from Chromium's own counters; its JavaScript heap and DOM nodes

  bench/fleet_page_bench.py --gateway build/default/ifc-gateway \\
                            --fake-fleet build/default/bench/fake_fleet [--counts 50,500]

Needs chromium, chromium-driver and python3-selenium (scripts/install-deps.sh test).
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "gateway"))
from browser_support import free_port, missing_tools_status, new_chromium, set_viewport, wait_listening  # noqa: E402

SORTS = ["name", "state", "drift", "age", "attention"]

# Chooses an order and answers [script ms, ms to the next frame].
TIME_SORT = """
const [value, done] = arguments;
const select = document.getElementById('sort');
const start = performance.now();
select.value = value;
select.dispatchEvent(new Event('change'));
const script = performance.now() - start;
requestAnimationFrame(() => setTimeout(() => done([script, performance.now() - start]), 0));
"""

TIME_LETTER = """
const [text, done] = arguments;
const search = document.getElementById('search');
const start = performance.now();
search.value = text;
search.dispatchEvent(new Event('input'));
requestAnimationFrame(() => setTimeout(() => done(performance.now() - start), 0));
"""


def start_gateway(args, count, work):
    fleet = subprocess.Popen([args.fake_fleet, "--count", str(count)], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, text=True)
    words = fleet.stdout.readline().split()
    if not words or words[0] != "ready":
        raise RuntimeError("the fake fleet did not start")
    port = free_port()
    command = [args.gateway, "--listen", f"127.0.0.1:{port}", "--poll", "2"]
    for i, controller_port in enumerate(words[1:]):
        command += ["--controller", f"loom{i + 1}=127.0.0.1:{controller_port},group=hall{i // 40 + 1}"]
    gateway = subprocess.Popen(command, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_listening(port)
    base = f"http://127.0.0.1:{port}"
    end = time.monotonic() + 60
    while time.monotonic() < end:
        with urllib.request.urlopen(base + "/api/controllers", timeout=10) as response:
            if all(c["reachable"] for c in json.load(response)):
                return fleet, gateway, base
        time.sleep(0.3)
    raise RuntimeError("not every controller became reachable")


def measure(driver, base, view, count, rounds):
    rows = "tr[data-controller]" if view == "table" else ".card"
    loads = []
    for _ in range(rounds):
        driver.get(f"{base}/?view={view}")
        end = time.monotonic() + 30
        mark = []
        while not mark and time.monotonic() < end:
            mark = driver.execute_script(
                "return performance.getEntriesByName('fleet-first-render').map(m => m.startTime)")
        if not mark:
            raise RuntimeError("the page never drew the fleet")
        drawn = driver.execute_script(f"return document.querySelectorAll('{rows}').length")
        if drawn != count:
            raise RuntimeError(f"{drawn} of {count} controllers drawn")
        loads.append(mark[0])
    sorts = []
    for _ in range(rounds):
        for sort in SORTS:
            sorts.append(driver.execute_async_script(TIME_SORT, sort)[1])
    letters = [driver.execute_async_script(TIME_LETTER, text) for text in ("l", "lo", "loo", "loom", "loom1", "")]
    # The page left open: main-thread time per refresh, from Chromium's counters.
    driver.execute_cdp_cmd("Performance.enable", {})
    before = {m["name"]: m["value"] for m in driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
    window = 20
    time.sleep(window)
    after = {m["name"]: m["value"] for m in driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
    refreshes = window / 2
    return {
        "load": statistics.median(loads),
        "sort": statistics.median(sorts), "sort_max": max(sorts),
        "letter": statistics.median(letters),
        "refresh": 1000 * (after["TaskDuration"] - before["TaskDuration"]) / refreshes,
        "heap": after["JSHeapUsedSize"] / 2**20,
        "nodes": int(after["Nodes"]),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--fake-fleet", required=True)
    parser.add_argument("--counts", default="50,500")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    if missing_tools_status("fleet page benchmark") is not None:
        return 1
    args.gateway = os.path.abspath(args.gateway)
    args.fake_fleet = os.path.abspath(args.fake_fleet)

    print(f"{'controllers':>11} {'view':>6} {'load ms':>8} {'sort ms p50/max':>16} {'letter ms':>10} "
          f"{'refresh ms':>11} {'JS heap MiB':>12} {'DOM nodes':>10}")
    for count in [int(c) for c in args.counts.split(",")]:
        work = tempfile.mkdtemp(prefix="fleet-page-bench-")
        fleet = gateway = driver = None
        try:
            fleet, gateway, base = start_gateway(args, count, work)
            driver = new_chromium(work)
            set_viewport(driver, 1280, 800)
            for view in ("table", "cards"):
                f = measure(driver, base, view, count, args.rounds)
                print(f"{count:>11} {view:>6} {f['load']:>8.0f} {f['sort']:>8.1f} {f['sort_max']:>7.1f} "
                      f"{f['letter']:>10.1f} {f['refresh']:>11.1f} {f['heap']:>12.1f} {f['nodes']:>10}",
                      flush=True)
        finally:
            if driver is not None:
                driver.quit()
            for process in (gateway, fleet):
                if process is not None:
                    process.kill()
                    process.wait(timeout=10)
            shutil.rmtree(work, ignore_errors=True)
    print("load: navigation start to every controller drawn; sort, letter: to the next frame; "
          "refresh: main-thread time per poll interval with the page open")
    return 0


if __name__ == "__main__":
    sys.exit(main())
