// One machine: status, selection, targets and timing per colour, the valve dial and the
// histograms, refreshed from the API; every change goes through the API and the page shows the
// controller's read-back.
"use strict";

(() => {
  const { el } = panel;
  const name = decodeURIComponent(location.pathname.split("/").pop());
  const api = `/api/controllers/${encodeURIComponent(name)}`;
  const items = ["to", "tb1", "tb2", "tb3", "tb4", "tb5", "tb6", "tb7", "tb8", "tbw", "tw", "tw_tbw"];
  const statusFields = [
    { key: "color", label: "Weft colour" },
    { key: "mode", label: "Mode" },
    { key: "totw_sw", label: "TO/TW switch" },
  ];
  const targetFields = [
    { key: "to", label: "TO target" },
    { key: "tw", label: "TW target" },
  ];
  // [min, max] of every writable key per setting, from the gateway (GET /api/gateway).
  let ranges = { status: {}, selection: {}, targets: {}, valves: {} };
  const limits = (setting, key) => ranges[setting][key] || ["", ""];
  // The weft colour numbers: the range of the status item that holds one.
  function colourNumbers() {
    const [first, last] = limits("status", "color");
    const numbers = [];
    if (first !== "") for (let c = first; c <= last; ++c) numbers.push(c);
    return numbers;
  }
  let snapshot = null;
  let colour = null;  // the colour shown; follows the machine's until the user picks one
  let writable = true;
  // The valve picked out on the dial, its key and its table row: by the focus (a table row or a
  // key entry) or by a tap on its arc or key entry, which holds until the next tap.
  let focusedValve = null;
  let tappedValve = null;
  const highlighted = () => focusedValve || tappedValve;
  function focus(valve) { focusedValve = valve; renderValves(); }
  // A second tap on the same valve, or one beside the arcs, lets go of it.
  function tap(valve) { tappedValve = valve === tappedValve ? null : valve; renderValves(); }
  let key = null;  // the dial's key
  // Counts the writes answered: a refresh asked for before a write's read-back arrived holds
  // older values and is dropped.
  let writesAnswered = 0;

  const $ = (id) => document.getElementById(id);
  const valuesOf = (number) => snapshot.colours.find((c) => c.colour === number);
  document.title = `Weft insertion: ${name}`;
  $("name").textContent = name;

  // Each group of controls has its outcome line beside its button.
  const lines = {
    status: forms.outcomeLine("status-result"),
    targets: forms.outcomeLine("targets-result"),
    valves: forms.outcomeLine("valves-result"),
    selection: forms.outcomeLine("selection-result"),
    left: forms.outcomeLine("histogram-left-result"),
    right: forms.outcomeLine("histogram-right-result"),
  };

  // A refused or failed write in words a technician acts on.
  function failureText(status, body) {
    if (status === 401) {
      return panel.tokenGiven()
        ? "Not allowed: the write token entered is not this gateway's. Correct it in the " +
          "Write token field at the top of the page, then apply again."
        : "Not allowed: changes on this gateway need its write token. Enter it in the " +
          "Write token field at the top of the page, then apply again.";
    }
    // "applied": null: the write reached the controller but its end did not come back.
    const kind = body.applied === null ? "Outcome unknown"
      : { 400: "Refused", 403: "Not allowed", 409: "Not applied", 415: "Refused", 429: "Busy",
          502: "Controller unreachable", 503: "Gateway stopping",
          504: "Controller did not answer" }[status] || "Failed";
    return `${kind}: ${body.message || "error " + status}`;
  }

  // Sends a write, shows the outcome beside its control, and puts a read-back's values where
  // they belong.
  async function write(path, changes, what, apply, line) {
    if (Object.keys(changes).length === 0) {
      forms.say(line, "failed", "Nothing changed: edit a value first.");
      return;
    }
    forms.say(line, "busy", `Writing ${what}…`);
    const { status, body } = await panel.patchJSON(`${api}/${path}`, changes);
    ++writesAnswered;
    if (body.values) apply(body.values);
    if (status === 200) {
      const list = (body.changes || []).map((c) => `${c.key} ${c.from} → ${c.now}`).join(", ");
      forms.say(line, "ok", `Applied ${what}${list ? ": " + list : ""} (read back from the controller).`);
    } else {
      forms.say(line, "failed", failureText(status, body));
    }
  }

  function applyButton(text) {
    return el("button", { type: "submit", class: "write", disabled: !writable }, text);
  }

  function buildForms() {
    const statusForm = $("status-form");
    statusForm.replaceChildren(
      ...statusFields.map((f) => forms.numberField(f.key, f.label, limits("status", f.key), "status",
                                                   { writable, line: lines.status })),
      el("div", { class: "form-actions" }, applyButton("Apply status"), lines.status));
    statusForm.addEventListener("submit", (event) => {
      event.preventDefault();
      const changes = forms.changedValues(statusForm, lines.status);
      if (changes) write("status", changes, "status", (values) => { snapshot.status = values; render(); }, lines.status);
    });

    const targetsForm = $("targets-form");
    targetsForm.replaceChildren(
      ...targetFields.map((f) => forms.numberField(f.key, f.label, limits("targets", f.key), "target",
                                                   { writable, line: lines.targets })),
      el("div", { class: "form-actions" }, applyButton("Apply targets"), lines.targets));
    targetsForm.addEventListener("submit", (event) => {
      event.preventDefault();
      const changes = forms.changedValues(targetsForm, lines.targets);
      const shown = colour;
      if (changes) write(`targets/${shown}`, changes, `targets of colour ${shown}`,
                         (values) => { valuesOf(shown).targets = values; render(); }, lines.targets);
    });

    const valveForm = $("valve-form");
    valveForm.addEventListener("submit", (event) => {
      event.preventDefault();
      const changes = forms.changedValues(valveForm, lines.valves);
      const shown = colour;
      if (changes) write(`valves/${shown}`, changes, `valve angles of colour ${shown}`,
                         (values) => { valuesOf(shown).valves = values; render(); }, lines.valves);
    });
    valveForm.querySelector("button").disabled = !writable;
    valveForm.querySelector(".valve-actions").append(lines.valves);

    $("selection-section").append(lines.selection);

    const choice = $("colour-choice");
    for (const c of colourNumbers()) {
      const id = `colour-${c}`;
      const radio = el("input", { type: "radio", name: "colour", id, value: c });
      radio.addEventListener("change", () => { colour = c; resetColourFields(); render(); });
      choice.append(el("span", { class: "colour-option" }, radio, el("label", { for: id }, `Colour ${c}`)));
    }

    key = dialKey.create($("dial-key"), (valve, how) => (how === "focus" ? focus(valve) : tap(valve)));
    $("dial").addEventListener("click", (event) => tap(dial.valveAt(event)));
  }

  // Fields of another colour must not keep the values (or edits) of the one before.
  function resetColourFields() {
    for (const input of document.querySelectorAll("#targets-form input, #valve-table input")) {
      delete input.dataset.server;
      input.value = "";
      input.classList.remove("dirty");
    }
  }

  function renderStatus() {
    for (const f of statusFields) forms.setField($(`status-${f.key}`), snapshot.status[f.key]);
  }

  function renderSelection() {
    const box = $("selection");
    const entries = Object.entries(snapshot.selection);
    if (box.children.length !== entries.length) {
      box.replaceChildren(...entries.map(([device]) => {
        const button = el("button", { type: "button", role: "switch", class: "toggle write",
                                      "data-key": device, disabled: !writable });
        button.addEventListener("click", () => {
          const next = button.getAttribute("aria-checked") === "true" ? 0 : 1;
          write("selection", { [device]: next }, `selection ${device}`,
                (values) => { snapshot.selection = values; render(); }, lines.selection);
        });
        return button;
      }));
    }
    for (const [device, value] of entries) {
      const button = box.querySelector(`[data-key="${device}"]`);
      button.setAttribute("aria-checked", value ? "true" : "false");
      button.textContent = `${device}: ${value ? "on" : "off"}`;
    }
  }

  function renderColour() {
    for (const radio of document.querySelectorAll('#colour-choice input')) radio.checked = Number(radio.value) === colour;
    const values = valuesOf(colour);
    for (const f of targetFields) forms.setField($(`target-${f.key}`), values.targets[f.key]);
    $("targets-form").setAttribute("aria-label", `Arrival-timing targets of colour ${colour}`);
    const rows = Object.keys(values.averages).map((item) =>
      el("tr", {}, el("th", { scope: "row" }, item),
         el("td", {}, item in values.timing ? values.timing[item] : "–"),
         el("td", {}, values.averages[item])));
    $("timing-table").querySelector("tbody").replaceChildren(...rows);
    $("timing-table").querySelector("caption").textContent = `Simulated arrival timing of colour ${colour} (degrees)`;
  }

  function valveRow(v) {
    const cell = (edge) => {
      if (v[edge] === null) return el("td", { class: "muted" }, "–");
      const [min, max] = limits("valves", `${v.name}_${edge}`);
      const input = el("input", { type: "number", name: `${v.name}_${edge}`, min, max, step: 1,
                                  required: true, inputmode: "numeric", disabled: !writable,
                                  "aria-label": `${v.name} ${edge} angle` });
      forms.watch(input, lines.valves);
      return el("td", {}, input);
    };
    const row = el("tr", { "data-valve": v.name }, el("th", { scope: "row" }, v.name), cell("on"), cell("off"));
    row.addEventListener("focusin", () => focus(v.name));
    row.addEventListener("focusout", () => focus(null));
    return row;
  }

  function renderValves() {
    if (!snapshot || !snapshot.colours) return;
    const values = valuesOf(colour);
    $("valve-heading").textContent = `Valve timing, colour ${colour}`;
    const marks = [
      { angle: values.targets.to, label: "TO target", kind: "target", quantity: "to" },
      { angle: values.timing.to, label: "TO measured", kind: "measured", quantity: "to" },
      { angle: values.targets.tw, label: "TW target", kind: "target", quantity: "tw" },
      { angle: values.timing.tw, label: "TW measured", kind: "measured", quantity: "tw" },
    ].filter((mark) => mark.angle !== undefined);
    const rings = dial.ringsOf(values.valves, snapshot.selection);
    if (tappedValve && !rings.some((r) => r.name === tappedValve)) tappedValve = null;
    dial.draw($("dial"), rings, marks, highlighted());
    $("dial").setAttribute("aria-label", `Valve dial of colour ${colour}`);
    key.update(rings, marks, highlighted());

    const valves = dial.valvesOf(values.valves);
    const body = $("valve-table").querySelector("tbody");
    if (body.children.length !== valves.length) body.replaceChildren(...valves.map(valveRow));
    for (const v of valves) {
      const row = body.querySelector(`tr[data-valve="${CSS.escape(v.name)}"]`);
      row.classList.toggle("unused", !dial.inUse(v));
      row.classList.toggle("highlighted", v.name === highlighted());
      for (const edge of ["on", "off"]) {
        const input = row.querySelector(`input[name="${CSS.escape(`${v.name}_${edge}`)}"]`);
        if (input) forms.setField(input, v[edge]);
      }
    }
  }

  function histogramFigure(side, histogram, selection) {
    const figure = $(`histogram-${side}`);
    const title = `${side === "left" ? "Left" : "Right"} histogram: colour ${histogram.colour}, item ${histogram.item}`;
    const summary = el("dl", { class: "pairs summary" },
      Object.entries(histogram.summary).flatMap(([item, value]) => [el("dt", {}, item), el("dd", {}, value)]));
    const colourSelect = el("select", { id: `hist-${side}-colour`, disabled: !writable },
      colourNumbers().map((c) => el("option", { value: c, selected: c === selection.colour }, `colour ${c}`)));
    const itemSelect = el("select", { id: `hist-${side}-item`, disabled: !writable },
      items.map((i) => el("option", { value: i, selected: i === selection.item }, i)));
    const form = el("form", { class: "hist-select" },
      el("label", { for: colourSelect.id }, "Shows"), colourSelect,
      el("label", { for: itemSelect.id, class: "visually-hidden" }, "item"), itemSelect,
      el("button", { type: "submit", class: "write", disabled: !writable }, "Apply"));
    form.addEventListener("submit", (event) => {
      event.preventDefault();
      write("histogram-selection", { [side]: { colour: Number(colourSelect.value), item: itemSelect.value } },
            `${side} histogram selection`, (values) => { snapshot.histogram_selection = values; render(); },
            lines[side]);
    });
    const keep = figure.querySelector("form");
    const editing = keep && keep.contains(document.activeElement);
    figure.replaceChildren(
      el("figcaption", {}, title),
      histogramChart.chart(histogram.bins, title),
      summary,
      editing ? keep : form,
      lines[side]);
  }

  function renderHistograms() {
    histogramFigure("left", snapshot.histograms.left, snapshot.histogram_selection.left);
    histogramFigure("right", snapshot.histograms.right, snapshot.histogram_selection.right);
  }

  function render() {
    if (!snapshot || !snapshot.status) return;
    if (colour === null) {
      const numbers = colourNumbers();
      colour = numbers.includes(snapshot.status.color) ? snapshot.status.color
                                                      : numbers[0] ?? snapshot.colours[0].colour;
    }
    renderStatus();
    renderSelection();
    renderColour();
    renderValves();
    renderHistograms();
  }

  function renderState(c) {
    const state = panel.stateOf(c);
    $("address").textContent = c.address;
    $("badge").className = `badge ${state.key}`;
    $("badge").textContent = state.text;
    $("age").textContent = c.age_seconds === null ? "No data yet" : `Data from ${panel.describeAge(c.age_seconds)}`;
    let warning = null;
    if (state.key === "pending") {
      warning = "Waiting for the gateway's first read of this controller.";
    } else if (!c.reachable) {
      warning = `Cannot read the controller${c.last_error ? `: ${c.last_error}` : ""}. ` +
                (c.status ? `The values shown are from ${panel.describeAge(c.age_seconds)} and may be out of date.`
                          : "No values have been read from it yet.");
    } else if (c.stale) {
      warning = `The data is stale: the last good read was ${panel.describeAge(c.age_seconds)}.`;
    }
    panel.setBanner($("banner"), warning);
    document.body.classList.toggle("is-stale", Boolean(warning));
  }

  // The differences from the library version assigned to the machine, when the gateway keeps a
  // state (the API answers null without an assignment, and the section stays hidden).
  let keepsState = false;
  let driftText = "";
  async function refreshDrift() {
    if (!keepsState) return;
    const section = $("drift-section");
    const { status, body } = await panel.fetchJSON(`${api}/drift`);
    if (status !== 200 || !body) {
      section.hidden = status === 200;
      driftText = "";
      if (status !== 200) {
        $("drift-summary").className = "drift-summary";
        $("drift-summary").textContent = mill.unavailableText(status, body);
        $("drift-table").hidden = true;
      }
      return;
    }
    const text = JSON.stringify(body);
    section.hidden = false;
    if (text === driftText) return;
    driftText = text;
    const summaryLine = $("drift-summary");
    summaryLine.className = `drift-summary ${body.matches ? "matches" : "differs"}`;
    summaryLine.textContent = body.matches ? `This machine holds the settings of ${body.label}.`
                                           : `${body.summary}:`;
    $("drift-head-version").textContent = body.label;
    const sides = { first: body.label, second: "this machine" };
    $("drift-table").hidden = body.differences.length === 0;
    $("drift-table").querySelector("tbody").replaceChildren(...body.differences.map((d) => el("tr", { class: "differs" },
      el("th", { scope: "row", "data-label": "Setting" }, d.only_in ? `${mill.placeText(d)} ${d.section}` : `${mill.placeText(d)} ${d.key}`),
      el("td", { "data-label": body.label }, d.only_in ? (d.only_in === "first" ? "holds it" : "–") : mill.valueText(d.section, d.from)),
      el("td", { "data-label": "This machine", class: "value-differs" },
         d.only_in ? (d.only_in === "second" ? "holds it" : "–") : mill.valueText(d.section, d.to)),
      el("td", { "data-label": "In words" }, mill.changeText(d, sides)))));
    $("drift-compare").href = `/compare?a=${encodeURIComponent(body.style)}/${body.version}&b=@${encodeURIComponent(name)}`;
    $("drift-compare").textContent = `Compare with ${body.label}, both dials side by side`;
  }

  async function refresh() {
    const writesBefore = writesAnswered;
    try {
      const fresh = await panel.getJSON(api);
      if (writesBefore !== writesAnswered) return;
      renderState(fresh);
      if (fresh.status) {
        snapshot = fresh;
        render();
      }
      refreshDrift();
    } catch (e) {
      panel.setBanner($("banner"), "The gateway does not answer; the values shown may be out of date.");
      document.body.classList.add("is-stale");
    }
  }

  mill.revealLinks().then((available) => {
    keepsState = available;
    refreshDrift();
  });
  $("machine-logbook").href = `/logbook?controller=${encodeURIComponent(name)}`;
  panel.loadGateway().then((g) => {
    writable = !g.read_only;
    ranges = g.ranges || ranges;
    if (g.read_only) {
      const page = $("write-result");
      page.className = "write-result ok";
      page.textContent = "This gateway is read-only: values are shown, not changed.";
    }
    panel.tokenField($("token-slot"));
    buildForms();
    refresh();
    setInterval(refresh, Math.max(1, g.poll_seconds || 2) * 1000);
  });
})();
