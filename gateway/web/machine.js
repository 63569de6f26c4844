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
  let selectedValve = null;  // the valve whose row has the focus, highlighted on the dial
  // Counts the writes answered: a refresh asked for before a write's read-back arrived holds
  // older values and is dropped.
  let writesAnswered = 0;

  const $ = (id) => document.getElementById(id);
  const valuesOf = (number) => snapshot.colours.find((c) => c.colour === number);
  document.title = `Weft insertion: ${name}`;
  $("name").textContent = name;

  function report(ok, text) {
    const node = $("write-result");
    node.className = `write-result ${ok ? "ok" : "failed"}`;
    node.textContent = text;
  }

  // A number field that keeps what the user typed until it is applied: the refresh updates
  // only fields that are neither focused nor changed.
  function numberField(key, label, [min, max], idPrefix) {
    const id = `${idPrefix}-${key}`;
    const input = el("input", { type: "number", id, name: key, min, max, step: 1, required: true,
                                inputmode: "numeric", disabled: !writable });
    input.addEventListener("input", () => input.classList.toggle("dirty", input.value !== input.dataset.server));
    return el("div", { class: "field" }, el("label", { for: id }, label), input,
              el("span", { class: "range" }, `${min}–${max}`));
  }

  function setField(input, value) {
    const fresh = input.dataset.server === undefined;
    const untouched = input.value === input.dataset.server || fresh;
    input.dataset.server = String(value);
    if (untouched && document.activeElement !== input) input.value = String(value);
    input.classList.toggle("dirty", input.value !== input.dataset.server);
  }

  function changedValues(form) {
    const changes = {};
    for (const input of form.querySelectorAll("input.dirty")) {
      if (!input.checkValidity()) {
        input.reportValidity();
        return null;
      }
      changes[input.name] = Number(input.value);
    }
    return changes;
  }

  // Sends a write, reports the outcome, and on a read-back puts its values where they belong.
  async function write(path, changes, what, apply) {
    if (Object.keys(changes).length === 0) {
      report(false, "Nothing changed: edit a value first.");
      return;
    }
    report(true, `Writing ${what}…`);
    const { status, body } = await panel.patchJSON(`${api}/${path}`, changes);
    ++writesAnswered;
    if (body.values) apply(body.values);
    if (status === 200) {
      const list = (body.changes || []).map((c) => `${c.key} ${c.from} → ${c.now}`).join(", ");
      report(true, `Applied ${what}${list ? ": " + list : ""} (read back from the controller).`);
    } else {
      // "applied": null: the write reached the controller but its end did not come back.
      const kind = body.applied === null ? "Outcome unknown"
        : { 400: "Refused", 401: "Not allowed", 403: "Not allowed", 409: "Not applied", 415: "Refused",
            429: "Busy", 502: "Controller unreachable", 503: "Gateway stopping",
            504: "Controller did not answer" }[status] || "Failed";
      report(false, `${kind}: ${body.message || "error " + status}`);
    }
  }

  function buildForms() {
    const statusForm = $("status-form");
    statusForm.replaceChildren(...statusFields.map((f) => numberField(f.key, f.label, limits("status", f.key), "status")),
      el("p", { class: "form-actions" }, el("button", { type: "submit", class: "write", disabled: !writable }, "Apply status")));
    statusForm.addEventListener("submit", (event) => {
      event.preventDefault();
      const changes = changedValues(statusForm);
      if (changes) write("status", changes, "status", (values) => { snapshot.status = values; render(); });
    });

    const targetsForm = $("targets-form");
    targetsForm.replaceChildren(...targetFields.map((f) => numberField(f.key, f.label, limits("targets", f.key), "target")),
      el("p", { class: "form-actions" }, el("button", { type: "submit", class: "write", disabled: !writable }, "Apply targets")));
    targetsForm.addEventListener("submit", (event) => {
      event.preventDefault();
      const changes = changedValues(targetsForm);
      const shown = colour;
      if (changes) write(`targets/${shown}`, changes, `targets of colour ${shown}`,
                         (values) => { valuesOf(shown).targets = values; render(); });
    });

    $("valve-form").addEventListener("submit", (event) => {
      event.preventDefault();
      const changes = changedValues($("valve-form"));
      const shown = colour;
      if (changes) write(`valves/${shown}`, changes, `valve angles of colour ${shown}`,
                         (values) => { valuesOf(shown).valves = values; render(); });
    });
    $("valve-form").querySelector("button").disabled = !writable;

    const choice = $("colour-choice");
    for (const c of colourNumbers()) {
      const id = `colour-${c}`;
      const radio = el("input", { type: "radio", name: "colour", id, value: c });
      radio.addEventListener("change", () => { colour = c; resetColourFields(); render(); });
      choice.append(el("span", { class: "colour-option" }, radio, el("label", { for: id }, `Colour ${c}`)));
    }
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
    for (const f of statusFields) setField($(`status-${f.key}`), snapshot.status[f.key]);
  }

  function renderSelection() {
    const box = $("selection");
    const entries = Object.entries(snapshot.selection);
    if (box.children.length !== entries.length) {
      box.replaceChildren(...entries.map(([key]) => {
        const button = el("button", { type: "button", role: "switch", class: "toggle write",
                                      "data-key": key, disabled: !writable });
        button.addEventListener("click", () => {
          const next = button.getAttribute("aria-checked") === "true" ? 0 : 1;
          write("selection", { [key]: next }, `selection ${key}`, (values) => { snapshot.selection = values; render(); });
        });
        return button;
      }));
    }
    for (const [key, value] of entries) {
      const button = box.querySelector(`[data-key="${key}"]`);
      button.setAttribute("aria-checked", value ? "true" : "false");
      button.textContent = `${key}: ${value ? "on" : "off"}`;
    }
  }

  function renderColour() {
    for (const radio of document.querySelectorAll('#colour-choice input')) radio.checked = Number(radio.value) === colour;
    const values = valuesOf(colour);
    for (const f of targetFields) setField($(`target-${f.key}`), values.targets[f.key]);
    $("targets-form").setAttribute("aria-label", `Arrival-timing targets of colour ${colour}`);
    const rows = Object.keys(values.averages).map((key) =>
      el("tr", {}, el("th", { scope: "row" }, key),
         el("td", {}, key in values.timing ? values.timing[key] : "–"),
         el("td", {}, values.averages[key])));
    $("timing-table").querySelector("tbody").replaceChildren(...rows);
    $("timing-table").querySelector("caption").textContent = `Simulated arrival timing of colour ${colour} (degrees)`;
  }

  function renderValves() {
    const values = valuesOf(colour);
    $("valve-heading").textContent = `Valve timing, colour ${colour}`;
    const marks = [
      { angle: values.targets.to, label: "TO target", kind: "target" },
      { angle: values.targets.tw, label: "TW target", kind: "target" },
      { angle: values.timing.to, label: "TO measured", kind: "measured" },
      { angle: values.timing.tw, label: "TW measured", kind: "measured" },
    ];
    const valves = dial.draw($("dial"), values.valves, marks, selectedValve);
    $("dial").setAttribute("aria-label", `Valve dial of colour ${colour}`);
    const body = $("valve-table").querySelector("tbody");
    if (body.children.length !== valves.length) {
      body.replaceChildren(...valves.map((v) => {
        const cell = (edge) => {
          if (v[edge] === null) return el("td", { class: "muted" }, "–");
          const [min, max] = limits("valves", `${v.name}_${edge}`);
          const input = el("input", { type: "number", name: `${v.name}_${edge}`, min, max, step: 1,
                                      required: true, inputmode: "numeric", disabled: !writable,
                                      "aria-label": `${v.name} ${edge} angle` });
          input.addEventListener("input", () => input.classList.toggle("dirty", input.value !== input.dataset.server));
          return el("td", {}, input);
        };
        const row = el("tr", { "data-valve": v.name }, el("th", { scope: "row" }, v.name), cell("on"), cell("off"));
        row.addEventListener("focusin", () => { selectedValve = v.name; renderValves(); });
        row.addEventListener("focusout", () => { selectedValve = null; renderValves(); });
        if (!dial.inUse(v)) row.classList.add("unused");
        return row;
      }));
    }
    for (const v of valves) {
      body.querySelector(`tr[data-valve="${v.name}"]`)?.classList.toggle("unused", !dial.inUse(v));
    }
    for (const v of valves) {
      for (const edge of ["on", "off"]) {
        const input = body.querySelector(`input[name="${v.name}_${edge}"]`);
        if (input) setField(input, v[edge]);
      }
    }
  }

  function histogramFigure(side, histogram, selection) {
    const figure = $(`histogram-${side}`);
    const title = `${side === "left" ? "Left" : "Right"} histogram: colour ${histogram.colour}, item ${histogram.item}`;
    const summary = el("dl", { class: "pairs summary" },
      Object.entries(histogram.summary).flatMap(([key, value]) => [el("dt", {}, key), el("dd", {}, value)]));
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
            `${side} histogram selection`, (values) => { snapshot.histogram_selection = values; render(); });
    });
    const keep = figure.querySelector("form");
    const editing = keep && keep.contains(document.activeElement);
    figure.replaceChildren(
      el("figcaption", {}, title),
      panel.barChart(histogram.bins, { width: 460, height: 140, label: title }),
      el("div", { class: "axis" }, el("span", {}, "bin 0"), el("span", {}, `bin ${histogram.bins.length - 1}`)),
      summary,
      editing ? keep : form);
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
    if (!c.reachable) {
      warning = `Cannot read the controller${c.last_error ? `: ${c.last_error}` : ""}. ` +
                (c.status ? `The values shown are from ${panel.describeAge(c.age_seconds)} and may be out of date.`
                          : "No values have been read from it yet.");
    } else if (c.stale) {
      warning = `The data is stale: the last good read was ${panel.describeAge(c.age_seconds)}.`;
    }
    panel.setBanner($("banner"), warning);
    document.body.classList.toggle("is-stale", Boolean(warning));
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
    } catch (e) {
      panel.setBanner($("banner"), "The gateway does not answer; the values shown may be out of date.");
      document.body.classList.add("is-stale");
    }
  }

  panel.loadGateway().then((g) => {
    writable = !g.read_only;
    ranges = g.ranges || ranges;
    if (g.read_only) report(true, "This gateway is read-only: values are shown, not changed.");
    panel.tokenField($("token-slot"));
    buildForms();
    refresh();
    setInterval(refresh, Math.max(1, g.poll_seconds || 2) * 1000);
  });
})();
