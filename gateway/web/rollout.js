// One roll-out: its dry run (each machine's changes), start, resume and cancel, and each
// machine's progress, refreshed every 1.5 s until the roll-out has ended.
"use strict";

(() => {
  const { el } = panel;
  const $ = (id) => document.getElementById(id);
  const id = decodeURIComponent(location.pathname.split("/").pop());
  const api = `/api/rollouts/${encodeURIComponent(id)}`;
  const line = $("action-result");
  const refreshMs = 1500;
  const buttons = { start: $("start"), resume: $("resume"), cancel: $("cancel") };
  // Which action each state allows.
  const allowed = { start: ["planned"], resume: ["paused"], cancel: ["planning", "planned", "running", "paused"] };
  const hints = {
    planning: "The dry run is reading the machines; nothing is written.",
    planned: "Start writes the first machine alone, then the rest.",
    running: "Cancel stops it between machines: those not started are left untouched.",
    paused: "The first machine is done: check it, then resume for the rest, or cancel.",
  };

  let writable = true;
  let rollout = null;
  let timer = null;
  let busy = false;
  const rows = new Map();  // position -> {signature, node}
  document.title = `Weft insertion: roll-out ${id}`;
  $("title").textContent = `Roll-out ${id}`;

  // What a machine's write changed: a list of changes, or an apply's steps.
  function writtenChanges(changes) {
    if (Array.isArray(changes)) return changes;
    if (changes && Array.isArray(changes.steps)) {
      return changes.steps.flatMap((s) => (s.changes || []).map((c) => ({ section: s.section, colour: s.colour, ...c })));
    }
    return [];
  }

  function changesCell(m) {
    const written = writtenChanges(m.changes);
    if (["applied", "restored", "failed", "unknown"].includes(m.state) && (written.length || m.state === "applied")) {
      return [el("span", { class: "cell-note" }, m.state === "applied"
                ? `${m.values_written} value${m.values_written === 1 ? "" : "s"} written` : "written"),
              written.length ? mill.changeList(written) : null];
    }
    if (m.planned_values === null || m.planned_values === undefined) {
      return el("span", { class: "muted" }, rollout.state === "planning" && !m.reason ? "reading…" : "not read");
    }
    if (m.planned_values === 0) return el("span", { class: "muted" }, "holds the version already: nothing to write");
    return [el("span", { class: "cell-note" }, `dry run: ${m.planned_values} value${m.planned_values === 1 ? "" : "s"} to write`),
            mill.changeList(m.plan)];
  }

  function machineRow(m) {
    return el("tr", { "data-controller": m.controller, "data-state": m.state },
      el("td", { "data-label": "#" }, m.position === 0 ? "1 (first)" : String(m.position + 1)),
      el("th", { scope: "row", "data-label": "Machine" }, el("a", { href: `/machines/${encodeURIComponent(m.controller)}` }, m.controller)),
      el("td", { "data-label": "State" }, mill.stateBadge(m.state, mill.machineStates),
         el("span", { class: "state-meaning" }, mill.machineStates[m.state] || "")),
      el("td", { "data-label": "Changes" }, changesCell(m)),
      el("td", { "data-label": "Reason" }, m.reason || el("span", { class: "muted" }, "–")),
      el("td", { "data-label": "Write took" }, m.ended_at && m.apply_ms ? `${Math.round(m.apply_ms)} ms` : "–"));
  }

  // Rows are built again only when what they show changed, so a focused link keeps its focus.
  function renderMachines() {
    const body = $("machines").querySelector("tbody");
    const nodes = rollout.machines.map((m) => {
      const signature = JSON.stringify([m, rollout.state === "planning"]);
      const old = rows.get(m.position);
      if (old && old.signature === signature) return old.node;
      const node = machineRow(m);
      if (old) {
        const focused = old.node.contains(document.activeElement);
        old.node.replaceWith(node);
        if (focused) node.querySelector("a").focus();
      }
      rows.set(m.position, { signature, node });
      return node;
    });
    if (body.children.length !== nodes.length || nodes.some((n, i) => body.children[i] !== n)) {
      body.replaceChildren(...nodes);
    }
  }

  // The logbook from the roll-out's start to its end (or now); its entries name the roll-out.
  function logbookLink(r) {
    const query = new URLSearchParams({ from: r.started_at });
    if (r.ended_at) query.set("until", new Date(Date.parse(r.ended_at) + 1000).toISOString());
    return `/logbook?${query}`;
  }

  function detail(term, ...value) {
    return [el("dt", {}, term), el("dd", {}, ...value)];
  }

  function renderSummary() {
    const r = rollout;
    const meaning = mill.rolloutStates[r.state] || "";
    $("state-line").replaceChildren(mill.stateBadge(r.state, mill.rolloutStates), ` ${meaning}`,
                                    r.end_reason ? `: ${r.end_reason}` : "");
    const total = Object.values(r.counts).reduce((a, b) => a + b, 0);
    const done = total - (r.counts.pending || 0) - (r.counts.running || 0);
    $("progress").max = Math.max(1, total);
    $("progress").value = done;
    $("progress-text").textContent = `${done} of ${total} machine${total === 1 ? "" : "s"} done (${mill.countsText(r.counts)})`;
    const options = `${r.parallel} at a time after the first${r.pause_after_first ? "; pauses after the first" : ""}`;
    $("details").replaceChildren(
      ...detail("Version", r.label, " ",
                el("a", { href: `/compare?a=${encodeURIComponent(r.style)}/${r.version}` }, "compare…")),
      ...detail("Options", options),
      ...detail("Created", mill.timeNode(r.created_at), ` by ${r.created_by || "–"}${r.created_from ? ` from ${r.created_from}` : ""}`),
      ...detail("Started", mill.timeNode(r.started_at)),
      ...detail("Ended", mill.timeNode(r.ended_at)),
      ...detail("Reason", r.reason || el("span", { class: "muted" }, "–")),
      ...(r.started_at ? detail("Logbook", el("a", { href: logbookLink(r) }, "the changes while it ran")) : []));
    for (const [action, button] of Object.entries(buttons)) {
      button.disabled = busy || !writable || !allowed[action].includes(r.state);
    }
    $("action-hint").textContent = hints[r.state] || "";
  }

  function render() {
    renderSummary();
    renderMachines();
  }

  async function refresh() {
    clearTimeout(timer);
    const { status, body } = await panel.fetchJSON(api);
    if (status === 200) {
      panel.setBanner($("banner"), null);
      rollout = body;
      if (!Array.isArray(rollout.machines)) rollout.machines = [];
      render();
      if (mill.finalStates.includes(rollout.state)) return;
    } else if (status === 404 && !/keeps no state/.test(body?.message || "")) {
      panel.setBanner($("banner"), `There is no roll-out ${id}: ${body?.message || "not found"}.`);
      return;
    } else {
      panel.setBanner($("banner"), mill.unavailableText(status, body));
    }
    timer = setTimeout(refresh, refreshMs);
  }

  async function act(action) {
    busy = true;
    renderSummary();
    mill.say(line, "busy", { start: "Starting…", resume: "Resuming…", cancel: "Cancelling…" }[action]);
    const { status, body } = await panel.sendJSON("POST", `${api}/${action}`, null);
    busy = false;
    if (status === 200) {
      mill.say(line, "ok", { start: "Started: the first machine is being written.",
                             resume: "Resumed: the rest are being written.",
                             cancel: "Cancelled: the machines not started are left untouched." }[action]);
      rollout = body.machines ? body : { ...body, machines: rollout.machines };
    } else {
      mill.say(line, "failed", `Not ${action === "cancel" ? "cancelled" : action === "start" ? "started" : "resumed"}. ` +
                               mill.failureText(status, body));
    }
    render();
    // The pressed button may now be disabled: the keyboard goes on to what can be done next.
    if (document.activeElement === document.body || document.activeElement?.disabled) {
      const next = Object.values(buttons).find((b) => !b.disabled);
      (next || line).focus();
    }
    refresh();
  }

  for (const [action, button] of Object.entries(buttons)) button.addEventListener("click", () => act(action));

  mill.startPage().then(({ gateway }) => {
    writable = !gateway.read_only;
    refresh();
  });
})();
