// The logbook: filters (machine, section, key, who, origin, from, until) kept in the page's
// address, a page of entries at a time continued with the API's cursor, and the downloads with
// the same filters.
"use strict";

(() => {
  const { el } = panel;
  const $ = (id) => document.getElementById(id);
  const line = $("filter-result");
  const pageSize = 100;
  const filterNames = ["controller", "section", "key", "who", "origin", "from", "until", "order"];
  const form = $("filters");

  // The cursors of the pages before this one (the first page's is null), and the next one's.
  let cursors = [null];
  let next = null;
  let currentPage = 0;

  function two(n) { return String(n).padStart(2, "0"); }
  // A UTC text or milliseconds as the value of a datetime-local field (local time).
  function localInput(value) {
    const d = /^\d+$/.test(value) ? new Date(Number(value)) : new Date(value);
    if (Number.isNaN(d.getTime())) return "";
    return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())}T` +
           `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
  }

  // The filters as the API's query (times in UTC); {error} when a field cannot be read.
  function filters() {
    const query = new URLSearchParams();
    for (const name of filterNames) {
      const input = form.elements[name];
      const value = input.value.trim();
      if (!value || (name === "order" && value === "newest")) continue;
      if (input.type === "datetime-local") {
        const d = new Date(value);
        if (Number.isNaN(d.getTime())) return { error: `${input.labels[0].textContent} is not a time`, input };
        query.set(name, d.toISOString());
      } else {
        query.set(name, value);
      }
    }
    if (query.has("from") && query.has("until") && query.get("from") >= query.get("until")) {
      return { error: "Until must be later than From", input: form.elements.until };
    }
    return { query };
  }

  function fillFromAddress() {
    const params = new URLSearchParams(location.search);
    for (const name of filterNames) {
      const input = form.elements[name];
      const value = params.get(name) || "";
      if (input.type === "datetime-local") input.value = value ? localInput(value) : "";
      else if (input.tagName === "SELECT") {
        if (value && ![...input.options].some((o) => o.value === value)) input.append(el("option", { value }, value));
        input.value = value || input.options[0].value;
      } else input.value = value;
    }
  }

  function settingText(e) {
    if (e.section === "targets" || e.section === "valves") return `colour ${e.colour} ${e.key}`;
    if (e.section === "histogram_selection") return `histogram ${e.key}`;
    return `${e.section} ${e.key}`;
  }

  function whenCell(e) {
    // An outside change happened between the poll before (since) and the poll that saw it (at).
    if (e.since) return [mill.timeNode(e.at), el("span", { class: "cell-note" }, "after the poll of ", mill.timeNode(e.since))];
    return mill.timeNode(e.at);
  }

  function entryRow(e) {
    const outside = e.origin === "outside";
    return el("tr", { "data-entry": e.id, "data-origin": e.origin },
      el("td", { "data-label": "When" }, whenCell(e)),
      el("th", { scope: "row", "data-label": "Machine" }, e.controller
        ? el("a", { href: `/machines/${encodeURIComponent(e.controller)}` }, e.controller) : el("span", { class: "muted" }, "library")),
      el("td", { "data-label": "Setting" }, settingText(e)),
      el("td", { "data-label": "Old → new" }, el("span", { class: "value-from" }, mill.valueText(e.section, e.old_value)),
         " → ", el("span", { class: "value-to" }, mill.valueText(e.section, e.new_value))),
      el("td", { "data-label": "Origin" }, outside ? "at the machine or by another client" : "through the gateway"),
      el("td", { "data-label": "Who", title: e.address ? `from ${e.address}` : null }, e.who || (outside ? "–" : "")),
      el("td", { "data-label": "Reason" }, e.reason || el("span", { class: "muted" }, "–")),
      el("td", { "data-label": "Roll-out" }, e.rollout ? el("a", { href: `/rollouts/${e.rollout}` }, `Roll-out ${e.rollout}`) : "–"));
  }

  function setDownloads(query) {
    const text = query.toString();
    $("download-csv").href = `/api/logbook.csv${text ? `?${text}` : ""}`;
    $("download-jsonl").href = `/api/logbook.jsonl${text ? `?${text}` : ""}`;
  }

  async function load(page) {
    const { query, error, input } = filters();
    if (error) {
      mill.say(line, "failed", `Not shown: ${error}.`);
      input.focus();
      return false;
    }
    setDownloads(query);
    const request = new URLSearchParams(query);
    request.set("limit", String(pageSize));
    if (cursors[page]) request.set("after", cursors[page]);
    const { status, body } = await panel.fetchJSON(`/api/logbook?${request}`);
    if (status !== 200) {
      if (status === 400) mill.say(line, "failed", `Not shown. ${mill.failureText(status, body)}`);
      else panel.setBanner($("banner"), mill.unavailableText(status, body));
      return false;
    }
    panel.setBanner($("banner"), null);
    mill.say(line, "", "");
    cursors = cursors.slice(0, page + 1);
    next = body.next;
    $("entries").querySelector("tbody").replaceChildren(...body.entries.map(entryRow));
    $("entries").hidden = body.entries.length === 0;
    $("entries-empty").hidden = body.entries.length !== 0;
    const first = page * pageSize + 1;
    $("page-line").textContent = body.entries.length
      ? `Entries ${first}–${first + body.entries.length - 1}${next ? "" : " (the last)"}, ` +
        `${query.get("order") === "oldest" ? "oldest" : "newest"} first`
      : "";
    $("first-page").disabled = page === 0;
    $("previous-page").disabled = page === 0;
    $("next-page").disabled = !next;
    currentPage = page;
    return true;
  }

  // Pages on; a paging button just pressed may then be disabled: the keyboard stays on the
  // pager (or on the line saying which entries are shown).
  async function turnTo(page) {
    await load(page);
    if (document.activeElement?.disabled || document.activeElement === document.body) {
      (next ? $("next-page") : $("first-page").disabled ? $("page-line") : $("first-page")).focus();
    }
  }

  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    const { query } = filters();
    if (query) history.replaceState(null, "", query.toString() ? `?${query}` : location.pathname);
    cursors = [null];
    if (await load(0)) mill.say(line, "ok", `Shown: ${$("page-line").textContent || "no entry matches"}.`);
  });
  $("clear").addEventListener("click", () => {
    form.reset();
    for (const select of form.querySelectorAll("select")) select.value = select.options[0].value;
    history.replaceState(null, "", location.pathname);
    cursors = [null];
    load(0);
  });
  $("first-page").addEventListener("click", () => turnTo(0));
  $("previous-page").addEventListener("click", () => turnTo(Math.max(0, currentPage - 1)));
  $("next-page").addEventListener("click", () => {
    if (!next) return;
    cursors[currentPage + 1] = next;
    turnTo(currentPage + 1);
  });

  mill.startPage().then(async () => {
    const list = await panel.fetchJSON("/api/controllers");
    const names = list.status === 200 ? list.body.map((c) => c.name) : [];
    form.elements.controller.replaceChildren(el("option", { value: "" }, "All machines"),
                                             ...names.map((n) => el("option", { value: n }, n)));
    fillFromAddress();
    load(0);
  });
})();
