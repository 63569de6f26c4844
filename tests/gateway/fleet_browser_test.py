#!/usr/bin/python3
"""The fleet page of a mill in a real headless Chromium: 50 controllers (47 real servers, two
that nobody answers for, one frozen) in two groups of the configuration and a few without a
group. Failing and drifting machines come first; sorting by the column heads and the order
list, turned round; the search, Enter and Escape in it; groups folding, kept over a reload;
the compact table holding all 50 machines on a 1280x800 screen; the cards; a phone at 390x844;
the keyboard alone. Screenshots at both sizes go to the output folder.

The drift here is the page's input, not the gateway's work: the test adds it to the list as
the page receives it, in the shape docs/gateway.md gives, so that every case of it shows at once
among 50 machines (the mill's browser test has the gateway compute it from a real assignment).

Exit status 0: passed; 1: failed; 77: skipped (the browser tools are missing and CI is not set).
"""
import os
import re
import shutil
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import (  # noqa: E402
    Processes, check, console_problems, free_ports, fresh_screenshot_folder, get_json,
    missing_tools_status, new_chromium, set_viewport, start_servers, test_arguments,
    wait_listening)

# hall1: loom1..loom20, hall2: loom21..loom40, loom41..loom50 without a group.
GROUPS = {**{f"loom{i}": "hall1" for i in range(1, 21)}, **{f"loom{i}": "hall2" for i in range(21, 41)}}
UNREACHABLE = ("loom7", "loom33")
FROZEN = "loom12"
# The drift the page is given: hall2 assigned denim-12 v3, two of its looms drifting; loom5
# assigned twill-8 v1 and not compared yet.
DRIFT = {**{f"loom{i}": {"version": {"name": "denim-12", "version": 3}, "differences": 0}
            for i in range(21, 41)},
         "loom23": {"version": {"name": "denim-12", "version": 3}, "differences": 4},
         "loom35": {"version": {"name": "denim-12", "version": 3}, "differences": 1},
         "loom5": {"version": {"name": "twill-8", "version": 1}, "differences": None}}

# Wraps the page's fetch so that the list it receives carries the drift above.
ADD_DRIFT = """
const drift = arguments[0];
if (!window.fetchWithoutDrift) window.fetchWithoutDrift = window.fetch;
window.fetch = async (path, options) => {
  const response = await window.fetchWithoutDrift(path, options);
  if (path !== '/api/controllers') return response;
  const list = await response.json();
  for (const c of list) c.drift = drift[c.name] || null;
  return new Response(JSON.stringify(list), {status: response.status, headers: response.headers});
};
"""

# Each shown row (or card) of the page: name, group and whether it lies wholly in the viewport.
SHOWN = """
return [...document.querySelectorAll('#fleet [data-controller]')].map((e) => {
  const r = e.getBoundingClientRect();
  const section = e.closest('.group-rows, .cards');
  return {name: e.dataset.controller, group: section && section.id,
          in_view: r.top >= 0 && r.bottom <= innerHeight && r.left >= 0 && r.right <= innerWidth && r.height > 0,
          text: e.innerText};
});
"""


def natural(name):
    return [int(p) if p.isdigit() else p for p in re.split(r"(\d+)", name)]


def main():
    args = test_arguments("gateway", "server")

    status = missing_tools_status("gateway fleet browser test")
    if status is not None:
        return status

    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait

    fresh_screenshot_folder(args.out, "fleet-")
    work = tempfile.mkdtemp(prefix="ifc-fleet-browser-")
    processes = Processes()
    driver = None
    frozen = socket.socket()
    try:
        frozen.bind(("127.0.0.1", 0))
        frozen.listen(64)
        names = [f"loom{i}" for i in range(1, 51)]
        ports = dict(zip(names + ["http"], free_ports(len(names) + 1)))
        ports[FROZEN] = frozen.getsockname()[1]
        live = [n for n in names if n not in UNREACHABLE and n != FROZEN]
        ports.update(start_servers(processes, args.server, live, work, ports.values()))
        http_port = ports["http"]
        gateway_dir = os.path.join(work, "gateway")
        os.makedirs(gateway_dir)
        command = [args.gateway, "--listen", f"127.0.0.1:{http_port}", "--poll", "1"]
        for name in names:
            group = f",group={GROUPS[name]}" if name in GROUPS else ""
            command += ["--controller", f"{name}=127.0.0.1:{ports[name]}{group}"]
        processes.start(command, gateway_dir)
        wait_listening(http_port)
        base = f"http://127.0.0.1:{http_port}"
        # Every controller polled once, the frozen one given up on.
        end = time.monotonic() + 30
        while time.monotonic() < end:
            listed = get_json(base + "/api/controllers")
            if all(c["reachable"] or c["last_error"] for c in listed):
                break
            time.sleep(0.2)
        check(sum(c["reachable"] for c in listed) == 47, "47 of the 50 controllers are live")
        check(listed[0]["group"] == "hall1" and listed[45]["group"] is None,
              "the list names each controller's group from the configuration")

        driver = new_chromium(work)
        set_viewport(driver, 1280, 800)
        wait = WebDriverWait(driver, 15)

        def screenshot(name):
            driver.save_screenshot(os.path.join(args.out, f"fleet-{name}.png"))

        def shown():
            return driver.execute_script(SHOWN)

        def shown_names(group=None):
            return [r["name"] for r in shown() if group is None or r["group"] == group]

        def group_body(group):
            fold = driver.find_element(By.CSS_SELECTOR, f'button.fold[data-group="{group}"]')
            return fold.get_attribute("aria-controls")

        def wait_rows(count):
            wait.until(lambda d: len(shown()) == count)

        def open_page(path, rows=50):
            """Opens the fleet page and waits for a list with the drift (the second the page
            fetches): the page is laid out anew when the drift arrives."""
            driver.get(base + path)
            driver.execute_script(ADD_DRIFT, DRIFT)
            wait.until(lambda d: "drifting" in d.find_element(By.ID, "summary").text)
            wait_rows(rows)

        open_page("/")
        summary = driver.find_element(By.ID, "summary").text
        check(summary == "50 controllers: 47 live, 2 unreachable, 1 busy or not answering; 2 drifting",
              f"the summary counts the states and the drifting machines ({summary})")
        check(driver.find_elements(By.CSS_SELECTOR, "table.fleet-table")
              and driver.find_element(By.ID, "view-table").is_selected(),
              "more than 24 controllers open as the compact table")

        # All 50 in sight at 1280x800, with the group headings.
        rows = shown()
        outside = [r["name"] for r in rows if not r["in_view"]]
        check(len(rows) == 50 and not outside,
              f"the compact table shows all 50 machines on a 1280x800 screen (outside: {outside})")
        fonts = driver.execute_script(
            "return [...document.querySelectorAll('.fleet-table tbody td, .fleet-table tbody th')]"
            ".map(e => parseFloat(getComputedStyle(e).fontSize))")
        check(min(fonts) >= 12, f"its text is at least 12 px ({min(fonts)} px)")
        headings = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "button.fold .group-name")]
        check(headings == ["hall1", "hall2", "No group"],
              f"the groups in the configuration's order, the machines without one last ({headings})")
        screenshot("table-1280x800")

        # The default order: failing first, then drifting, then the rest by name.
        hall1 = shown_names(group_body("hall1"))
        check(hall1[:2] == ["loom7", "loom12"],
              f"in hall1 the unreachable and then the frozen machine come first ({hall1[:4]})")
        check(hall1[2:] == sorted(hall1[2:], key=natural), "then the rest of hall1 by name, loom2 before loom10")
        hall2 = shown_names(group_body("hall2"))
        check(hall2[:3] == ["loom33", "loom23", "loom35"],
              f"in hall2 the unreachable machine comes first, then the drifting ones, most drift first ({hall2[:4]})")
        def drift_cell(name):
            """What the eye reads in a row's drift cell, what a screen reader reads, the title."""
            return driver.execute_script(
                "const cell = document.querySelector(`tr[data-controller='${arguments[0]}'] .drift-cell`);"
                "const seen = [...cell.children].filter((e) => !e.matches('.visually-hidden, [aria-hidden]'));"
                "return [seen.map((e) => e.textContent).join(' '),"
                "        [...cell.childNodes].filter((e) => !(e.matches && e.matches('[aria-hidden]')))"
                "          .map((e) => e.textContent).join('').replace(/ +/g, ' '), cell.title];", name)
        check(drift_cell("loom23") == ["4 differ denim-12 v3", "4 differ from denim-12 v3",
                                       "4 values differ from denim-12 v3"],
              f"a drifting row says by how much and from what ({drift_cell('loom23')})")
        check(drift_cell("loom35")[0] == "1 differs denim-12 v3" and drift_cell("loom21")[0] == "matches denim-12 v3",
              "one value differs; a machine that holds its version matches it")
        check(drift_cell("loom5")[0::2] == ["not compared twill-8 v1", "Not compared yet with twill-8 v1"],
              f"an assignment not compared yet says so ({drift_cell('loom5')})")
        check(drift_cell("loom41")[1:] == ["no version assigned", "No library version assigned"],
              f"a machine without an assignment shows a dash, and says so to a screen reader ({drift_cell('loom41')})")
        # The reading order is down each column: the second line of the first column holds the
        # second machine of the order.
        second = driver.execute_script(
            "const rows = document.querySelectorAll('#' + arguments[0] + ' tr');"
            "const a = rows[0].getBoundingClientRect(), b = rows[1].getBoundingClientRect();"
            "return [a.left === b.left, b.top > a.top];", group_body("hall1"))
        check(second == [True, True], "a group is read down each column, then the next column")

        # Sorting by a column head, and again to turn it round.
        driver.find_element(By.CSS_SELECTOR, '.head-row:not(.head-copy) button[data-sort="name"]').click()
        hall1 = shown_names(group_body("hall1"))
        check(hall1 == sorted(hall1, key=natural), "the Name head orders each group by name")
        head = driver.find_element(By.CSS_SELECTOR, '.head-row:not(.head-copy) th[aria-sort]')
        check(head.text.startswith("Name") and head.get_attribute("aria-sort") == "ascending",
              "the Name column is marked as the sorted one")
        driver.find_element(By.CSS_SELECTOR, '.head-row:not(.head-copy) button[data-sort="name"]').click()
        hall1 = shown_names(group_body("hall1"))
        check(hall1 == sorted(hall1, key=natural, reverse=True)
              and "reverse=1" in driver.current_url and "sort=name" in driver.current_url,
              "the same head again turns the order round, and the address keeps it")
        driver.find_element(By.CSS_SELECTOR, '.head-row:not(.head-copy) button[data-sort="drift"]').click()
        hall2 = shown_names(group_body("hall2"))
        others = shown_names(group_body(""))
        check(hall2[:2] == ["loom23", "loom35"], f"the Drift head puts the most drift first ({hall2[:3]})")
        check(shown_names(group_body("hall1"))[0] == "loom5",
              "an assigned machine not yet compared comes before those without an assignment")
        check(others == sorted(others, key=natural), "machines without an assignment follow by name")
        driver.find_element(By.CSS_SELECTOR, '.head-row:not(.head-copy) button[data-sort="state"]').click()
        hall1 = shown_names(group_body("hall1"))
        check(hall1[:2] == ["loom7", "loom12"], f"the State head puts the worst state first ({hall1[:3]})")
        from selenium.webdriver.support.ui import Select
        Select(driver.find_element(By.ID, "sort")).select_by_value("age")
        hall1 = shown_names(group_body("hall1"))
        check(set(hall1[:2]) == {"loom7", "loom12"} and hall1[2:] == sorted(hall1[2:], key=natural),
              f"by data age, the machines never read come first, the fresh ones by name ({hall1[:4]})")

        # The order survives a reload (it is in the address); back to the default.
        open_page("/?sort=state")
        check(driver.find_element(By.ID, "sort").get_attribute("value") == "state",
              "a link with ?sort=state opens sorted by state")
        Select(driver.find_element(By.ID, "sort")).select_by_value("attention")
        check("sort=" not in driver.current_url, "the default order leaves the address plain")

        # Search: by keyboard from anywhere with "/", part of a name, Escape, Enter.
        driver.find_element(By.TAG_NAME, "body").send_keys("/")
        search = driver.switch_to.active_element
        check(search.get_attribute("id") == "search", "/ takes the keyboard to the search")
        search.send_keys("loom3")
        wait_rows(11)
        names = set(shown_names())
        check(names == {"loom3", *(f"loom{i}" for i in range(30, 40))},
              "searching loom3 shows loom3 and loom30..loom39")
        line = driver.find_element(By.ID, "shown").text
        check(line == "11 of 50 controllers match “loom3”.", f"a line says how many match ({line})")
        check(len(driver.find_elements(By.CSS_SELECTOR, 'button.fold[data-group=""]')) == 0,
              "a group without a match is left out")
        screenshot("search-1280x800")
        search.send_keys(Keys.ESCAPE)
        wait_rows(50)
        check(driver.find_element(By.ID, "search").get_attribute("value") == "", "Escape clears the search")
        search.send_keys("127.0.0.1:" + str(ports["loom44"]))
        wait_rows(1)
        check(shown_names() == ["loom44"], "the search finds a machine by its address")
        search.send_keys(Keys.ESCAPE)
        search.send_keys("xyz")
        wait_rows(0)
        check("No controller" in driver.find_element(By.ID, "shown").text, "a search without a match says so")
        search.send_keys(Keys.ESCAPE)
        search.send_keys("LOOM31", Keys.ENTER)
        wait.until(lambda d: d.current_url.endswith("/machines/loom31"))
        print("ok: Enter in the search opens the machine it names (case ignored)")

        # Folding a group, kept over a reload; fold all; by keyboard.
        open_page("/")
        fold = driver.find_element(By.CSS_SELECTOR, 'button.fold[data-group="hall1"]')
        fold.click()
        wait_rows(30)
        fold = driver.find_element(By.CSS_SELECTOR, 'button.fold[data-group="hall1"]')
        check(fold.get_attribute("aria-expanded") == "false" and "loom1" not in shown_names(),
              "a group's heading folds it: its machines are gone, the heading says it is folded")
        check("20 controllers: 18 live, 1 unreachable, 1 busy or not answering" in fold.text,
              f"a folded group's heading still counts its states ({fold.text!r})")
        open_page("/", rows=30)
        print("ok: the folding is kept over a reload")
        screenshot("folded-1280x800")
        fold = driver.find_element(By.CSS_SELECTOR, 'button.fold[data-group="hall1"]')
        driver.execute_script("arguments[0].focus()", fold)
        fold.send_keys(Keys.ENTER)
        wait_rows(50)
        check(driver.switch_to.active_element.get_attribute("data-group") == "hall1",
              "Enter on a folded heading unfolds it, and the keyboard stays on it")
        fold_all = driver.find_element(By.ID, "fold-all")
        fold_all.click()
        wait_rows(0)
        check(driver.find_element(By.ID, "fold-all").text == "Unfold all groups", "Fold all groups folds them all")
        driver.find_element(By.ID, "fold-all").click()
        wait_rows(50)

        # The keyboard alone: Tab from the search through the tools to the first group and
        # its first machine; the view by arrow keys.
        search = driver.find_element(By.ID, "search")
        search.click()
        order = []
        for _ in range(8):
            element = driver.switch_to.active_element
            order.append(element.get_attribute("id") or element.get_attribute("data-group")
                         or element.text.split("\n")[0])
            element.send_keys(Keys.TAB)
        check(order == ["search", "sort", "reverse", "view-table", "fold-all", "Name", "State", "Drift"],
              f"Tab goes search, order, reverse, view, fold all, then the table's heads ({order})")
        check(driver.switch_to.active_element.text == "Age", "and the last head, Age")
        driver.switch_to.active_element.send_keys(Keys.TAB)
        check(driver.switch_to.active_element.get_attribute("data-group") == "hall1",
              "after the heads, the first group's heading")
        driver.switch_to.active_element.send_keys(Keys.TAB)
        check(driver.switch_to.active_element.text == "loom7", "then its first machine")
        outline = driver.execute_script(
            "const a = document.activeElement, s = getComputedStyle(a), r = a.getBoundingClientRect(),"
            " cell = a.closest('th').getBoundingClientRect();"
            "const ring = parseFloat(s.outlineOffset) + parseFloat(s.outlineWidth);"
            "return [s.outlineStyle, parseFloat(s.outlineWidth), r.left - ring >= cell.left - 0.5 && r.top - ring >= cell.top - 0.5]")
        check(outline[0] == "solid" and outline[1] >= 2 and outline[2],
              f"the focused machine shows a focus ring inside its cell, not cut off ({outline})")
        screenshot("keyboard-1280x800")
        driver.switch_to.active_element.send_keys(Keys.SHIFT, Keys.TAB)
        driver.switch_to.active_element.send_keys(Keys.SHIFT, Keys.TAB)
        head = driver.switch_to.active_element
        head.send_keys(Keys.ENTER)
        wait.until(lambda d: "sort=age" in d.current_url)
        check(driver.switch_to.active_element.get_attribute("data-sort") == "age",
              "Enter on a head sorts by it, and the keyboard stays on the head")
        view = driver.find_element(By.ID, "view-table")
        view.send_keys(Keys.ARROW_LEFT)
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, ".card"))
        check(driver.find_element(By.ID, "view-cards").is_selected() and "view=cards" in driver.current_url,
              "an arrow key on the view switches to the cards")

        # The cards: drift outlined on the card, the failing ones first.
        cards = driver.find_elements(By.CSS_SELECTOR, "#group-1 .card")
        check(cards[0].get_attribute("data-controller") == "loom33", "the cards follow the same order")
        drift = driver.find_element(By.CSS_SELECTOR, '.card[data-controller="loom23"] .drift').text
        check(drift == "4 values differ from denim-12 v3", f"a drifting card says so ({drift})")
        screenshot("cards-1280x800")

        # A phone: the same page fits its width; the table's rows stay one readable line.
        set_viewport(driver, 390, 844)
        open_page("/?view=table")
        width = driver.execute_script("return document.documentElement.scrollWidth")
        check(width <= 390, f"the fleet table fits a phone's width ({width} px)")
        cut = driver.execute_script("""
            return [...document.querySelectorAll('.fleet-table tbody tr[data-controller]')].filter((r) => {
              const name = r.querySelector('.name-cell a'); const badge = r.querySelector('.badge');
              return name.scrollWidth > name.clientWidth + 1 || badge.getBoundingClientRect().right > innerWidth;
            }).map((r) => r.dataset.controller);""")
        check(cut == [], f"no name or state is cut off on a phone ({cut})")
        screenshot("table-390x844")
        driver.execute_script("document.querySelector('button.fold[data-group=\"hall2\"]').scrollIntoView()")
        word = driver.execute_script(
            "const w = document.querySelector('tr[data-controller=\"loom23\"] .drift-word');"
            "return [w.textContent, w.scrollWidth <= w.clientWidth + 1]")
        check(word == ["4 differ", True], f"on a phone a drifting row still says by how much ({word})")
        screenshot("table-hall2-390x844")
        open_page("/?view=cards")
        width = driver.execute_script("return document.documentElement.scrollWidth")
        check(width <= 390, f"the cards fit a phone's width ({width} px)")
        screenshot("cards-390x844")

        problems = console_problems(driver)
        check(problems == [], f"the page ran without script errors or policy violations {problems}")
        print("screenshots in", args.out)
        return 0
    except Exception as failure:  # noqa: BLE001 - any failure fails the test, with its reason
        print("FAILED:", failure, file=sys.stderr)
        if driver is not None:
            driver.save_screenshot(os.path.join(args.out, "fleet-failure.png"))
        return 1
    finally:
        if driver is not None:
            driver.quit()
        processes.stop_all()
        frozen.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
