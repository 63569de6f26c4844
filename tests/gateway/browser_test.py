#!/usr/bin/python3
"""The gateway's web panel in a real headless Chromium: the fleet page with a word for each
controller's state, a machine page, the valve dial drawn at the stored angles with a label and a
key entry for each ring at panel-PC and phone width, a valve picked out by keyboard and by
touch, a TO target and a valve angle changed in the page and found on the controller
afterwards, each write's outcome beside its control, a write token asked for in words, the
banner of an unreachable controller. Screenshots at 1280x800 and 390x844 go to the output
folder.

Exit status 0: passed; 1: failed; 77: skipped (the browser tools are missing and CI is not set).
"""
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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import (  # noqa: E402
    Processes, check, console_problems, free_port, fresh_screenshot_folder, get_json,
    missing_tools_status, new_chromium, set_viewport, start_servers, test_arguments,
    wait_listening)


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


def tag_of(valve):
    """The tag the dial draws at a valve's arc."""
    match = re.fullmatch(r"sub(\d+)", valve)
    return f"s{match.group(1)}" if match else valve


def group_of(valve):
    return "sub" if re.fullmatch(r"sub\d+", valve) else valve


# What the dial and its key show of each ring and timing line, as the browser renders them.
DIAL_FACTS = """
const facts = {order: [], rings: {}, marks: {}, width: innerWidth};
for (const arc of document.querySelectorAll('#dial .valve-arc')) {
  const name = arc.dataset.valve;
  const entry = document.querySelector(`#dial-key .key-entry[data-valve="${name}"]`);
  const tag = document.querySelector(`#dial .ring-tag[data-valve="${name}"]`);
  const label = entry && entry.querySelector('.key-name');
  const box = entry && entry.getBoundingClientRect();
  const tagBox = tag && tag.getBBox();
  facts.order.push(name);
  facts.rings[name] = {
    name: label && label.textContent,
    angles: entry && entry.querySelector('.key-angles').textContent,
    box: box && [box.left, box.right, box.width, box.height],
    font: label ? parseFloat(getComputedStyle(label).fontSize) : 0,
    tag: tag && tag.textContent,
    tag_size: tagBox ? [tagBox.width, tagBox.height] : [0, 0],
    colour: getComputedStyle(arc).stroke,
    swatch: entry && getComputedStyle(entry.querySelector('.swatch .valve-arc')).stroke,
  };
}
for (const mark of document.querySelectorAll('#dial .timing-mark[data-angle]')) {
  const [kind, quantity] = ['target', 'measured'].includes(mark.classList[1])
    ? [mark.classList[1], mark.classList[2]] : [mark.classList[2], mark.classList[1]];
  const entry = document.querySelector(`#dial-key [data-mark="${quantity}-${kind}"]`);
  facts.marks[`${quantity} ${kind}`] = {
    angle: Number(mark.dataset.angle),
    colour: getComputedStyle(mark).stroke,
    dashes: getComputedStyle(mark).strokeDasharray,
    swatch: entry && getComputedStyle(entry.querySelector('.swatch .timing-mark')).stroke,
    entry: entry && entry.textContent,
  };
}
return facts;
"""


def check_dial_labels(driver, valves, where):
    """Every ring in use has its tag on the dial and a readable key entry in view, in its own
    colour; neighbours, groups, TO and TW differ; targets and measurements differ in more than
    colour."""
    from selenium.webdriver.common.by import By
    driver.execute_script("document.getElementById('dial').scrollIntoView()")
    facts = driver.execute_script(DIAL_FACTS)
    for name, ring in facts["rings"].items():
        if ring["name"] != name or ring["box"] is None:
            raise AssertionError(f"{where}: the key has no entry for {name}")
        left, right, width, height = ring["box"]
        if not (width > 0 and height > 0 and left >= 0 and right <= facts["width"]):
            raise AssertionError(f"{where}: {name}'s key entry is cut off or empty: {ring['box']}")
        if ring["font"] < 12:
            raise AssertionError(f"{where}: {name}'s key entry is {ring['font']} px")
        entry = driver.find_element(By.CSS_SELECTOR, f'#dial-key .key-entry[data-valve="{name}"]')
        if not entry.is_displayed():
            raise AssertionError(f"{where}: {name}'s key entry is hidden")
        on, off = valves[f"{name}_on"], valves.get(f"{name}_off")
        stated = f"at {on}°" if off is None else f"{on}–{off}°"
        if ring["angles"] != stated:
            raise AssertionError(f"{where}: {name}'s key says {ring['angles']}, stored {stated}")
        if ring["tag"] != tag_of(name) or min(ring["tag_size"]) <= 0:
            raise AssertionError(f"{where}: {name}'s arc has no visible tag ({ring['tag']})")
        if ring["swatch"] != ring["colour"]:
            raise AssertionError(f"{where}: {name}'s key colour {ring['swatch']} is not its arc's "
                                 f"{ring['colour']}")
    print(f"ok: {where}: each of the {len(facts['rings'])} rings has a tag at its arc and a whole "
          "key entry of at least 12 px with its colour, name and angles")
    order = facts["order"]
    for outer, inner in zip(order, order[1:]):
        if facts["rings"][outer]["colour"] == facts["rings"][inner]["colour"]:
            raise AssertionError(f"{where}: neighbouring rings {outer} and {inner} share a colour")
    colours = {}
    for name in order:
        colours.setdefault(group_of(name), set()).add(facts["rings"][name]["colour"])
    groups = list(colours)
    for i, a in enumerate(groups):
        for b in groups[i + 1:]:
            if colours[a] & colours[b]:
                raise AssertionError(f"{where}: groups {a} and {b} share a colour")
    print(f"ok: {where}: neighbouring rings and the groups {', '.join(groups)} differ in colour")
    marks = facts["marks"]
    check(sorted(marks) == ["to measured", "to target", "tw measured", "tw target"],
          f"{where}: the dial draws the TO and TW targets and measurements")
    check(marks["to target"]["colour"] != marks["tw target"]["colour"]
          and marks["to measured"]["colour"] == marks["to target"]["colour"],
          f"{where}: TO and TW have a colour each")
    check(all(m["swatch"] == m["colour"] and m["entry"] for m in marks.values()),
          f"{where}: the key shows each timing line in its colour")
    check(marks["to target"]["dashes"] == "none" and marks["to measured"]["dashes"] != "none",
          f"{where}: a target is a solid line, a measurement a dashed one")


def arc_middle(driver, valve):
    """The middle of a valve's arc, in the page's viewport coordinates."""
    return driver.execute_script("""
        const arc = document.querySelector(`#dial .valve-arc[data-valve="${arguments[0]}"]`);
        const p = arc.getPointAtLength(arc.getTotalLength() / 2);
        const m = arc.getScreenCTM();
        return [Math.round(p.x * m.a + p.y * m.c + m.e), Math.round(p.x * m.b + p.y * m.d + m.f)];
        """, valve)


def in_view(driver, *elements):
    """Whether each element lies wholly inside the viewport."""
    return driver.execute_script("""
        return [...arguments].every((e) => {
          const r = e.getBoundingClientRect();
          return r.top >= 0 && r.bottom <= innerHeight && r.height > 0;
        });""", *elements)


def main():
    args = test_arguments("gateway", "server", "client")

    status = missing_tools_status("gateway browser test")
    if status is not None:
        return status

    from selenium.webdriver.common.actions import interaction
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.actions.pointer_input import PointerInput
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait

    fresh_screenshot_folder(args.out, "gateway-")
    work = tempfile.mkdtemp(prefix="ifc-browser-")
    processes = Processes()
    driver = None
    frozen = socket.socket()
    try:
        ports = {}
        ports.update(start_servers(processes, args.server, ("loom1", "loom2"), work))
        # A controller that takes the connection and never answers, as a frozen server does.
        frozen.bind(("127.0.0.1", 0))
        frozen.listen(64)
        http_port = free_port()
        gateway_dir = os.path.join(work, "gateway")
        os.makedirs(gateway_dir)
        processes.start([args.gateway, "--listen", f"127.0.0.1:{http_port}", "--poll", "0.5",
                         "--controller", f"loom1=127.0.0.1:{ports['loom1']}",
                         "--controller", f"loom2=127.0.0.1:{ports['loom2']}",
                         "--controller", f"hall3=127.0.0.1:{free_port()}",
                         "--controller", f"frozen=127.0.0.1:{frozen.getsockname()[1]}"],
                        gateway_dir)
        # A second gateway that wants a token for writes.
        token_port = free_port()
        token_dir = os.path.join(work, "token-gateway")
        os.makedirs(token_dir)
        with open(os.path.join(token_dir, "token"), "w") as token_file:
            token_file.write("loom-key-7\n")
        processes.start([args.gateway, "--listen", f"127.0.0.1:{token_port}", "--poll", "0.5",
                         "--token-file", os.path.join(token_dir, "token"),
                         "--controller", f"loom2=127.0.0.1:{ports['loom2']}"], token_dir)
        wait_listening(http_port)
        wait_listening(token_port)
        base = f"http://127.0.0.1:{http_port}"

        driver = new_chromium(work)
        set_viewport(driver, 1280, 800)
        wait = WebDriverWait(driver, 15)

        def screenshot(name):
            driver.save_screenshot(os.path.join(args.out, f"gateway-{name}.png"))

        def whole_page_screenshot(name, width):
            height = driver.execute_script("return document.documentElement.scrollHeight")
            set_viewport(driver, width, height)
            screenshot(name)

        # The fleet: four cards, two live, one unreachable, one busy; the badge says the same
        # word as the reason under it.
        driver.get(base + "/")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".card.state-reachable")) == 2)
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, ".card.state-busy"))
        cards = driver.find_elements(By.CSS_SELECTOR, ".card")
        check(len(cards) == 4, "the fleet page shows one card per controller")

        def card_words(name):
            card = driver.find_element(By.CSS_SELECTOR, f'.card[data-controller="{name}"]')
            return (card.find_element(By.CSS_SELECTOR, ".badge").text,
                    card.find_element(By.CSS_SELECTOR, ".error").text)
        badge, reason = card_words("hall3")
        check(badge == "Unreachable" and reason.startswith("unreachable:"),
              f"the card of a controller nobody answers for says Unreachable ({reason})")
        badge, reason = card_words("frozen")
        check(badge == "Busy or not answering" and reason.startswith("busy or not answering:"),
              f"the card of a frozen controller says Busy or not answering ({reason})")
        summary = driver.find_element(By.ID, "summary").text
        check(summary == "4 controllers: 2 live, 1 unreachable, 1 busy or not answering",
              f"the summary counts each state in the cards' words ({summary})")
        check(len(driver.find_elements(By.CSS_SELECTOR, ".card svg.bars rect")) == 2 * 46,
              "each live card draws a small histogram of 46 bins")
        screenshot("fleet-1280x800")

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
        check_dial_labels(driver, valves, "1280x800")
        check(driver.find_element(By.ID, "colour-heading").text == "Shown colour",
              "the colour shown is headed Shown colour, apart from the machine's Weft colour")
        top = driver.execute_script(
            "return [...document.querySelectorAll('#histogram-left .y-axis span')].map(s => Number(s.textContent))")
        bins = snapshot["histograms"]["left"]["bins"]
        check(len(top) == 3 and top[0] >= max(bins) > top[1] and top[2] == 0,
              f"the histogram has a count scale ({top}, tallest bin {max(bins)})")
        driver.execute_script("window.scrollTo(0, 0)")
        screenshot("machine-1280x800")

        # A valve's name without a mouse: Tab into the key, an arrow key to the next ring...
        rings = driver.execute_script(
            "return [...document.querySelectorAll('#dial .valve-arc')].map(a => a.dataset.valve)")
        apply_targets = driver.find_element(By.CSS_SELECTOR, "#targets-form button")
        driver.execute_script("arguments[0].focus()", apply_targets)
        apply_targets.send_keys(Keys.TAB)
        first = driver.switch_to.active_element
        check(first.get_attribute("data-valve") == rings[0],
              "Tab after the targets reaches the dial's key, at the outermost ring")
        first.send_keys(Keys.ARROW_DOWN)
        second = driver.switch_to.active_element
        readout = driver.find_element(By.CSS_SELECTOR, "#dial-key .dial-readout")
        check(second.get_attribute("data-valve") == rings[1]
              and readout.text.startswith(rings[1] + ":"),
              f"the arrow key moves to the next ring and the readout names it ({readout.text})")
        # ... and a finger on an arc.
        apply_targets.send_keys(Keys.NULL)
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})",
                              driver.find_element(By.ID, "dial"))
        x, y = arc_middle(driver, "sub3")
        finger = ActionBuilder(driver, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"))
        finger.pointer_action.move_to_location(x, y).pointer_down().pointer_up()
        finger.perform()
        wait.until(lambda d: d.find_element(By.CSS_SELECTOR, "#dial-key .dial-readout").text.startswith("sub3:"))
        check(driver.find_element(By.CSS_SELECTOR, '#dial-key [data-valve="sub3"]').get_attribute("aria-pressed") == "true"
              and "highlighted" in driver.find_element(By.CSS_SELECTOR, 'tr[data-valve="sub3"]').get_attribute("class"),
              "a tap on the sub3 arc names it, and marks its key entry and table row")
        screenshot("machine-valve-picked-1280x800")
        whole_page_screenshot("machine-full-1280", 1280)
        set_viewport(driver, 1280, 800)

        # Changes in the page, typed as a technician would, each ending with Enter; the outcome
        # appears beside the form and at the top of the page.
        to_field = driver.find_element(By.ID, "target-to")
        to_field.send_keys(Keys.CONTROL, "a")
        to_field.send_keys("97", Keys.ENTER)
        wait.until(lambda d: "Applied targets" in d.find_element(By.ID, "targets-result").text)
        check("Applied targets" in driver.find_element(By.ID, "write-result").text,
              "the outcome of a write shows beside its form and at the top of the page")
        main_on = driver.find_element(By.CSS_SELECTOR, 'input[name="main_on"]')
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", main_on)
        main_on.send_keys(Keys.CONTROL, "a")
        main_on.send_keys("104", Keys.ENTER)
        wait.until(lambda d: "Applied valve angles" in d.find_element(By.ID, "valves-result").text)
        arc = drawn_arcs(driver)["main"]
        check(arc["on"] == "104" and close(arc_angles(arc["d"])[0], 104),
              "the main valve's arc is redrawn from the read-back at 104°")
        screenshot("machine-after-write-1280x800")

        # The controller holds both, read through the client library.
        def client(*words):
            out = subprocess.run([args.client, "--port", str(ports["loom1"]), "--json", *words],
                                 capture_output=True, text=True, timeout=20)
            return json.loads(out.stdout)
        check(client("targets", str(shown))["values"]["to"] == 97, "the controller holds TO 97")
        check(client("valves", str(shown))["values"]["main_on"] == 104,
              "the controller holds main_on 104")

        # A new edit replaces the last outcome; the edited field is marked otherwise than the
        # focus; a value outside the range is refused in the page, with the reason beside it.
        to_field = driver.find_element(By.ID, "target-to")
        to_field.send_keys(Keys.CONTROL, "a")
        to_field.send_keys("400")
        outcome = driver.find_element(By.ID, "targets-result").text
        check("Applied" not in outcome and "not applied yet" in outcome
              and driver.find_element(By.ID, "write-result").text == "",
              f"an edit replaces the last outcome ({outcome})")
        border, outline = driver.execute_script(
            "const s = getComputedStyle(arguments[0]); return [s.borderTopStyle + ' ' + s.borderTopColor, s.outlineColor]",
            to_field)
        check(border.startswith("dashed") and not border.endswith(outline),
              f"an edited field has a dashed border unlike the focus ring ({border}; {outline})")
        to_field.send_keys(Keys.ENTER)
        wait.until(lambda d: d.find_element(By.ID, "targets-result").text.startswith("Not sent"))
        outcome = driver.find_element(By.ID, "targets-result").text
        check(outcome == "Not sent: TO target must be a whole number from 50 to 150; 400 is not.",
              f"a value outside its range is not sent, and the reason shows beside it ({outcome})")
        time.sleep(0.5)
        check(client("targets", str(shown))["values"]["to"] == 97,
              "a TO of 400 (outside 50..150) does not reach the controller")

        # The keyboard alone: the arrow keys move between the colours, and the dial follows.
        radio = driver.find_element(By.CSS_SELECTOR, "#colour-choice input:checked")
        radio.send_keys(Keys.ARROW_RIGHT)
        wait.until(lambda d: d.find_element(By.ID, "valve-heading").text == f"Valve timing, colour {shown + 1}")
        check(driver.switch_to.active_element.get_attribute("value") == str(shown + 1),
              "the arrow keys choose the next colour and the dial shows it")

        # The unreachable and the frozen controller's pages say so in the cards' words.
        driver.get(base + "/machines/hall3")
        wait.until(lambda d: d.find_element(By.ID, "banner").is_displayed())
        check("cannot read the controller" in driver.find_element(By.ID, "banner").text.lower(),
              "the page of an unreachable controller shows a banner")
        screenshot("machine-unreachable-1280x800")
        driver.get(base + "/machines/frozen")
        wait.until(lambda d: d.find_element(By.ID, "badge").text == "Busy or not answering")
        print("ok: the page of a frozen controller says Busy or not answering")

        # A gateway with a write token: the page asks for it in words, and takes it.
        driver.get(f"http://127.0.0.1:{token_port}/machines/loom2")
        wait.until(lambda d: d.find_element(By.ID, "target-to").get_attribute("value") != "")
        to_field = driver.find_element(By.ID, "target-to")
        to_field.send_keys(Keys.CONTROL, "a")
        to_field.send_keys("91", Keys.ENTER)
        wait.until(lambda d: d.find_element(By.ID, "targets-result").text.startswith("Not allowed"))
        outcome = driver.find_element(By.ID, "targets-result").text
        check("write token" in outcome and "Bearer" not in outcome and "Authorization" not in outcome,
              f"a write without the token asks for it in words ({outcome})")
        token = driver.find_element(By.ID, "token")
        token.send_keys("loom-key-7", Keys.TAB)
        to_field.send_keys(Keys.ENTER)
        wait.until(lambda d: "Applied targets" in d.find_element(By.ID, "targets-result").text)
        print("ok: with the token entered in the page the write is applied")
        screenshot("machine-token-1280x800")

        # A phone.
        set_viewport(driver, 390, 844)
        driver.get(base + "/")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".card.state-reachable")) == 2)
        screenshot("fleet-390x844")
        driver.get(base + "/machines/loom1")
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#dial .valve-arc"))
        wait.until(lambda d: d.find_element(By.ID, "target-to").get_attribute("value") != "")
        width = driver.execute_script("return document.documentElement.scrollWidth")
        check(width <= 390, f"the machine page fits a phone's width ({width} px)")
        screenshot("machine-390x844")
        valves = get_json(base + "/api/controllers/loom1")["colours"][shown - 1]["valves"]
        check_dial_labels(driver, valves, "390x844")
        screenshot("machine-dial-390x844")
        nested = driver.execute_script("""
            return [...document.querySelectorAll('main *')].filter((e) => {
              const s = getComputedStyle(e);
              return ['auto', 'scroll'].includes(s.overflowY) && e.scrollHeight > e.clientHeight + 1;
            }).map((e) => e.id || e.className);""")
        check(nested == [], f"nothing scrolls inside the page on a phone ({nested})")
        # A valve far down the table: its outcome shows in sight of the field.
        field = driver.find_element(By.CSS_SELECTOR, 'input[name="sub8_off"]')
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", field)
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys("305", Keys.ENTER)
        wait.until(lambda d: "Applied valve angles" in d.find_element(By.ID, "valves-result").text)
        outcome = driver.find_element(By.ID, "valves-result")
        check(in_view(driver, field, outcome),
              "on a phone the outcome of a valve write shows on screen beside the field")
        screenshot("machine-write-390x844")
        status_field = driver.find_element(By.ID, "status-mode")
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", status_field)
        status_field.send_keys(Keys.CONTROL, "a")
        status_field.send_keys("2", Keys.ENTER)
        wait.until(lambda d: "Applied status" in d.find_element(By.ID, "status-result").text)
        check(in_view(driver, status_field, driver.find_element(By.ID, "status-result")),
              "on a phone the outcome of a status write shows on screen beside the field")
        whole_page_screenshot("machine-full-390", 390)

        # No page broke its content security policy or threw.
        problems = console_problems(driver)
        check(problems == [], f"the pages ran without script errors or policy violations {problems}")

        # Everything above ran under the gateway's content security policy, which blocked
        # nothing the pages do.
        with urllib.request.urlopen(base + "/machines/loom1", timeout=5) as response:
            policy = response.headers.get("Content-Security-Policy", "")
        check(all(part in policy for part in
                  ("default-src 'self'", "object-src 'none'", "base-uri 'none'",
                   "frame-ancestors 'none'")),
              "the pages come with a policy that allows no plugin, no base and no framing")
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
        frozen.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
