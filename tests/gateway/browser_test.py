#!/usr/bin/python3
"""The gateway's web panel in a real headless Chromium: the fleet page, a machine page, the
valve dial drawn at the stored angles, a TO target and a valve angle changed in the page and
found on the controller afterwards, the banner of an unreachable controller. Screenshots of
every page go to the output folder.

Exit status 0: passed; 1: failed; 77: skipped (the browser tools are missing and CI is not set).
"""
import argparse
import json
import math
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
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


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, limit=10.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


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


def arc_angles(d):
    """The start and end angles of an arc path 'M x y A r r 0 large 1 x y' (0 at the top)."""
    numbers = [float(n) for n in re.findall(r"-?\d+(?:\.\d+)?", d)]
    x1, y1, x2, y2 = numbers[0], numbers[1], numbers[-2], numbers[-1]
    angle = lambda x, y: math.degrees(math.atan2(x, -y)) % 360
    return angle(x1, y1), angle(x2, y2)


def drawn_arcs(driver):
    """The dial's arcs at one moment (the page redraws the dial on every refresh)."""
    arcs = driver.execute_script(
        "return [...document.querySelectorAll('#dial .valve-arc')].map(a => ({"
        "valve: a.dataset.valve, on: a.dataset.on, off: a.dataset.off, d: a.getAttribute('d')}))")
    return {arc["valve"]: arc for arc in arcs}


def close(a, b):
    return abs((a - b + 180) % 360 - 180) < 0.6


def check(condition, message):
    if not condition:
        raise AssertionError(message)
    print("ok:", message)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--server", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    missing = tools_missing()
    if missing:
        message = "gateway browser test: missing " + ", ".join(missing) + \
                  " (scripts/install-deps.sh installs them)"
        if os.environ.get("CI"):
            print(message + "; CI is set, so this fails", file=sys.stderr)
            return 1
        print(message + "; skipped", file=sys.stderr)
        return SKIP

    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait

    os.makedirs(args.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="ifc-browser-")
    processes = Processes()
    driver = None
    try:
        ports = {}
        for name in ("loom1", "loom2"):
            folder = os.path.join(work, name)
            os.makedirs(folder)
            ports[name] = free_port()
            processes.start([args.server, "--port", str(ports[name])], folder)
        for port in ports.values():
            wait_listening(port)
        http_port = free_port()
        gateway_dir = os.path.join(work, "gateway")
        os.makedirs(gateway_dir)
        processes.start([args.gateway, "--listen", f"127.0.0.1:{http_port}", "--poll", "0.5",
                         "--controller", f"loom1=127.0.0.1:{ports['loom1']}",
                         "--controller", f"loom2=127.0.0.1:{ports['loom2']}",
                         "--controller", f"hall3=127.0.0.1:{free_port()}"], gateway_dir)
        wait_listening(http_port)
        base = f"http://127.0.0.1:{http_port}"

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", f"--user-data-dir={work}/profile"):
            options.add_argument(flag)
        # The console, to see whether the content security policy blocked anything.
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.set_window_size(1366, 768)
        wait = WebDriverWait(driver, 15)

        # The fleet: three cards, two live, one unreachable.
        driver.get(base + "/")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".card.state-reachable")) == 2)
        cards = driver.find_elements(By.CSS_SELECTOR, ".card")
        check(len(cards) == 3, "the fleet page shows one card per controller")
        check(len(driver.find_elements(By.CSS_SELECTOR, ".card.state-unreachable")) == 1,
              "the card of the unreachable controller says so")
        check(len(driver.find_elements(By.CSS_SELECTOR, ".card svg.bars rect")) == 2 * 46,
              "each live card draws a small histogram of 46 bins")
        driver.save_screenshot(os.path.join(args.out, "gateway-fleet-1366x768.png"))

        # A machine page: the dial draws each valve at the stored angles.
        driver.get(base + "/machines/loom1")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#dial .valve-arc"))
        wait.until(lambda d: d.find_element(By.ID, "target-to").get_attribute("value") != "")
        snapshot = get_json(base + "/api/controllers/loom1")
        shown = int(driver.find_element(By.CSS_SELECTOR, "#colour-choice input:checked").get_attribute("value"))
        valves = snapshot["colours"][shown - 1]["valves"]
        names = sorted({k.rsplit("_", 1)[0] for k in valves if k.endswith(("_on", "_off"))})
        drawn = drawn_arcs(driver)
        in_use = [n for n in names if f"{n}_off" not in valves or valves[f"{n}_on"] != valves[f"{n}_off"]]
        check(sorted(drawn) == sorted(in_use),
              f"the dial draws one arc per valve in use ({len(in_use)} valves)")
        for name, arc in drawn.items():
            on = valves[f"{name}_on"]
            start, end = arc_angles(arc["d"])
            if f"{name}_off" in valves:
                off = valves[f"{name}_off"]
                if not (close(start, on) and close(end, off)):
                    raise AssertionError(f"{name}: arc {start:.1f}..{end:.1f}, stored {on}..{off}")
            elif not close(start, on):
                raise AssertionError(f"{name}: mark at {start:.1f}, stored {on}")
        print("ok: every arc starts and ends at the stored on and off angles")
        driver.save_screenshot(os.path.join(args.out, "gateway-machine-1366x768.png"))
        height = driver.execute_script("return document.documentElement.scrollHeight")
        driver.set_window_size(1366, height + 140)
        driver.save_screenshot(os.path.join(args.out, "gateway-machine-full.png"))
        driver.set_window_size(1366, 768)

        # Changes in the page, typed as a technician would, each ending with Enter.
        to_field = driver.find_element(By.ID, "target-to")
        to_field.send_keys(Keys.CONTROL, "a")
        to_field.send_keys("97", Keys.ENTER)
        wait.until(lambda d: "Applied targets" in d.find_element(By.ID, "write-result").text)
        main_on = driver.find_element(By.CSS_SELECTOR, 'input[name="main_on"]')
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", main_on)
        main_on.send_keys(Keys.CONTROL, "a")
        main_on.send_keys("104", Keys.ENTER)
        wait.until(lambda d: "Applied valve angles" in d.find_element(By.ID, "write-result").text)
        arc = drawn_arcs(driver)["main"]
        check(arc["on"] == "104" and close(arc_angles(arc["d"])[0], 104),
              "the main valve's arc is redrawn from the read-back at 104°")
        driver.save_screenshot(os.path.join(args.out, "gateway-machine-after-write.png"))

        # The controller holds both, read through the client library.
        def client(*words):
            out = subprocess.run([args.client, "--port", str(ports["loom1"]), "--json", *words],
                                 capture_output=True, text=True, timeout=20)
            return json.loads(out.stdout)
        check(client("targets", str(shown))["values"]["to"] == 97, "the controller holds TO 97")
        check(client("valves", str(shown))["values"]["main_on"] == 104,
              "the controller holds main_on 104")

        # A value outside the range is refused in the page, with the reason shown.
        to_field = driver.find_element(By.ID, "target-to")
        to_field.send_keys(Keys.CONTROL, "a")
        to_field.send_keys("400", Keys.ENTER)
        time.sleep(0.5)
        check(client("targets", str(shown))["values"]["to"] == 97,
              "a TO of 400 (outside 50..150) does not reach the controller")

        # The keyboard alone: the arrow keys move between the colours, and the dial follows.
        radio = driver.find_element(By.CSS_SELECTOR, "#colour-choice input:checked")
        radio.send_keys(Keys.ARROW_RIGHT)
        wait.until(lambda d: d.find_element(By.ID, "valve-heading").text == f"Valve timing, colour {shown + 1}")
        check(driver.switch_to.active_element.get_attribute("value") == str(shown + 1),
              "the arrow keys choose the next colour and the dial shows it")

        # The unreachable controller's page carries a banner.
        driver.get(base + "/machines/hall3")
        wait.until(lambda d: d.find_element(By.ID, "banner").is_displayed())
        check("cannot read the controller" in driver.find_element(By.ID, "banner").text.lower(),
              "the page of an unreachable controller shows a banner")
        driver.save_screenshot(os.path.join(args.out, "gateway-machine-unreachable.png"))

        # A phone.
        driver.set_window_size(390, 844)
        driver.get(base + "/")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".card.state-reachable")) == 2)
        driver.save_screenshot(os.path.join(args.out, "gateway-fleet-phone.png"))
        driver.get(base + "/machines/loom1")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#dial .valve-arc"))
        width = driver.execute_script("return document.documentElement.scrollWidth")
        check(width <= 390, f"the machine page fits a phone's width ({width} px)")
        driver.save_screenshot(os.path.join(args.out, "gateway-machine-phone.png"))

        # Everything above ran under the gateway's content security policy, which blocked
        # nothing the pages do.
        with urllib.request.urlopen(base + "/machines/loom1", timeout=5) as response:
            policy = response.headers.get("Content-Security-Policy", "")
        check(all(part in policy for part in
                  ("default-src 'self'", "object-src 'none'", "base-uri 'none'",
                   "frame-ancestors 'none'")),
              "the pages come with a policy that allows no plugin, no base and no framing")
        blocked = [entry["message"] for entry in driver.get_log("browser")
                   if "Content Security Policy" in entry["message"]]
        check(not blocked, "the policy blocked nothing the pages do" +
              ("" if not blocked else ": " + blocked[0]))
        print("screenshots in", args.out)
        return 0
    except Exception as failure:  # noqa: BLE001 - any failure fails the test, with its reason
        print("FAILED:", failure, file=sys.stderr)
        if driver is not None:
            driver.save_screenshot(os.path.join(args.out, "gateway-failure.png"))
        return 1
    finally:
        if driver is not None:
            driver.quit()
        processes.stop_all()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
