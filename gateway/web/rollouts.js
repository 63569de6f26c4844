// The roll-outs: a new one planned (its dry run runs at once, and its page shows it), and every
// roll-out newest first, refreshed while one of them is under way.
"use strict";

(() => {
  const { el } = panel;
  const $ = (id) => document.getElementById(id);
  const line = $("create-result");
  const params = new URLSearchParams(location.search);
  let picker = null;
  let refreshing = null;

  function refuse(input, text) {
    mill.say(line, "failed", `Not planned: ${text}`);
    input.focus();
  }

  async function create(event) {
    event.preventDefault();
    const chosen = $("create-version").value;
    if (!chosen) return refuse($("create-version"), "choose the library version to roll out.");
    const machines = picker.value();
    if (machines.error) return refuse($("create-names"), `${machines.error}.`);
    const parallel = Number($("create-parallel").value);
    if (!Number.isInteger(parallel) || parallel < 1 || parallel > 8) {
      return refuse($("create-parallel"), "machines at a time needs a whole number from 1 to 8.");
    }
    const slash = chosen.lastIndexOf("/");
    const request = { style: chosen.slice(0, slash), version: Number(chosen.slice(slash + 1)), ...machines,
                      parallel, pause_after_first: $("create-pause").checked };
    if ($("create-reason").value.trim()) request.reason = $("create-reason").value.trim();
    mill.say(line, "busy", "Planning the roll-out…");
    const { status, body } = await panel.sendJSON("POST", "/api/rollouts", request);
    if (status === 201) {
      mill.say(line, "ok", `Planned roll-out ${body.id} of ${body.label}: opening its page with the dry run…`);
      location.href = `/rollouts/${body.id}`;
    } else {
      mill.say(line, "failed", `Not planned. ${mill.failureText(status, body)}`);
    }
  }

  function row(r) {
    return el("tr", { "data-rollout": r.id },
      el("th", { scope: "row", "data-label": "Roll-out" }, el("a", { href: `/rollouts/${r.id}` }, `Roll-out ${r.id}`)),
      el("td", { "data-label": "Version" }, r.label),
      el("td", { "data-label": "State" }, mill.stateBadge(r.state, mill.rolloutStates)),
      el("td", { "data-label": "Machines" }, mill.countsText(r.counts)),
      el("td", { "data-label": "Created" }, mill.timeNode(r.created_at), ` by ${r.created_by || "–"}`),
      el("td", { "data-label": "Reason" }, r.reason || el("span", { class: "muted" }, "–")));
  }

  async function loadRollouts() {
    const { status, body } = await panel.fetchJSON("/api/rollouts");
    if (status !== 200) {
      panel.setBanner($("banner"), mill.unavailableText(status, body));
      return;
    }
    panel.setBanner($("banner"), null);
    $("rollouts").querySelector("tbody").replaceChildren(...body.rollouts.map(row));
    $("rollouts").hidden = body.rollouts.length === 0;
    $("rollouts-empty").hidden = body.rollouts.length !== 0;
    // Refreshed while one of them is under way.
    const busy = body.rollouts.some((r) => !mill.finalStates.includes(r.state));
    clearTimeout(refreshing);
    if (busy) refreshing = setTimeout(loadRollouts, 2000);
  }

  $("create-form").addEventListener("submit", create);

  mill.startPage().then(async ({ gateway }) => {
    if (gateway.read_only) $("create-form").querySelector("button.write").disabled = true;
    const [library, list] = await Promise.all([panel.fetchJSON("/api/library"), panel.fetchJSON("/api/controllers")]);
    const versions = library.status === 200 ? library.body.versions.filter((v) => !v.hidden) : [];
    mill.versionOptions($("create-version"), versions, { empty: "Choose a version" });
    if (params.get("version")) $("create-version").value = params.get("version");
    picker = mill.machinePicker($("create-machines"), "create", list.status === 200 ? list.body : []);
    if (params.get("controllers")) picker.setNames(params.get("controllers").split(","));
    await loadRollouts();
  });
})();
