// The settings library: its versions newest first (the hidden ones on request), saving a
// machine's settings, importing a settings document, exporting and hiding a version, and
// assigning a version to machines.
"use strict";

(() => {
  const { el } = panel;
  const $ = (id) => document.getElementById(id);
  const stylePattern = /^[A-Za-z0-9._-]{1,64}$/;
  const maxDocumentBytes = 1024 * 1024;

  let writable = true;
  let versions = [];
  let controllers = [];
  let picker = null;
  const lines = { versions: $("versions-result"), save: $("save-result"), import: $("import-result"),
                  assign: $("assign-result") };

  function versionApi(v) { return `/api/library/${mill.versionPath(v)}`; }

  function sourceNode(v) {
    if (!v.source) return el("span", { class: "muted" }, "imported");
    if (controllers.some((c) => c.name === v.source)) {
      return el("a", { href: `/machines/${encodeURIComponent(v.source)}` }, v.source);
    }
    return v.source;
  }

  // The actions of a row; a press on Hide turns them into its confirmation.
  function actions(v) {
    const cell = el("div", { class: "row-actions" },
      el("a", { href: `${versionApi(v)}/document`, download: `${v.style}-v${v.version}.json`,
                "aria-label": `Export ${v.label}` }, "Export"),
      el("a", { href: `/compare?a=${mill.versionPath(v)}`, "aria-label": `Compare ${v.label}` }, "Compare"),
      v.hidden ? null : el("a", { href: `/rollouts?version=${mill.versionPath(v)}`, "aria-label": `Roll out ${v.label}` },
                           "Roll out"),
      v.hidden ? null : el("button", { type: "button", class: "hide-button", disabled: !writable,
                                       "aria-label": `Hide ${v.label}`, onclick: () => confirmHide(v, cell) }, "Hide"));
    return cell;
  }

  function confirmHide(v, cell) {
    const reasonId = `hide-reason-${v.style}-${v.version}`;
    const reason = el("input", { type: "text", id: reasonId, maxlength: 500, autocomplete: "off" });
    const keep = el("button", { type: "button" }, "Keep it");
    const hide = el("button", { type: "button", class: "danger" }, `Hide ${v.label}`);
    const question = el("div", { class: "confirm", role: "group", "aria-label": `Hide ${v.label}?` },
      el("p", {}, `Hide ${v.label}? It is no longer listed, assigned or rolled out; it can still be shown, ` +
                  "exported and compared, and the logbook records it."),
      el("label", { for: reasonId }, "Reason (for the logbook)"), reason,
      el("div", { class: "confirm-buttons" }, hide, keep));
    const back = () => {
      question.replaceWith(cell);
      cell.querySelector(".hide-button")?.focus();
    };
    keep.addEventListener("click", back);
    question.addEventListener("keydown", (event) => {
      if (event.key === "Escape") { event.preventDefault(); back(); }
    });
    hide.addEventListener("click", async () => {
      hide.disabled = keep.disabled = true;
      mill.say(lines.versions, "busy", `Hiding ${v.label}…`);
      const body = reason.value.trim() ? { reason: reason.value.trim() } : null;
      const { status, body: answer } = await panel.sendJSON("DELETE", versionApi(v), body);
      if (status === 200) {
        mill.say(lines.versions, "ok", `Hidden: ${v.label}. Show hidden versions lists it again.`);
        await loadVersions();
        $("show-hidden").focus();
      } else {
        mill.say(lines.versions, "failed", `${v.label} not hidden. ${mill.failureText(status, answer)}`);
        back();
      }
    });
    cell.replaceWith(question);
    keep.focus();
  }

  function versionRow(v) {
    const note = [v.note || el("span", { class: "muted" }, "no note")];
    if (v.hidden) {
      note.push(el("span", { class: "hidden-mark" },
        `hidden ${v.hidden_at ? mill.localText(v.hidden_at) : ""}${v.hidden_by ? ` by ${v.hidden_by}` : ""}`));
    }
    return el("tr", { class: v.hidden ? "hidden-version" : null, "data-version": v.label },
      el("th", { scope: "row", "data-label": "Style" }, v.style),
      el("td", { "data-label": "Version" }, `v${v.version}`),
      el("td", { "data-label": "Note", class: "note-cell" }, note),
      el("td", { "data-label": "Saved" }, mill.timeNode(v.saved_at)),
      el("td", { "data-label": "By", title: v.saved_from ? `from ${v.saved_from}` : null }, v.saved_by || "–"),
      el("td", { "data-label": "Source" }, sourceNode(v)),
      el("td", { "data-label": "Actions" }, actions(v)));
  }

  async function loadVersions() {
    const hidden = $("show-hidden").checked;
    const { status, body } = await panel.fetchJSON(`/api/library${hidden ? "?hidden=1" : ""}`);
    if (status !== 200) {
      panel.setBanner($("banner"), mill.unavailableText(status, body));
      return;
    }
    panel.setBanner($("banner"), null);
    versions = body.versions;
    $("versions").querySelector("tbody").replaceChildren(...versions.map(versionRow));
    $("versions").hidden = versions.length === 0;
    $("versions-empty").hidden = versions.length !== 0;
    const shownHidden = versions.filter((v) => v.hidden).length;
    $("versions-count").textContent = `${versions.length} version${versions.length === 1 ? "" : "s"}` +
      (hidden ? `, ${shownHidden} of them hidden` : "");
    const styles = [...new Set(versions.map((v) => v.style))];
    $("style-names").replaceChildren(...styles.map((s) => el("option", { value: s })));
    const assignVersion = $("assign-version");
    const kept = assignVersion.value;
    mill.versionOptions(assignVersion, versions.filter((v) => !v.hidden), { empty: "Choose a version" });
    assignVersion.append(el("option", { value: "none" }, "No version: remove the assignment"));
    if (kept === "none") assignVersion.value = kept;
  }

  async function loadAssignments() {
    const { status, body } = await panel.fetchJSON("/api/assignments");
    const list = $("assignments");
    if (status !== 200) {
      list.replaceChildren(el("li", { class: "muted" }, mill.unavailableText(status, body)));
      return;
    }
    const byVersion = new Map();
    for (const a of body.assignments) {
      if (!byVersion.has(a.label)) byVersion.set(a.label, []);
      byVersion.get(a.label).push(a);
    }
    if (byVersion.size === 0) {
      list.replaceChildren(el("li", { class: "muted" }, "No machine has a version assigned."));
      return;
    }
    list.replaceChildren(...[...byVersion].map(([label, machines]) => el("li", {},
      el("strong", {}, label), machines[0].hidden ? " (a hidden version)" : "",
      ` – ${machines.length} machine${machines.length === 1 ? "" : "s"}: `,
      machines.flatMap((a, i) => [i ? ", " : "", el("a", { href: `/machines/${encodeURIComponent(a.controller)}` },
                                                     a.controller)]))));
  }

  function fillControllers() {
    const select = $("save-controller");
    const groups = new Map();
    for (const c of controllers) {
      const key = c.group || "";
      if (!groups.has(key)) groups.set(key, []);
      groups.get(key).push(c);
    }
    const option = (c) => el("option", { value: c.name }, c.reachable ? c.name : `${c.name} (not reachable now)`);
    select.replaceChildren(el("option", { value: "" }, "Choose a machine"),
      ...[...groups].flatMap(([group, list]) => (groups.size > 1 || group
        ? [el("optgroup", { label: group || "No group" }, list.map(option))] : list.map(option))));
    picker = mill.machinePicker($("assign-machines"), "assign", controllers);
  }

  async function save(event) {
    event.preventDefault();
    const controller = $("save-controller").value;
    const style = $("save-style").value.trim();
    if (!controller) return refuse(lines.save, $("save-controller"), "Not saved: choose the machine to read.");
    if (!stylePattern.test(style)) {
      return refuse(lines.save, $("save-style"),
                    "Not saved: the style needs a name of 1 to 64 letters, digits, -, _ or . (for example denim-12).");
    }
    const note = $("save-note").value.trim();
    mill.say(lines.save, "busy", `Reading ${controller} and saving it as ${style}…`);
    const { status, body } = await panel.sendJSON("POST", "/api/library", { controller, style, note });
    if (status === 201) {
      mill.say(lines.save, "ok", `Saved ${controller}'s settings as ${body.label}.`);
      $("save-note").value = "";
      await loadVersions();
    } else {
      mill.say(lines.save, "failed", mill.failureText(status, body));
    }
  }

  function refuse(line, input, text) {
    mill.say(line, "failed", text);
    input.focus();
  }

  async function importFile(event) {
    event.preventDefault();
    const file = $("import-file").files[0];
    if (!file) return refuse(lines.import, $("import-file"), "Not imported: choose a settings document file.");
    if (file.size > maxDocumentBytes) {
      return refuse(lines.import, $("import-file"), `Not imported: ${file.name} is larger than a settings document may be (1 MiB).`);
    }
    const style = $("import-style").value.trim();
    if (style && !stylePattern.test(style)) {
      return refuse(lines.import, $("import-style"),
                    "Not imported: the style needs a name of 1 to 64 letters, digits, -, _ or ., or nothing.");
    }
    let settings;
    try {
      settings = JSON.parse(await file.text());
    } catch (e) {
      return refuse(lines.import, $("import-file"), `Not imported: ${file.name} is not JSON (${e.message}).`);
    }
    const request = { document: settings };
    if (style) request.style = style;
    if ($("import-note").value.trim()) request.note = $("import-note").value.trim();
    mill.say(lines.import, "busy", `Importing ${file.name}…`);
    const { status, body } = await panel.sendJSON("POST", "/api/library/import", request);
    if (status === 201) {
      mill.say(lines.import, "ok", `Imported ${file.name} as ${body.label}.`);
      await loadVersions();
    } else {
      mill.say(lines.import, "failed", `${file.name} not imported. ${mill.failureText(status, body)}`);
    }
  }

  async function assign(event) {
    event.preventDefault();
    const machines = picker.value();
    if (machines.error) return refuse(lines.assign, $("assign-names"), `Not assigned: ${machines.error}.`);
    const picked = $("assign-version").value;
    if (!picked) return refuse(lines.assign, $("assign-version"), "Not assigned: choose a version, or none to remove the assignment.");
    const chosen = picked === "none" ? "" : picked;
    const slash = chosen.lastIndexOf("/");
    const request = { ...machines,
                      style: chosen ? chosen.slice(0, slash) : null,
                      version: chosen ? Number(chosen.slice(slash + 1)) : null };
    if ($("assign-reason").value.trim()) request.reason = $("assign-reason").value.trim();
    const what = machines.group ? `group ${machines.group}` : machines.controllers.join(", ");
    mill.say(lines.assign, "busy", chosen ? `Assigning to ${what}…` : `Removing the assignment of ${what}…`);
    const { status, body } = await panel.sendJSON("POST", "/api/assignments", request);
    if (status === 200) {
      const n = body.assignments.length;
      const count = `${n} machine${n === 1 ? "" : "s"}`;
      mill.say(lines.assign, "ok", chosen
        ? `Assigned ${chosen.slice(0, slash)} v${chosen.slice(slash + 1)} to ${count} (${what}).`
        : `Removed the assignment of ${what}.`);
      await loadAssignments();
    } else {
      mill.say(lines.assign, "failed", mill.failureText(status, body));
    }
  }

  $("show-hidden").addEventListener("change", () => { mill.say(lines.versions, "", ""); loadVersions(); });
  $("save-form").addEventListener("submit", save);
  $("import-form").addEventListener("submit", importFile);
  $("assign-form").addEventListener("submit", assign);

  mill.startPage().then(async ({ gateway }) => {
    writable = !gateway.read_only;
    for (const button of document.querySelectorAll("form button.write")) button.disabled = !writable;
    const list = await panel.fetchJSON("/api/controllers");
    controllers = list.status === 200 ? list.body : [];
    fillControllers();
    await loadVersions();
    await loadAssignments();
  });
})();
