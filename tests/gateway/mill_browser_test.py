#!/usr/bin/python3
"""The mill's pages in a real headless Chromium, against real ifc-server processes and the real
ifc-gateway with a state directory (a real SQLite file in a temporary folder): loom1 saved as a
style in the library page, a document imported and hidden there (with its confirmation, by
keyboard); the version assigned through the API; a value changed on loom1 with ifc-client, so
that the fleet and machine pages show the drift; the version compared with loom1 (both dials,
the difference highlighted) and with a machine that holds it ("equal"); a roll-out planned in
the page, its dry run listing each machine's changes, started, and its progress page reaching
"completed"; the logbook showing the outside change and the gateway's writes, its filters and
downloads. Screenshots of each page at 1280x800 and 390x844 go to the output folder; no page
logs a script error or a policy violation.

Exit status 0: passed; 1: failed; 77: skipped (the browser tools are missing and CI is not set).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import (  # noqa: E402
    Processes, check, console_problems, free_port, fresh_screenshot_folder, get_json,
    missing_tools_status, new_chromium, set_viewport, start_servers, test_arguments,
    wait_listening)

NAMES = [f"loom{i}" for i in range(1, 6)]
GROUPS = {"loom1": "hall1", "loom2": "hall1", "loom3": "hall1", "loom4": "hall2", "loom5": "hall2"}
STYLE = "denim-12"

# What on a page scrolls inside it, and how wide the page is.
NESTED_SCROLLING = """
return [...document.querySelectorAll('main *')].filter((e) => {
  const s = getComputedStyle(e);
  return (['auto', 'scroll'].includes(s.overflowY) && e.scrollHeight > e.clientHeight + 1) ||
         (['auto', 'scroll'].includes(s.overflowX) && e.scrollWidth > e.clientWidth + 1);
}).map((e) => e.id || e.className);
"""


def post_json(url, body):
    request = urllib.request.Request(url, data=json.dumps(body).encode(), method="POST",
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as response:
        return response.status, json.load(response)


def read_text(url):
    with urllib.request.urlopen(url, timeout=10) as response:
        return response.status, response.headers.get("Content-Type", ""), response.read().decode()


def main():
    args = test_arguments("gateway", "server", "client")

    status = missing_tools_status("gateway mill browser test")
    if status is not None:
        return status

    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait

    fresh_screenshot_folder(args.out, "mill-")
    work = tempfile.mkdtemp(prefix="ifc-mill-browser-")
    processes = Processes()
    driver = None
    try:
        ports = start_servers(processes, args.server, NAMES, work)
        ports["http"] = free_port()
        gateway_dir = os.path.join(work, "gateway")
        os.makedirs(gateway_dir)
        state_dir = os.path.join(work, "state")
        command = [args.gateway, "--listen", f"127.0.0.1:{ports['http']}", "--poll", "1",
                   "--state-dir", state_dir]
        for name in NAMES:
            command += ["--controller", f"{name}=127.0.0.1:{ports[name]},group={GROUPS[name]}"]
        processes.start(command, gateway_dir)
        wait_listening(ports["http"])
        base = f"http://127.0.0.1:{ports['http']}"
        end = time.monotonic() + 20
        while time.monotonic() < end and not all(c["reachable"] for c in get_json(base + "/api/controllers")):
            time.sleep(0.2)
        check(all(c["reachable"] for c in get_json(base + "/api/controllers")), "the five servers are live")
        check(get_json(base + "/api/state")["available"], "the gateway's state is available")

        def client(name, *words):
            """A change made beside the gateway, as a technician's terminal would."""
            done = subprocess.run([args.client, "--port", str(ports[name]), "--json", *words],
                                  capture_output=True, text=True, timeout=20)
            if done.returncode != 0:
                raise AssertionError(f"ifc-client {' '.join(words)}: {done.stdout} {done.stderr}")
            return json.loads(done.stdout)

        driver = new_chromium(work)
        set_viewport(driver, 1280, 800)
        wait = WebDriverWait(driver, 20)

        def screenshot(name):
            driver.save_screenshot(os.path.join(args.out, f"mill-{name}.png"))

        def text_of(element_id):
            return driver.find_element(By.ID, element_id).text

        def wait_text(element_id, words):
            wait.until(lambda d: words in d.find_element(By.ID, element_id).text)
            return text_of(element_id)

        def rows(selector):
            """The rows a selector finds, read in one go (the pages redraw them as they refresh)."""
            return driver.execute_script(
                "return [...document.querySelectorAll(arguments[0])].map((r) => ({text: r.innerText,"
                " origin: r.dataset.origin, state: r.dataset.state, controller: r.dataset.controller,"
                " setting: r.children[2] && r.children[2].innerText}))", selector)

        def fits_a_phone(page):
            width = driver.execute_script("return document.documentElement.scrollWidth")
            nested = driver.execute_script(NESTED_SCROLLING)
            check(width <= 390 and nested == [],
                  f"the {page} page fits a phone's width ({width} px), nothing scrolls inside it {nested}")

        # The fleet page links to the mill's pages once the gateway keeps a state.
        driver.get(base + "/")
        wait.until(lambda d: d.find_element(By.ID, "mill-links").is_displayed())
        links = [a.text for a in driver.find_elements(By.CSS_SELECTOR, "#mill-links a")]
        check(links == ["All controllers", "Library", "Compare", "Roll-outs", "Logbook"],
              f"the fleet page links to the mill's pages ({links})")

        # The library: loom1 saved as a style, in the page.
        driver.find_element(By.LINK_TEXT, "Library").click()
        wait.until(lambda d: d.find_element(By.ID, "versions-empty").is_displayed())
        check("empty" in text_of("versions-empty"), "an empty library says how to fill it")
        Select(driver.find_element(By.ID, "save-controller")).select_by_value("loom1")
        driver.find_element(By.ID, "save-style").send_keys("denim 12")
        driver.find_element(By.ID, "save-note").send_keys("loom 1 after the service", Keys.ENTER)
        refused = wait_text("save-result", "Not saved")
        check(driver.switch_to.active_element.get_attribute("id") == "save-style",
              f"a style name with a blank is refused beside the form, the keyboard taken to it ({refused})")
        style = driver.find_element(By.ID, "save-style")
        style.clear()
        style.send_keys(STYLE, Keys.ENTER)
        saved = wait_text("save-result", "Saved")
        check(saved == f"Saved loom1's settings as {STYLE} v1.", f"the outcome shows beside the form ({saved})")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, f'#versions tr[data-version="{STYLE} v1"]'))
        row = driver.find_element(By.CSS_SELECTOR, f'#versions tr[data-version="{STYLE} v1"]').text
        check("loom 1 after the service" in row and "local" in row and "loom1" in row,
              f"the versions list the new one with its note, who saved it and its machine ({row!r})")

        # Import: the version exported, imported again under another style, then hidden.
        status_code, content_type, exported = read_text(base + f"/api/library/{STYLE}/1/document")
        export_link = driver.find_element(By.CSS_SELECTOR, f'a[aria-label="Export {STYLE} v1"]')
        check(export_link.get_attribute("href").endswith(f"/api/library/{STYLE}/1/document")
              and status_code == 200 and '"ifc-settings-document"' in exported,
              "a version's export link gives its settings document")
        document_file = os.path.join(work, "loom1.json")
        with open(document_file, "w") as f:
            f.write(exported)
        driver.find_element(By.ID, "import-file").send_keys(document_file)
        driver.find_element(By.ID, "import-style").send_keys("twill-8")
        driver.find_element(By.CSS_SELECTOR, "#import-form button").click()
        imported = wait_text("import-result", "Imported")
        check(imported == "Imported loom1.json as twill-8 v1.", f"a settings document is imported ({imported})")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#versions tr[data-version="twill-8 v1"]'))
        screenshot("library-1280x800")
        hide = driver.find_element(By.CSS_SELECTOR, 'button[aria-label="Hide twill-8 v1"]')
        driver.execute_script("arguments[0].focus()", hide)
        hide.send_keys(Keys.ENTER)
        check(driver.switch_to.active_element.text == "Keep it",
              "Hide asks first, the keyboard on the answer that keeps the version")
        driver.switch_to.active_element.send_keys(Keys.ESCAPE)
        check(driver.switch_to.active_element.get_attribute("aria-label") == "Hide twill-8 v1",
              "Escape keeps it and gives the keyboard back to Hide")
        driver.switch_to.active_element.send_keys(Keys.ENTER)
        driver.find_element(By.CSS_SELECTOR, ".confirm input").send_keys("imported by mistake")
        driver.find_element(By.CSS_SELECTOR, ".confirm button.danger").click()
        hidden = wait_text("versions-result", "Hidden")
        wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, '#versions tr[data-version="twill-8 v1"]'))
        check(hidden.startswith("Hidden: twill-8 v1."), f"the hidden version leaves the list, and the line says so ({hidden})")
        driver.find_element(By.ID, "show-hidden").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#versions tr.hidden-version[data-version="twill-8 v1"]'))
        print("ok: Show hidden versions lists it again, marked hidden")

        # Assigned through the API; a value changed at loom1 beside the gateway.
        status_code, answer = post_json(base + "/api/assignments",
                                        {"controllers": ["loom1", "loom2"], "style": STYLE, "version": 1})
        check(status_code == 200 and len(answer["assignments"]) == 2, "denim-12 v1 assigned to loom1 and loom2")
        client("loom1", "valves", "2", "main_on=100")
        driver.get(base + "/")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '.card[data-controller="loom1"] .drift.differs'))
        drift = driver.find_element(By.CSS_SELECTOR, '.card[data-controller="loom1"] .drift').text
        check(drift == f"1 value differs from {STYLE} v1", f"the fleet page shows loom1's drift ({drift})")
        driver.get(base + "/machines/loom1")
        wait.until(lambda d: d.find_element(By.ID, "drift-section").is_displayed())
        wait_text("drift-summary", "differs")
        listed = [r["text"] for r in rows("#drift-table tbody tr")]
        check(len(listed) == 1 and "colour 2 main_on 90 → 100" in listed[0],
              f"the machine page lists the difference in words ({listed})")
        check(driver.find_element(By.ID, "mill-links").is_displayed(), "the machine page links to the mill's pages")
        driver.execute_script("document.getElementById('drift-section').scrollIntoView()")
        screenshot("machine-drift-1280x800")
        driver.find_element(By.ID, "drift-compare").click()

        # Compare: the version and loom1, both dials, the difference highlighted.
        wait.until(lambda d: "/compare?" in d.current_url)
        verdict = wait_text("verdict", "difference")
        check(verdict == f"1 difference between {STYLE} v1 (A) and loom1 (B).", f"the verdict counts it ({verdict})")
        check(driver.find_element(By.ID, "colour-2").is_selected(),
              "the dials open at the colour that differs")
        dials = driver.execute_script("""
            return ['a', 'b'].map((side) => {
              const svg = document.getElementById('dial-' + side), r = svg.getBoundingClientRect();
              return {arcs: svg.querySelectorAll('.valve-arc').length, width: r.width, top: r.top,
                      band: [...svg.querySelectorAll('.diff-band')].map((b) => b.dataset.valve),
                      main: svg.querySelector('.valve-arc[data-valve="main"]').dataset.on,
                      key: [...document.querySelectorAll('#key-' + side + ' li.differs .key-entry')].map((b) => b.dataset.valve)};
            });""")
        check(all(d["arcs"] > 5 and d["width"] > 200 for d in dials) and abs(dials[0]["top"] - dials[1]["top"]) < 2,
              f"both valve dials are drawn, side by side ({[(d['arcs'], round(d['width'])) for d in dials]})")
        check([d["main"] for d in dials] == ["90", "100"], "A's main valve opens at 90°, B's at 100°")
        check(all(d["band"] == ["main"] and d["key"] == ["main"] for d in dials),
              "the valve that differs is marked on both dials and in both keys")
        row = driver.find_element(By.CSS_SELECTOR, "#differences tbody tr")
        tint = driver.execute_script("return getComputedStyle(arguments[0].querySelector('td')).backgroundColor", row)
        check(row.text.split("\n")[0].startswith("colour 2 main_on") and "colour 2 main_on 90 → 100" in row.text
              and tint not in ("rgba(0, 0, 0, 0)", "transparent"),
              f"the difference stands highlighted in the table, in words ({row.text!r}, {tint})")
        key = driver.find_element(By.CSS_SELECTOR, '#key-b .key-entry[data-valve="main"]')
        driver.execute_script("arguments[0].focus()", key)
        picked = driver.execute_script(
            "return ['a', 'b'].map((s) => document.querySelector(`#dial-${s} .valve-arc.highlighted`)?.dataset.valve)")
        check(picked == ["main", "main"], "a valve picked in one key stands out on both dials")
        driver.execute_script("document.activeElement.blur()")
        screenshot("compare-1280x800")
        set_viewport(driver, 390, 844)
        driver.refresh()
        wait_text("verdict", "difference")
        fits_a_phone("compare")
        screenshot("compare-390x844")
        driver.execute_script("document.getElementById('figure-b').scrollIntoView()")
        screenshot("compare-dial-b-390x844")
        set_viewport(driver, 1280, 800)
        Select(driver.find_element(By.ID, "side-b")).select_by_value("@loom2")
        driver.find_element(By.CSS_SELECTOR, "#sides-form button.write").click()
        verdict = wait_text("verdict", "Equal")
        check(verdict == f"Equal: {STYLE} v1 and loom2 hold the same settings."
              and not driver.find_element(By.ID, "differences-section").is_displayed(),
              f"a machine that holds the version is said to be equal, plainly ({verdict})")

        # A roll-out from the page: loom1 and loom3 differ from the version, loom2 holds it.
        client("loom3", "targets", "1", "tw=250")
        driver.get(base + "/rollouts")
        wait.until(lambda d: len(Select(d.find_element(By.ID, "create-version")).options) > 1)
        Select(driver.find_element(By.ID, "create-version")).select_by_value(f"{STYLE}/1")
        driver.find_element(By.ID, "create-by-name").click()
        driver.find_element(By.ID, "create-names").send_keys("loom1, loom2, loom3")
        driver.find_element(By.ID, "create-reason").send_keys("back to denim-12")
        screenshot("rollouts-1280x800")
        driver.find_element(By.CSS_SELECTOR, "#create-form button.write").click()
        wait.until(lambda d: "/rollouts/" in d.current_url)
        rollout_id = driver.current_url.rsplit("/", 1)[1]
        wait_text("state-line", "planned")
        plan = {r["controller"]: r["text"] for r in rows("#machines tbody tr")}
        check("dry run: 1 value to write" in plan["loom1"] and "colour 2 main_on 100 → 90" in plan["loom1"]
              and "colour 1 tw 250 → 240" in plan["loom3"] and "holds the version already" in plan["loom2"],
              f"the dry run lists each machine's changes ({plan})")
        check(all("pending" in text for text in plan.values()), "nothing is written by the dry run")
        screenshot("rollout-planned-1280x800")
        driver.find_element(By.ID, "start").click()
        wait_text("action-result", "Started")
        wait.until(lambda d: "completed" in d.find_element(By.ID, "state-line").text)
        states = [r["state"] for r in rows("#machines tbody tr")]
        check(states == ["applied"] * 3, f"the progress page reaches completed, every machine applied ({states})")
        check(text_of("progress-text").startswith("3 of 3 machines done"), "the progress says 3 of 3")
        check(driver.find_element(By.ID, "start").get_attribute("disabled") is not None
              and driver.find_element(By.ID, "cancel").get_attribute("disabled") is not None,
              "a finished roll-out can be neither started nor cancelled")
        screenshot("rollout-completed-1280x800")
        compared = get_json(base + f"/api/compare?a={STYLE}/1&b=@loom3")
        end = time.monotonic() + 10
        while not compared["equal"] and time.monotonic() < end:
            time.sleep(0.3)
            compared = get_json(base + f"/api/compare?a={STYLE}/1&b=@loom3")
        check(compared["equal"], "loom3 holds the version after the roll-out")
        set_viewport(driver, 390, 844)
        driver.refresh()
        wait_text("state-line", "completed")
        fits_a_phone("roll-out")
        screenshot("rollout-completed-390x844")
        driver.get(base + "/rollouts")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, f'tr[data-rollout="{rollout_id}"]'))
        check("completed" in driver.find_element(By.CSS_SELECTOR, f'tr[data-rollout="{rollout_id}"]').text,
              "the list of roll-outs shows it completed")
        fits_a_phone("roll-outs")
        screenshot("rollouts-390x844")

        # The logbook: the outside change at loom1 and the gateway's writes, filtered.
        set_viewport(driver, 1280, 800)
        driver.get(base + "/logbook?controller=loom1&key=main_on")
        wait.until(lambda d: len(rows("#entries tbody tr")) >= 2)
        entries = [(r["origin"], r["text"]) for r in rows("#entries tbody tr")]
        check(len(entries) == 2 and entries[0][0] == "gateway" and entries[1][0] == "outside",
              f"loom1's main_on changed twice, newest first: the roll-out's write, the outside change ({entries})")
        check("100 → 90" in entries[0][1] and "through the gateway" in entries[0][1] and "local" in entries[0][1]
              and "back to denim-12" in entries[0][1] and f"Roll-out {rollout_id}" in entries[0][1],
              "the gateway's write says who, why and its roll-out")
        check("90 → 100" in entries[1][1] and "at the machine or by another client" in entries[1][1]
              and "after the poll of" in entries[1][1], "the outside change says where and between which polls")
        check(Select(driver.find_element(By.ID, "f-controller")).first_selected_option.text == "loom1"
              and driver.find_element(By.ID, "f-key").get_attribute("value") == "main_on",
              "the filters in the address fill the form")
        screenshot("logbook-1280x800")
        Select(driver.find_element(By.ID, "f-origin")).select_by_value("outside")
        driver.find_element(By.CSS_SELECTOR, "#filters button.write").click()
        wait.until(lambda d: len(rows("#entries tbody tr")) == 1)
        check(rows("#entries tbody tr")[0]["origin"] == "outside" and "origin=outside" in driver.current_url,
              "filtered by origin, only the outside change is left, and the address keeps the filter")
        csv_link = driver.find_element(By.ID, "download-csv").get_attribute("href")
        status_code, content_type, csv = read_text(csv_link)
        lines = csv.strip().split("\r\n")
        check(status_code == 200 and content_type.startswith("text/csv") and len(lines) == 2
              and ",loom1,valves,2,main_on,90,100,outside," in lines[1],
              f"the CSV download has the same filters ({csv_link}: {lines})")
        status_code, content_type, jsonl = read_text(driver.find_element(By.ID, "download-jsonl").get_attribute("href"))
        check([json.loads(line)["origin"] for line in jsonl.strip().split("\n")] == ["outside"],
              "so has the JSON-lines download")
        driver.find_element(By.ID, "clear").click()
        wait.until(lambda d: len(rows("#entries tbody tr")) > 2)
        driver.find_element(By.ID, "f-who").send_keys("local", Keys.ENTER)
        wait.until(lambda d: all(r["origin"] == "gateway" for r in rows("#entries tbody tr")))
        sections = {r["setting"].split(" ")[0] for r in rows("#entries tbody tr")}
        check({"library", "colour"} <= sections,
              f"by who: the library's saves and hide and the roll-out's writes ({sections})")
        set_viewport(driver, 390, 844)
        driver.get(base + "/logbook")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#entries tbody tr"))
        fits_a_phone("logbook")
        screenshot("logbook-390x844")
        driver.get(base + "/library")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#versions tbody tr"))
        fits_a_phone("library")
        screenshot("library-390x844")

        problems = console_problems(driver)
        check(problems == [], f"the pages ran without script errors or policy violations {problems}")
        print("screenshots in", args.out)
        return 0
    except Exception as failure:  # noqa: BLE001 - any failure fails the test, with its reason
        print("FAILED:", failure, file=sys.stderr)
        if driver is not None:
            driver.save_screenshot(os.path.join(args.out, "mill-failure.png"))
            for entry in driver.get_log("browser"):
                print("browser:", entry["level"], entry["message"], file=sys.stderr)
        return 1
    finally:
        if driver is not None:
            driver.quit()
        processes.stop_all()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
