// The fleet page's elements: a controller as a card and as a table row, the table's head and a
// group's heading. Each is built from one entry of the API's list; fleet.js places them.
"use strict";

const fleetViews = (() => {
  const { el } = panel;

  // The columns of the table, each with the order its heading sorts by.
  const columns = [
    { sort: "name", text: "Name" },
    { sort: "state", text: "State" },
    { sort: "drift", text: "Drift" },
    { sort: "age", text: "Age", title: "Age of the data" },
  ];
  // The table flows into up to this many columns side by side (the style sheet picks how many
  // fit); each shows the head again, for the eye only.
  const maxTableColumns = 4;

  function shortAge(seconds) {
    if (seconds === null || seconds === undefined) return "never";
    if (seconds < 1) return "now";
    if (seconds < 90) return `${Math.round(seconds)} s`;
    if (seconds < 5400) return `${Math.round(seconds / 60)} min`;
    return `${(seconds / 3600).toFixed(1)} h`;
  }

  function longAge(seconds) {
    return seconds === null || seconds === undefined ? "No data yet" : `Data from ${panel.describeAge(seconds)}`;
  }

  // The text the age element shows, for updating it on every refresh without a rebuild.
  function ageText(c, view) {
    return view === "table" ? shortAge(c.age_seconds) : longAge(c.age_seconds);
  }

  function statusLines(status) {
    if (!status) return el("p", { class: "muted" }, "No status read yet.");
    return el("dl", { class: "pairs" },
      el("dt", {}, "Weft colour"), el("dd", {}, status.color),
      el("dt", {}, "Mode"), el("dd", {}, status.mode),
      el("dt", {}, "TO/TW switch"), el("dd", {}, status.totw_sw));
  }

  function machineHref(c) {
    return `/machines/${encodeURIComponent(c.name)}`;
  }

  // headingLevel: 2 on a page without groups, 3 under a group's heading.
  function card(c, state, headingLevel) {
    const drift = panel.describeDrift(c.drift);
    const histogram = c.histogram
      ? el("figure", { class: "small-histogram" },
          panel.barChart(c.histogram.bins,
                         { label: `Left histogram, colour ${c.histogram.colour}, ${c.histogram.item}` }),
          el("figcaption", {}, `Left histogram: colour ${c.histogram.colour}, ${c.histogram.item}`))
      : null;
    return el("li", { class: `card state-${state.key}`, "data-controller": c.name },
      el("a", { href: machineHref(c), class: "card-link" },
        el(`h${headingLevel}`, { class: "card-name" }, c.name),
        el("p", { class: "address" }, c.address),
        el("p", { class: "state" },
          el("span", { class: `badge ${state.key}` }, state.text), " ",
          el("span", { class: "age" }, ageText(c, "cards"))),
        c.last_error ? el("p", { class: "error" }, c.last_error) : null,
        drift ? el("p", { class: `drift ${drift.key}` }, drift.text) : null,
        statusLines(c.status),
        histogram));
  }

  // The state's words; in the table the first word only for the eye ("Busy"), the whole
  // phrase for a screen reader.
  function stateBadge(state) {
    const [first, ...rest] = state.text.split(" ");
    return el("span", { class: `badge ${state.key}` }, first,
              rest.length ? el("span", { class: "visually-hidden" }, " " + rest.join(" ")) : null);
  }

  // In the table: the word in its colour, then the version ("4 differ from denim-12 v3", the
  // "from" for a screen reader only), so that the word stays in sight when the version is cut.
  function driftCell(drift) {
    if (!drift) {
      return el("td", { role: "cell", class: "drift-cell none", title: "No library version assigned" },
                el("span", { "aria-hidden": "true" }, "—"),
                el("span", { class: "visually-hidden" }, "no version assigned"));
    }
    return el("td", { role: "cell", class: `drift-cell ${drift.key}`, title: drift.text },
              el("span", { class: "drift-word" }, drift.short),
              el("span", { class: "visually-hidden" }, drift.key === "differs" ? " from" : ""), " ",
              el("span", { class: "drift-version" }, drift.version));
  }

  function row(c, state) {
    return el("tr", { class: `state-${state.key}`, "data-controller": c.name, role: "row" },
      el("th", { scope: "row", role: "rowheader", class: "name-cell" },
        el("a", { href: machineHref(c), title: c.address }, c.name)),
      el("td", { role: "cell", class: "state-cell", title: c.last_error || state.text }, stateBadge(state)),
      driftCell(panel.describeDrift(c.drift)),
      el("td", { role: "cell", class: "age" }, ageText(c, "table")));
  }

  // The head, once for assistive technology and sorting by keyboard, then again for each
  // further column of the flow.
  function tableHead(sortName, reverse) {
    const heads = [];
    for (let copy = 0; copy < maxTableColumns; ++copy) {
      const extra = copy > 0;
      heads.push(el("tr", { class: `head-row${extra ? " head-copy" : ""}`, role: "row", "aria-hidden": extra ? "true" : null },
        columns.map((column) => {
          const sorted = column.sort === sortName;
          return el("th", { scope: "col", role: "columnheader",
                            "aria-sort": sorted && !extra ? (reverse ? "descending" : "ascending") : null },
            el("button", { type: "button", class: `sort${sorted ? " sorted" : ""}`, "data-sort": column.sort,
                           tabindex: extra ? "-1" : null, title: column.title },
               column.text,
               el("span", { class: "sort-mark", "aria-hidden": "true" }, sorted ? (reverse ? " ▲" : " ▼") : "")));
        })));
    }
    return el("thead", { role: "rowgroup" }, heads);
  }

  // "hall2 · 40 controllers: 38 live, 2 unreachable · 3 drifting", in a button that folds it.
  // matching: how many a search shows (null without a search).
  function groupHeading(name, items, matching, folded, bodyId) {
    const controllers = items.map((i) => i.controller);
    const drifting = controllers.filter((c) => fleetOrder.differences(c) > 0).length;
    const trouble = items.some((i) => fleetOrder.troubled.has(i.state.key)) || drifting > 0;
    const counts = panel.summarize(controllers) +
      (matching === null ? "" : ` (${matching} of them match${matching === 1 ? "es" : ""})`) +
      (drifting ? `; ${drifting} drifting` : "");
    return el("button", { type: "button", class: `fold${trouble ? " trouble" : ""}`, "aria-expanded": folded ? "false" : "true",
                          "aria-controls": bodyId, "data-group": name ?? "" },
      el("span", { class: "fold-mark", "aria-hidden": "true" }, folded ? "▸" : "▾"),
      el("span", { class: "group-name" }, name ?? "No group"),
      el("span", { class: "group-counts" }, counts));
  }

  return { card, row, tableHead, groupHeading, ageText, maxTableColumns, columns };
})();
