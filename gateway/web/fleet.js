// The fleet page: every controller as a card or as a row of a compact table, found by name,
// ordered (failing and drifting first unless chosen otherwise), in the configuration's groups,
// each of which folds. Refreshed from the API every poll interval without reloading; an
// element is built again only when what it shows has changed, and the page is laid out again
// only when the order or the groups have.
"use strict";

(() => {
  const { el } = panel;
  const $ = (id) => document.getElementById(id);
  const fleetNode = $("fleet");
  const banner = $("banner");
  const summary = $("summary");
  const shown = $("shown");
  const search = $("search");
  const sortSelect = $("sort");
  const reverseButton = $("reverse");
  const foldAll = $("fold-all");
  const viewInputs = [...document.querySelectorAll('input[name="view"]')];

  // More controllers than this show as the table unless the cards were chosen.
  const manyControllers = 24;
  const stored = { view: "ifc-gateway-fleet-view", folded: "ifc-gateway-folded-groups" };
  const noGroup = "";  // the folding key of the controllers without a group

  function load(key, fallback) {
    try {
      const text = localStorage.getItem(key);
      return text === null ? fallback : JSON.parse(text);
    } catch (e) {
      return fallback;
    }
  }
  function save(key, value) {
    try { localStorage.setItem(key, JSON.stringify(value)); } catch (e) { /* kept for this page only */ }
  }

  // What the page shows, from the address (so that a link or a reload keeps it), else from
  // what this browser chose last.
  const params = new URLSearchParams(location.search);
  const settings = {
    view: ["cards", "table"].includes(params.get("view")) ? params.get("view") : load(stored.view, null),
    sort: Object.hasOwn(fleetOrder.sorts, params.get("sort") || "") ? params.get("sort") : "attention",
    reverse: params.get("reverse") === "1",
    query: params.get("q") || "",
  };
  const folded = new Set(load(stored.folded, []));
  let controllers = null;
  let lastLayout = null;
  let firstRender = true;

  for (const [name, sort] of Object.entries(fleetOrder.sorts)) {
    sortSelect.append(el("option", { value: name }, sort.label));
  }
  search.value = settings.query;

  function currentView() {
    if (settings.view === "cards" || settings.view === "table") return settings.view;
    return controllers && controllers.length > manyControllers ? "table" : "cards";
  }

  function rememberInAddress() {
    const next = new URLSearchParams();
    if (settings.view) next.set("view", settings.view);
    if (settings.sort !== "attention") next.set("sort", settings.sort);
    if (settings.reverse) next.set("reverse", "1");
    if (settings.query) next.set("q", settings.query);
    const text = next.toString();
    history.replaceState(null, "", text ? `?${text}` : location.pathname);
  }

  // Built elements by view and name, each with what it was built from.
  const built = new Map();
  function elementOf(view, item, headingLevel) {
    const c = item.controller;
    // What the element shows besides the age, which is updated in place.
    const shows = view === "table"
      ? [c.address, c.reachable, c.stale, c.last_error, c.drift]
      : [c.address, c.reachable, c.stale, c.last_error, c.drift, c.status, c.histogram, headingLevel];
    const signature = JSON.stringify(shows);
    const key = `${view}:${c.name}`;
    const old = built.get(key);
    if (old && old.signature === signature) return { entry: old, replaced: null };
    const node = view === "table" ? fleetViews.row(c, item.state) : fleetViews.card(c, item.state, headingLevel);
    const entry = { signature, node, age: node.querySelector(".age") };
    built.set(key, entry);
    return { entry, replaced: old ? old.node : null };
  }

  // What has the keyboard focus, to give it back after the page is laid out again.
  function focusedPlace() {
    const active = document.activeElement;
    if (!active || !fleetNode.contains(active)) return null;
    const row = active.closest("[data-controller]");
    if (row) return `[data-controller="${CSS.escape(row.dataset.controller)}"] a`;
    if (active.matches(".fold")) return `.fold[data-group="${CSS.escape(active.dataset.group)}"]`;
    if (active.matches("button.sort")) return `.head-row:not(.head-copy) button[data-sort="${active.dataset.sort}"]`;
    return null;
  }

  // How the table flows: its columns side by side (the style sheet's --columns for this width)
  // and the lines of one screen. A group is read down each column, a screenful at a time, so
  // that the first screen holds the first machines of the order, and no column runs far below
  // the screen before the next begins. Read once per size of the window: reading a computed
  // style makes the browser bring every style up to date first.
  let flowOfSize = null;
  function tableFlow() {
    if (!flowOfSize) {
      const columns = Math.max(1, parseInt(getComputedStyle(fleetNode).getPropertyValue("--columns"), 10) || 1);
      const rem = parseFloat(getComputedStyle(document.documentElement).fontSize) || 15;
      const line = 1.75 * rem + 1;
      const lines = Math.max(6, Math.floor((innerHeight - 11 * rem) / line));
      flowOfSize = { columns, lines };
    }
    return flowOfSize;
  }

  // Changes the page only where it differs: a write, even of the same value, makes the browser
  // style and lay out again what it touched.
  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }
  function setStyle(node, property, value) {
    if (node.style[property] !== value) node.style[property] = value;
  }

  // Puts each row of a group at its line and column of the flow.
  function placeRows(nodes, flow) {
    const block = flow.columns * flow.lines;
    nodes.forEach((node, i) => {
      const first = Math.floor(i / block) * block;
      const inBlock = Math.min(block, nodes.length - first);
      const lines = Math.ceil(inBlock / flow.columns);
      const j = i - first;
      setStyle(node, "gridRow", String((first / flow.columns) + (j % lines) + 1));
      setStyle(node, "gridColumn", String(Math.floor(j / lines) + 1));
    });
  }

  function groupBody(view, id, nodes, isFolded, headingLevel) {
    if (view === "table") {
      return el("tbody", { class: "group-rows", id, role: "rowgroup", hidden: isFolded }, isFolded ? [] : nodes);
    }
    return el("ul", { class: "cards", id, hidden: isFolded, "aria-label": headingLevel === 2 ? "Controllers" : null },
              isFolded ? [] : nodes);
  }

  function layOut(view, sections, grouped) {
    const parts = [];
    sections.forEach((section, index) => {
      const id = `group-${index}`;
      const body = groupBody(view, id, section.nodes, section.folded, grouped ? 3 : 2);
      if (!grouped) {
        parts.push(body);
        return;
      }
      const heading = el("h2", { class: "group-heading" },
                         fleetViews.groupHeading(section.name, section.all, section.matching, section.folded, id));
      if (view === "table") {
        parts.push(el("tbody", { class: "group-head", role: "rowgroup" },
          el("tr", { role: "row" },
            el("th", { scope: "rowgroup", role: "rowheader", colspan: fleetViews.columns.length }, heading))));
        parts.push(body);
      } else {
        parts.push(el("section", { class: "fleet-group" }, heading, body));
      }
    });
    if (view === "table") {
      return [el("table", { class: "fleet-table", role: "table", "aria-label": "Controllers" },
                 fleetViews.tableHead(settings.sort, settings.reverse), parts)];
    }
    return parts;
  }

  function describeShown(count, inFolded) {
    if (!settings.query) return "";
    const total = controllers.length;
    const folds = inFolded ? `; ${inFolded} of them in folded groups` : "";
    if (count === 0) return `No controller's name or address holds “${settings.query}”; Escape clears the search.`;
    return `${count} of ${total} controllers match “${settings.query}”${folds}.`;
  }

  function render() {
    if (!controllers) return;
    const view = currentView();
    const pollSeconds = panel.gateway().poll_seconds || 2;
    const words = fleetOrder.queryWords(settings.query);
    const items = controllers.map((c) => ({ controller: c, state: panel.stateOf(c) }));
    const groups = fleetOrder.groups(items);
    const grouped = groups.some((g) => g.name !== null);
    const headingLevel = grouped ? 3 : 2;
    const flow = view === "table" ? tableFlow() : null;

    const sections = [];
    const replacements = [];
    let count = 0, inFolded = 0;
    for (const group of groups) {
      const matching = group.members.filter((i) => fleetOrder.matches(i.controller, words));
      if (words.length && matching.length === 0) continue;
      const isFolded = grouped && folded.has(group.name ?? noGroup);
      const ordered = fleetOrder.order(matching, settings.sort, settings.reverse, pollSeconds);
      count += ordered.length;
      if (isFolded) inFolded += ordered.length;
      const nodes = [];
      for (const item of isFolded ? [] : ordered) {
        const { entry, replaced } = elementOf(view, item, headingLevel);
        nodes.push(entry.node);
        if (replaced) replacements.push([replaced, entry.node]);
        setText(entry.age, fleetViews.ageText(item.controller, view));
      }
      if (flow) placeRows(nodes, flow);
      sections.push({ name: group.name, all: group.members, folded: isFolded, nodes,
                      matching: words.length ? matching.length : null,
                      names: ordered.map((i) => i.controller.name) });
    }

    // The layout: the view, the order, the groups, their folding and their headings' words.
    const layout = JSON.stringify([view, flow, settings.sort, settings.reverse, grouped,
      sections.map((s) => [s.name, s.folded, s.matching, s.names, s.all.map((i) => [i.state.key, fleetOrder.differences(i.controller)])])]);
    const focus = focusedPlace();
    if (count === 0) {
      lastLayout = null;
      fleetNode.className = "fleet";
      // Without controllers, how to give them; after a search that nothing matches, nothing
      // (the line above says so).
      fleetNode.replaceChildren(controllers.length === 0
        ? el("p", { class: "muted" }, "No controllers configured: start the gateway with --controller NAME=HOST:PORT.")
        : "");
    } else if (layout === lastLayout) {
      for (const [old, node] of replacements) old.replaceWith(node);
    } else {
      lastLayout = layout;
      fleetNode.className = `fleet view-${view}`;
      fleetNode.replaceChildren(...layOut(view, sections, grouped));
    }
    if (focus && !fleetNode.contains(document.activeElement)) fleetNode.querySelector(focus)?.focus();
    setText(shown, describeShown(count, inFolded));
    shown.hidden = !shown.textContent;
    updateControls(view, grouped, groups);
    if (firstRender) {
      firstRender = false;
      performance.mark("fleet-first-render");
    }
  }

  function updateControls(view, grouped, groups) {
    for (const input of viewInputs) input.checked = input.value === view;
    sortSelect.value = settings.sort;
    reverseButton.setAttribute("aria-pressed", settings.reverse ? "true" : "false");
    foldAll.hidden = !grouped;
    const allFolded = groups.every((g) => folded.has(g.name ?? noGroup));
    setText(foldAll, allFolded ? "Unfold all groups" : "Fold all groups");
  }

  function changed() {
    rememberInAddress();
    render();
  }

  function setFolded(group, fold) {
    if (fold) folded.add(group); else folded.delete(group);
    save(stored.folded, [...folded]);
  }

  // The machine the search names: its exact name, or the only match.
  function namedBySearch() {
    const words = fleetOrder.queryWords(settings.query);
    if (!controllers || words.length === 0) return null;
    const exact = controllers.find((c) => c.name.toLowerCase() === settings.query.trim().toLowerCase());
    if (exact) return exact;
    const matching = controllers.filter((c) => fleetOrder.matches(c, words));
    return matching.length === 1 ? matching[0] : null;
  }

  search.addEventListener("input", () => {
    settings.query = search.value;
    changed();
  });
  search.addEventListener("keydown", (event) => {
    if (event.key === "Escape" && search.value) {
      event.preventDefault();
      search.value = "";
      settings.query = "";
      changed();
    } else if (event.key === "Enter") {
      const machine = namedBySearch();
      if (machine) location.href = `/machines/${encodeURIComponent(machine.name)}`;
    }
  });
  sortSelect.addEventListener("change", () => {
    settings.sort = sortSelect.value;
    changed();
  });
  reverseButton.addEventListener("click", () => {
    settings.reverse = !settings.reverse;
    changed();
  });
  for (const input of viewInputs) {
    input.addEventListener("change", () => {
      settings.view = input.value;
      save(stored.view, settings.view);
      changed();
    });
  }
  foldAll.addEventListener("click", () => {
    const names = [...new Set((controllers || []).map((c) => c.group ?? noGroup))];
    const fold = !names.every((n) => folded.has(n));
    for (const name of names) setFolded(name, fold);
    render();
  });
  // The table's column heads sort; the sorted column's head again turns the order round.
  fleetNode.addEventListener("click", (event) => {
    const sortButton = event.target.closest("button.sort");
    if (sortButton) {
      if (settings.sort === sortButton.dataset.sort) settings.reverse = !settings.reverse;
      else [settings.sort, settings.reverse] = [sortButton.dataset.sort, false];
      changed();
      return;
    }
    const fold = event.target.closest("button.fold");
    if (fold) {
      const group = fold.dataset.group;
      setFolded(group, !folded.has(group));
      render();
    }
  });
  // "/" anywhere but in a field goes to the search.
  document.addEventListener("keydown", (event) => {
    if (event.key !== "/" || event.ctrlKey || event.metaKey || event.altKey) return;
    if (event.target.closest("input, select, textarea")) return;
    event.preventDefault();
    search.focus();
    search.select();
  });

  function summaryText(list) {
    const drifting = list.filter((c) => fleetOrder.differences(c) > 0).length;
    return panel.summarize(list) + (drifting ? `; ${drifting} drifting` : "");
  }

  // A new width or height may change the table's flow.
  let resizing = null;
  addEventListener("resize", () => {
    clearTimeout(resizing);
    resizing = setTimeout(() => {
      flowOfSize = null;
      render();
    }, 150);
  });

  let refreshing = false;
  async function refresh() {
    if (refreshing) return;
    refreshing = true;
    try {
      controllers = await panel.getJSON("/api/controllers");
      setText(summary, summaryText(controllers));
      render();
      panel.setBanner(banner, null);
    } catch (e) {
      panel.setBanner(banner, "The gateway does not answer; the page shows the last data received.");
    } finally {
      refreshing = false;
    }
  }

  mill.revealLinks();
  panel.loadGateway().then((g) => {
    refresh();
    setInterval(refresh, Math.max(1, g.poll_seconds || 2) * 1000);
  });
})();
