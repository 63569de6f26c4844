// The fleet page: one card per controller, refreshed from the API without reloading.
"use strict";

(() => {
  const { el } = panel;
  const list = document.getElementById("fleet");
  const banner = document.getElementById("banner");
  const summary = document.getElementById("summary");

  function statusLines(status) {
    if (!status) return el("p", { class: "muted" }, "No status read yet.");
    return el("dl", { class: "pairs" },
      el("dt", {}, "Weft colour"), el("dd", {}, status.color),
      el("dt", {}, "Mode"), el("dd", {}, status.mode),
      el("dt", {}, "TO/TW switch"), el("dd", {}, status.totw_sw));
  }

  function card(c) {
    const state = panel.stateOf(c);
    const histogram = c.histogram
      ? el("figure", { class: "small-histogram" },
          panel.barChart(c.histogram.bins,
                         { label: `Left histogram, colour ${c.histogram.colour}, ${c.histogram.item}` }),
          el("figcaption", {}, `Left histogram: colour ${c.histogram.colour}, ${c.histogram.item}`))
      : null;
    return el("li", { class: `card state-${state.key}`, "data-controller": c.name },
      el("a", { href: `/machines/${encodeURIComponent(c.name)}`, class: "card-link" },
        el("h2", {}, c.name),
        el("p", { class: "address" }, c.address),
        el("p", { class: "state" },
          el("span", { class: `badge ${state.key}` }, state.text), " ",
          el("span", { class: "age" }, c.age_seconds === null ? "No data yet"
                                                              : `Data from ${panel.describeAge(c.age_seconds)}`)),
        c.last_error ? el("p", { class: "error" }, c.last_error) : null,
        statusLines(c.status),
        histogram));
  }

  async function refresh() {
    try {
      const controllers = await panel.getJSON("/api/controllers");
      summary.textContent = panel.summarize(controllers);
      // Cards are rebuilt on every refresh: keep the keyboard focus on the same card.
      const focused = document.activeElement?.closest?.("[data-controller]")?.dataset.controller;
      list.replaceChildren(...controllers.map(card));
      if (focused) list.querySelector(`[data-controller="${CSS.escape(focused)}"] a`)?.focus();
      if (controllers.length === 0) {
        list.append(el("li", { class: "muted" },
          "No controllers configured: start the gateway with --controller NAME=HOST:PORT."));
      }
      panel.setBanner(banner, null);
    } catch (e) {
      panel.setBanner(banner, "The gateway does not answer; the cards show the last data received.");
    }
  }

  panel.loadGateway().then((g) => {
    refresh();
    setInterval(refresh, Math.max(1, g.poll_seconds || 2) * 1000);
  });
})();
