// Shared by the mill's pages (library, compare, roll-outs, logbook) and the links to them from
// the fleet and machine pages: whether the gateway keeps a state, times, changes of settings in
// an operator's words, the words of refused writes, and the picker of machines.
"use strict";

const mill = (() => {
  const { el } = panel;

  // The mill's links (the element with the id mill-links) on the fleet and machine pages: shown
  // only when the gateway keeps a state, i.e. when GET /api/state answers 200. Resolves to
  // whether it does.
  async function revealLinks() {
    const answer = await panel.fetchJSON("/api/state");
    const links = document.getElementById("mill-links");
    if (links) links.hidden = answer.status !== 200;
    return answer.status === 200;
  }

  // Why the mill's data cannot be shown, from an answer of its API that is not 2xx.
  function unavailableText(status, body) {
    const message = (body && body.message) || "";
    if (status === 0) return "The gateway does not answer; what is shown may be out of date.";
    if (status === 404 && /keeps no state/.test(message)) {
      return `This gateway keeps no library, roll-outs or logbook: ${message}.`;
    }
    if (status === 503) return `The gateway's state is unavailable: ${message || "no reason given"}.`;
    return `The gateway answered ${status}: ${message || "no reason given"}.`;
  }

  // Starts a mill page: the gateway's settings, the token field and the state's health (the
  // banner says why it is unavailable). Resolves to {gateway, available}.
  async function startPage() {
    const gateway = await panel.loadGateway();
    // Pages that write have a place for the token in their header; the others need none.
    const slot = document.getElementById("token-slot");
    if (slot) panel.tokenField(slot);
    const answer = await panel.fetchJSON("/api/state");
    const banner = document.getElementById("banner");
    let available = answer.status === 200;
    if (!available) {
      panel.setBanner(banner, unavailableText(answer.status, answer.body));
    } else if (answer.body.available === false) {
      available = false;
      panel.setBanner(banner, `The gateway's state is unavailable: ${answer.body.reason || "no reason given"}.`);
    }
    if (gateway.read_only) {
      const note = document.getElementById("read-only-note");
      if (note) {
        note.hidden = false;
        note.textContent = "This gateway is read-only: everything is shown, nothing can be changed.";
      }
    }
    return { gateway, available };
  }

  // "2026-12-10 09:15:02" in the browser's time zone, inside a <time> that holds the UTC text
  // (and shows it when the pointer rests on it).
  function two(n) { return String(n).padStart(2, "0"); }
  function localText(utc) {
    const d = new Date(utc);
    if (Number.isNaN(d.getTime())) return String(utc);
    return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ` +
           `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
  }
  function timeNode(utc) {
    if (!utc) return el("span", { class: "muted" }, "–");
    return el("time", { datetime: utc, title: `${utc} (UTC)` }, localText(utc));
  }

  // Where a change is, in the words of the settings documents' comparisons: "colour 2",
  // "status", "selection", "histogram".
  function placeText(change) {
    if (change.section === "targets" || change.section === "valves") return `colour ${change.colour}`;
    if (change.section === "histogram_selection") return "histogram";
    return change.section;
  }

  function valueText(section, value) {
    if (value === null || value === undefined) return "–";
    if (section === "selection" && (value === 0 || value === 1 || value === "0" || value === "1")) {
      return Number(value) === 1 ? "on" : "off";
    }
    return String(value);
  }

  // One change in an operator's words: "colour 2 main_on 90 → 100", "selection sub3 off → on";
  // a section in one side only: "colour 4 valves only in denim-12 v3". sides names the first
  // and the second side of a comparison.
  function changeText(change, sides = { first: "the first", second: "the second" }) {
    if (change.only_in) {
      const where = change.section === "targets" || change.section === "valves"
        ? `colour ${change.colour} ${change.section}` : placeText(change);
      return `${where} only in ${sides[change.only_in] || change.only_in}`;
    }
    return `${placeText(change)} ${change.key} ${valueText(change.section, change.from)} → ` +
           `${valueText(change.section, change.to)}`;
  }

  // A list of changes, one per line; "no change" for an empty one.
  function changeList(changes, sides) {
    if (!changes || changes.length === 0) return el("span", { class: "muted" }, "no change");
    return el("ul", { class: "change-list" }, changes.map((c) => el("li", {}, changeText(c, sides))));
  }

  // A refused or failed write in words to act on.
  function failureText(status, body) {
    if (status === 0) return "Not sent: the gateway does not answer.";
    if (status === 401) {
      return panel.tokenGiven()
        ? "Not allowed: the write token entered is not this gateway's. Correct it in the Write " +
          "token field at the top of the page, then try again."
        : "Not allowed: changes on this gateway need its write token. Enter it in the Write " +
          "token field at the top of the page, then try again.";
    }
    const kind = { 400: "Refused", 403: "Not allowed", 404: "Not found", 409: "Not possible now",
                   413: "Too large", 415: "Refused", 429: "Busy", 503: "Unavailable" }[status] || "Failed";
    return `${kind}: ${(body && body.message) || `error ${status}`}`;
  }

  // The line for the outcomes of one form or control; a live region of its own.
  function outcomeLine(id) {
    return el("p", { id, class: "form-result", role: "status", "aria-live": "polite" });
  }
  // kind: "ok", "failed", "busy" (under way) or "" (nothing to say).
  function say(line, kind, text) {
    line.className = `form-result ${kind}`;
    line.textContent = text;
  }

  // The states of a roll-out and of its machines, with what each means (docs/gateway-state.md).
  const rolloutStates = {
    planning: "the dry run reads every machine",
    planned: "the dry run is done: waiting to be started",
    running: "writing the machines",
    paused: "the first machine is done: waiting to be resumed",
    completed: "every machine applied",
    stopped: "a machine was not applied: the rest were left untouched",
    cancelled: "cancelled: the machines not started were left untouched",
    interrupted: "the gateway stopped in the middle",
  };
  const finalStates = ["completed", "stopped", "cancelled", "interrupted"];
  const machineStates = {
    pending: "not written yet",
    running: "being written now",
    applied: "every value written and read back",
    restored: "a line failed; every value changed was written back and read back",
    failed: "not written, or left partly changed",
    unknown: "could not be read after a failure: it may hold some new values",
    skipped: "left untouched",
  };
  // "12 machines: 10 applied, 2 pending", from a roll-out's counts per machine state.
  function countsText(counts) {
    const entries = Object.entries(counts || {});
    const total = entries.reduce((sum, [, n]) => sum + n, 0);
    const parts = entries.filter(([, n]) => n > 0).map(([state, n]) => `${n} ${state}`);
    return `${total} machine${total === 1 ? "" : "s"}${parts.length ? `: ${parts.join(", ")}` : ""}`;
  }
  function stateBadge(word, meanings) {
    return el("span", { class: `run-state state-${word}`, title: meanings[word] || "" }, word);
  }

  // "denim-12/3" for a version as the API's paths and compare sides name it.
  function versionPath(v) { return `${encodeURIComponent(v.style)}/${v.version}`; }

  // The options of a version <select>: the versions given, newest first, grouped by style.
  function versionOptions(select, versions, { empty = null } = {}) {
    const styles = new Map();
    for (const v of versions) {
      if (!styles.has(v.style)) styles.set(v.style, []);
      styles.get(v.style).push(v);
    }
    const kept = select.value;
    select.replaceChildren(
      ...(empty ? [el("option", { value: "" }, empty)] : []),
      ...[...styles].map(([style, list]) => el("optgroup", { label: style },
        list.map((v) => el("option", { value: `${v.style}/${v.version}` },
                           `${v.label}${v.note ? ` – ${v.note}` : ""}${v.hidden ? " (hidden)" : ""}`)))));
    if ([...select.options].some((o) => o.value === kept)) select.value = kept;
  }

  // The machines a write is for: a group of the configuration, or names typed in. Builds its
  // fields into container; value() gives {group} or {controllers}, or {error}.
  function machinePicker(container, idPrefix, controllers) {
    const groups = [...new Set(controllers.map((c) => c.group).filter((g) => g))];
    const names = new Set(controllers.map((c) => c.name));
    const byGroup = el("input", { type: "radio", name: `${idPrefix}-by`, id: `${idPrefix}-by-group`, value: "group" });
    const byName = el("input", { type: "radio", name: `${idPrefix}-by`, id: `${idPrefix}-by-name`, value: "names" });
    const groupSelect = el("select", { id: `${idPrefix}-group`, "aria-label": "Group" },
      groups.map((g) => {
        const count = controllers.filter((c) => c.group === g).length;
        return el("option", { value: g }, `${g} (${count} machine${count === 1 ? "" : "s"})`);
      }));
    const listId = `${idPrefix}-names-list`;
    const namesInput = el("input", { type: "text", id: `${idPrefix}-names`, autocomplete: "off", spellcheck: "false",
                                     list: listId, "aria-label": "Machine names",
                                     "aria-describedby": `${idPrefix}-names-hint`, placeholder: "loom1, loom2" });
    const datalist = el("datalist", { id: listId }, controllers.map((c) => el("option", { value: c.name })));
    const choose = (how) => {
      byGroup.checked = how === "group";
      byName.checked = how === "names";
      groupSelect.disabled = how !== "group";
    };
    byGroup.addEventListener("change", () => choose("group"));
    byName.addEventListener("change", () => choose("names"));
    groupSelect.addEventListener("focus", () => choose("group"));
    namesInput.addEventListener("focus", () => choose("names"));
    choose(groups.length ? "group" : "names");
    container.replaceChildren(el("fieldset", { class: "machine-picker" },
      el("legend", {}, "Machines"),
      groups.length ? el("div", { class: "pick-row" }, byGroup, el("label", { for: byGroup.id }, "A group"), groupSelect) : null,
      el("div", { class: "pick-row" }, groups.length ? byName : null,
         el("label", { for: groups.length ? byName.id : namesInput.id }, "By name"), namesInput, datalist),
      el("p", { class: "hint", id: `${idPrefix}-names-hint` }, "Names separated by commas or blanks.")));
    return {
      value() {
        if (byGroup.checked) return { group: groupSelect.value };
        const list = namesInput.value.split(/[\s,;]+/).filter((n) => n);
        if (list.length === 0) return { error: "name at least one machine, or choose a group" };
        const unknown = list.filter((n) => !names.has(n));
        if (unknown.length) return { error: `no machine named ${unknown.join(", ")}` };
        return { controllers: [...new Set(list)] };
      },
      setNames(list) { choose("names"); namesInput.value = list.join(", "); },
    };
  }

  return { revealLinks, unavailableText, startPage, localText, timeNode, placeText, valueText, changeText,
           changeList, failureText, outcomeLine, say, rolloutStates, finalStates, machineStates, countsText, stateBadge,
           versionPath, versionOptions, machinePicker };
})();
