// Two sides compared: a library version (STYLE/VERSION) or a machine's last snapshot (@NAME).
// Both valve dials side by side for one colour at a time, drawn by dial.js and keyed by
// dial_key.js as on the machine page; the valves that differ marked on both; every difference
// in a table and in words. A side that is a machine is compared again every poll interval.
"use strict";

(() => {
  const { el } = panel;
  const $ = (id) => document.getElementById(id);
  const sides = ["a", "b"];
  const line = $("compare-result");

  let result = null;      // the last answer of /api/compare
  let resultText = "";    // its text, to redraw only when it changed
  let colour = null;      // the colour the dials show
  let picked = null;      // the valve picked out on both dials
  let tapped = null;      // ... by a tap, which holds until the next
  const keys = {};

  const params = new URLSearchParams(location.search);
  if (params.has("colour")) colour = Number(params.get("colour"));

  function sideText(value) {
    return value.startsWith("@") ? `machine ${value.slice(1)}` : value.replace("/", " v");
  }

  function fillSides(versions, controllers) {
    for (const side of sides) {
      const select = $(`side-${side}`);
      const wanted = params.get(side) || "";
      const options = [el("option", { value: "" }, "Choose…")];
      if (versions.length) {
        options.push(el("optgroup", { label: "Library versions" }, versions.map((v) =>
          el("option", { value: `${v.style}/${v.version}` },
             `${v.label}${v.note ? ` – ${v.note}` : ""}${v.hidden ? " (hidden)" : ""}`))));
      }
      if (controllers.length) {
        options.push(el("optgroup", { label: "Machines, as last read" }, controllers.map((c) =>
          el("option", { value: `@${c.name}` }, `${c.name}${c.group ? ` (${c.group})` : ""}`))));
      }
      select.replaceChildren(...options);
      // A side in the address that is in neither list is still asked for: the answer says why
      // it cannot be compared.
      if (wanted && ![...select.options].some((o) => o.value === wanted)) {
        select.append(el("option", { value: wanted }, sideText(wanted)));
      }
      select.value = wanted;
    }
  }

  function colourBlock(doc, number) {
    return doc && Array.isArray(doc.colours) ? doc.colours.find((c) => c.colour === number) : null;
  }

  function coloursOf() {
    const numbers = new Set();
    for (const side of sides) {
      for (const block of result[side].document?.colours || []) numbers.add(block.colour);
    }
    return [...numbers].sort((x, y) => x - y);
  }

  // The valves whose angles differ in a colour (a valves block in one side only: all of them).
  function differingValves(number) {
    const names = new Set();
    for (const d of result.differences) {
      if (d.section !== "valves" || d.colour !== number) continue;
      if (d.only_in) {
        for (const side of sides) {
          for (const key of Object.keys(colourBlock(result[side].document, number)?.valves || {})) {
            names.add(key.replace(/_(on|off)$/, ""));
          }
        }
      } else {
        names.add(d.key.replace(/_(on|off)$/, ""));
      }
    }
    return names;
  }

  // The targets (to, tw) that differ in a colour.
  function differingTargets(number) {
    return new Set(result.differences.filter((d) => d.section === "targets" && d.colour === number && d.key)
                                     .map((d) => d.key));
  }

  function differencesIn(number) {
    return result.differences.filter((d) => d.colour === number &&
                                            (d.section === "valves" || d.section === "targets")).length;
  }

  function renderColourChoice(numbers) {
    const choice = $("colour-choice");
    // A new answer (a machine's values changed) rebuilds the buttons: the focus stays where it was.
    const focused = choice.contains(document.activeElement) ? document.activeElement.id : null;
    choice.replaceChildren(...numbers.map((c) => {
      const id = `colour-${c}`;
      const n = differencesIn(c);
      const radio = el("input", { type: "radio", name: "colour", id, value: c, checked: c === colour });
      radio.addEventListener("change", () => {
        colour = c;
        tapped = null;
        params.set("colour", String(c));
        history.replaceState(null, "", `?${params}`);
        renderDials();
      });
      return el("span", { class: `colour-option${n ? " has-differences" : ""}` }, radio,
                el("label", { for: id }, `Colour ${c}`,
                   n ? el("span", { class: "colour-count" }, ` · ${n} differ${n === 1 ? "s" : ""}`) : ""));
    }));
    if (focused) $(focused)?.focus();
  }

  // A wide band in the drift colour under the arc of each valve that differs, and a mark on its
  // entry in the key (with words for a screen reader).
  function markDiffering(svg, keyNode, names, targets) {
    for (const arc of svg.querySelectorAll(".valve-arc")) {
      if (!names.has(arc.dataset.valve)) continue;
      const band = el("path", { d: arc.getAttribute("d"), class: "diff-band", "data-valve": arc.dataset.valve });
      arc.before(band);
    }
    for (const mark of svg.querySelectorAll(".timing-mark.target:not(.timing-head)")) {
      if (targets.has(mark.classList.contains("to") ? "to" : "tw")) mark.classList.add("differs");
    }
    for (const entry of keyNode.querySelectorAll(".key-mark")) {
      const differs = targets.has(entry.dataset.mark.split("-")[0]);
      entry.classList.toggle("differs", differs);
      if (differs) entry.setAttribute("aria-description", "differs between A and B");
    }
    for (const button of keyNode.querySelectorAll(".key-entry")) {
      const differs = names.has(button.dataset.valve);
      button.closest("li").classList.toggle("differs", differs);
      if (differs) button.setAttribute("aria-description", "differs between A and B");
      else button.removeAttribute("aria-description");
    }
  }

  function renderDials() {
    const names = differingValves(colour);
    const targets = differingTargets(colour);
    const highlighted = picked || tapped;
    for (const side of sides) {
      const doc = result[side].document;
      const block = colourBlock(doc, colour);
      const svg = $(`dial-${side}`);
      const missing = $(`missing-${side}`);
      const label = result[side].label;
      $(`caption-${side}`).textContent = `${side.toUpperCase()}: ${label}, colour ${colour}`;
      const hasValves = Boolean(block && block.valves);
      svg.hidden = !hasValves;
      $(`key-${side}`).hidden = !hasValves;
      missing.hidden = hasValves;
      if (!hasValves) {
        missing.textContent = `${label} holds no valve angles of colour ${colour}.`;
        continue;
      }
      const rings = dial.ringsOf(block.valves, doc.selection);
      const marks = [];
      if (block.targets) {
        marks.push({ angle: block.targets.to, label: "TO target", kind: "target", quantity: "to" },
                   { angle: block.targets.tw, label: "TW target", kind: "target", quantity: "tw" });
      }
      dial.draw(svg, rings, marks, highlighted);
      svg.setAttribute("aria-label", `Valve dial of ${label}, colour ${colour}` +
        (names.size ? `; differing valves: ${[...names].join(", ")}` : ""));
      keys[side].update(rings, marks, highlighted);
      markDiffering(svg, $(`key-${side}`), names, targets);
    }
  }

  function valueCell(d, side, label) {
    if (d.only_in) {
      const here = (d.only_in === "first") === (side === "a");
      return el("td", { "data-label": label, class: here ? "value-differs" : "muted" },
                here ? "holds it" : "does not hold it");
    }
    const value = side === "a" ? d.from : d.to;
    return el("td", { "data-label": label }, el("span", { class: "value-differs" }, mill.valueText(d.section, value)));
  }

  function settingText(d) {
    if (d.only_in) return `${mill.placeText(d)}${d.colour ? ` ${d.section}` : ""}`;
    return `${mill.placeText(d)} ${d.key}`;
  }

  function renderDifferences() {
    const labels = { a: `A: ${result.a.label}`, b: `B: ${result.b.label}` };
    $("head-a").textContent = labels.a;
    $("head-b").textContent = labels.b;
    const words = { first: result.a.label, second: result.b.label };
    $("differences").querySelector("tbody").replaceChildren(...result.differences.map((d) =>
      el("tr", { class: "differs", "data-section": d.section, "data-colour": d.colour ?? null, "data-key": d.key ?? null },
         el("th", { scope: "row", "data-label": "Setting" }, settingText(d)),
         valueCell(d, "a", labels.a), valueCell(d, "b", labels.b),
         el("td", { "data-label": "In words" }, mill.changeText(d, words)))));
    const n = result.differences.length;
    $("differences-heading").textContent = `Differences (${n})`;
    $("differences-section").hidden = n === 0;
  }

  function renderVerdict() {
    const verdict = $("verdict");
    verdict.hidden = false;
    const n = result.differences.length;
    if (result.equal) {
      verdict.className = "verdict equal-line";
      verdict.textContent = `Equal: ${result.a.label} and ${result.b.label} hold the same settings.`;
    } else {
      verdict.className = "verdict differ-line";
      verdict.textContent = `${n} difference${n === 1 ? "" : "s"} between ${result.a.label} (A) and ${result.b.label} (B).`;
    }
  }

  function render() {
    renderVerdict();
    renderDifferences();
    const numbers = coloursOf();
    $("dial-section").hidden = numbers.length === 0;
    if (numbers.length === 0) return;
    if (!numbers.includes(colour)) {
      colour = numbers.find((c) => differingValves(c).size > 0) ?? numbers.find((c) => differencesIn(c) > 0) ?? numbers[0];
    }
    renderColourChoice(numbers);
    renderDials();
  }

  // Asks for the comparison; quiet: a repeat for a machine's newer snapshot (no busy line, and
  // a redraw only when the answer changed).
  async function compare({ quiet = false } = {}) {
    const a = $("side-a").value;
    const b = $("side-b").value;
    if (!a || !b) {
      if (!quiet) mill.say(line, "failed", `Choose ${!a ? "the first side (A)" : "the second side (B)"} to compare.`);
      return;
    }
    if (!quiet) mill.say(line, "busy", `Comparing ${sideText(a)} with ${sideText(b)}…`);
    const { status, body } = await panel.fetchJSON(`/api/compare?a=${encodeURIComponent(a)}&b=${encodeURIComponent(b)}`);
    if (status !== 200) {
      mill.say(line, "failed", `Not compared. ${mill.failureText(status, body)}`);
      return;
    }
    const text = JSON.stringify(body);
    mill.say(line, "", "");
    if (text === resultText) return;
    resultText = text;
    result = body;
    render();
  }

  function remember() {
    params.set("a", $("side-a").value);
    params.set("b", $("side-b").value);
    history.replaceState(null, "", `?${params}`);
  }

  $("sides-form").addEventListener("submit", (event) => {
    event.preventDefault();
    remember();
    resultText = "";
    compare();
  });
  $("swap").addEventListener("click", () => {
    const a = $("side-a").value;
    $("side-a").value = $("side-b").value;
    $("side-b").value = a;
    remember();
    resultText = "";
    compare();
  });

  for (const side of sides) {
    keys[side] = dialKey.create($(`key-${side}`), (valve, how) => {
      if (how === "focus") picked = valve;
      else tapped = valve === tapped ? null : valve;
      if (result) renderDials();
    }, { hint: "Tap an arc or a name to pick out a valve on both dials." });
    $(`dial-${side}`).addEventListener("click", (event) => {
      const valve = dial.valveAt(event);
      tapped = valve === tapped ? null : valve;
      renderDials();
    });
  }

  mill.startPage().then(async ({ gateway }) => {
    const [library, list] = await Promise.all([panel.fetchJSON("/api/library?hidden=1"),
                                                panel.fetchJSON("/api/controllers")]);
    if (library.status !== 200) panel.setBanner($("banner"), mill.unavailableText(library.status, library.body));
    fillSides(library.status === 200 ? library.body.versions : [], list.status === 200 ? list.body : []);
    await compare({ quiet: !params.get("a") || !params.get("b") });
    setInterval(() => {
      const chosen = sides.map((s) => $(`side-${s}`).value);
      if (chosen.every((v) => v) && chosen.some((v) => v.startsWith("@"))) compare({ quiet: true });
    }, Math.max(1, gateway.poll_seconds || 2) * 1000);
  });
})();
