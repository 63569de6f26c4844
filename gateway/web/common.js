// Shared by every page of the panel: building elements, talking to the API, the banner.
"use strict";

const panel = (() => {
  // Builds an element; children may be strings (always inserted as text, never as markup).
  function el(tag, attributes = {}, ...children) {
    const svg = ["svg", "path", "circle", "line", "text", "g", "rect", "title"].includes(tag);
    const node = svg ? document.createElementNS("http://www.w3.org/2000/svg", tag)
                     : document.createElement(tag);
    for (const [name, value] of Object.entries(attributes)) {
      if (value === null || value === undefined || value === false) continue;
      if (name.startsWith("on")) node.addEventListener(name.slice(2), value);
      else node.setAttribute(name, value === true ? "" : String(value));
    }
    for (const child of children.flat()) {
      if (child === null || child === undefined) continue;
      node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
  }

  const tokenKey = "ifc-gateway-token";
  let gateway = { read_only: false, token_required: false, poll_seconds: 2 };

  async function loadGateway() {
    try {
      gateway = await getJSON("/api/gateway");
    } catch (e) { /* the banner tells when the gateway does not answer */ }
    return gateway;
  }

  async function getJSON(path) {
    const response = await fetch(path, { cache: "no-store" });
    const body = await response.json();
    if (!response.ok) throw new Error(body.message || response.statusText);
    return body;
  }

  // A read that resolves to {status, body} whatever the outcome (status 0: no answer), for a
  // page that says why something is not there.
  async function fetchJSON(path) {
    try {
      const response = await fetch(path, { cache: "no-store" });
      let body = null;
      try { body = await response.json(); } catch (e) { body = { message: response.statusText }; }
      return { status: response.status, body };
    } catch (e) {
      return { status: 0, body: { message: "the gateway does not answer" } };
    }
  }

  // A write (PATCH, POST, DELETE); resolves to {status, body} whatever the outcome, so the
  // caller can show it. object null: a request without a body.
  async function sendJSON(method, path, object) {
    const headers = {};
    const token = sessionStorage.getItem(tokenKey);
    if (token) headers.Authorization = "Bearer " + token;
    const request = { method, headers, cache: "no-store" };
    if (object !== null && object !== undefined) {
      headers["Content-Type"] = "application/json";
      request.body = JSON.stringify(object);
    }
    try {
      const response = await fetch(path, request);
      let body = {};
      try { body = await response.json(); } catch (e) { body = { message: response.statusText }; }
      return { status: response.status, body };
    } catch (e) {
      return { status: 0, body: { message: "the gateway does not answer" } };
    }
  }

  function patchJSON(path, object) { return sendJSON("PATCH", path, object); }

  function describeAge(seconds) {
    if (seconds === null || seconds === undefined) return "never";
    if (seconds < 1) return "just now";
    if (seconds < 90) return `${Math.round(seconds)} s ago`;
    if (seconds < 5400) return `${Math.round(seconds / 60)} min ago`;
    return `${(seconds / 3600).toFixed(1)} h ago`;
  }

  // The state of a controller in one or a few words, the same on a card, a machine page and in
  // the fleet's summary. A failed poll's reason (last_error) starts with the gateway's word for
  // what went wrong, "unreachable: ...", "busy or not answering: ..." or "failing: ...": the
  // badge says that word, so badge and reason never disagree.
  const failureStates = [
    { key: "unreachable", text: "Unreachable", reason: "unreachable:" },
    { key: "busy", text: "Busy or not answering", reason: "busy or not answering:" },
    { key: "failing", text: "Failing", reason: "failing:" },
  ];
  const allStates = [
    { key: "reachable", text: "Live" },
    { key: "stale", text: "Stale" },
    ...failureStates,
    { key: "pending", text: "Not read yet" },
  ];

  function stateOf(controller) {
    const named = (key) => allStates.find((s) => s.key === key);
    if (controller.reachable) return named(controller.stale ? "stale" : "reachable");
    if (!controller.last_error) return named("pending");
    const error = controller.last_error.toLowerCase();
    return failureStates.find((s) => error.startsWith(s.reason)) || named("failing");
  }

  // "3 controllers: 2 live, 1 busy or not answering": the count of each state present.
  function summarize(controllers) {
    const counts = allStates.map((s) => [s, controllers.filter((c) => stateOf(c).key === s.key).length])
                            .filter(([, count]) => count > 0)
                            .map(([s, count]) => `${count} ${s.text.toLowerCase()}`);
    const total = `${controllers.length} controller${controllers.length === 1 ? "" : "s"}`;
    return counts.length ? `${total}: ${counts.join(", ")}` : total;
  }

  // A controller's drift from the settings-library version assigned to it, in words: null
  // without an assignment; otherwise key (differs, matches, unchecked), a sentence ("4 values
  // differ from denim-12 v3"), the version ("denim-12 v3") and the words before it.
  function describeDrift(drift) {
    if (!drift || !drift.version) return null;
    const version = `${drift.version.name} v${drift.version.version}`;
    const n = drift.differences;
    if (n === null || n === undefined) {
      return { key: "unchecked", text: `Not compared yet with ${version}`, version, short: "not compared" };
    }
    if (n === 0) return { key: "matches", text: `Matches ${version}`, version, short: "matches" };
    return { key: "differs", text: `${n} value${n === 1 ? " differs" : "s differ"} from ${version}`, version,
             short: `${n} differ${n === 1 ? "s" : ""}` };
  }

  function setBanner(node, message) {
    node.hidden = !message;
    node.textContent = message || "";
  }

  // The token field in the header, when the gateway wants a token for writes.
  function tokenField(container) {
    if (!gateway.token_required || gateway.read_only) return;
    const input = el("input", { type: "password", id: "token", autocomplete: "off",
                                "aria-describedby": "token-hint",
                                value: sessionStorage.getItem(tokenKey) || "" });
    const keep = () => sessionStorage.setItem(tokenKey, input.value.trim());
    input.addEventListener("change", keep);
    const form = el("form", { class: "token-form" },
                    el("label", { for: "token", class: "token" }, "Write token "), input,
                    el("span", { id: "token-hint", class: "token-hint" },
                       " Needed to change values; whoever runs the gateway has it. " +
                       "Kept until this browser tab is closed."));
    form.addEventListener("submit", (event) => { event.preventDefault(); keep(); });
    container.append(form);
  }

  function tokenGiven() { return Boolean(sessionStorage.getItem(tokenKey)); }

  // A bar chart of histogram bins; a bar as tall as top (the tallest bin unless given) fills
  // the height. lines: counts to draw a horizontal line at, for a chart with a scale beside it.
  function barChart(bins, { width = 230, height = 60, label = "", top = null, lines = [] } = {}) {
    const max = top || Math.max(1, ...bins);
    const step = width / bins.length;
    const svg = el("svg", { viewBox: `0 0 ${width} ${height}`, class: "bars", role: "img",
                            "aria-label": label, preserveAspectRatio: "none" });
    for (const count of lines) {
      const y = (height - (count / max) * height).toFixed(2);
      svg.append(el("line", { x1: 0, x2: width, y1: y, y2: y, class: "grid-line" }));
    }
    bins.forEach((count, bin) => {
      const h = (count / max) * (height - 2);
      svg.append(el("rect", { x: (bin * step + 0.5).toFixed(2), y: (height - h).toFixed(2),
                              width: Math.max(0.5, step - 1).toFixed(2), height: h.toFixed(2),
                              "data-bin": bin, "data-count": count },
                    el("title", {}, `bin ${bin}: ${count}`)));
    });
    return svg;
  }

  return { el, getJSON, fetchJSON, sendJSON, patchJSON, loadGateway, describeAge, stateOf, summarize, describeDrift, setBanner,
           tokenField, tokenGiven, barChart, gateway: () => gateway, allStates };
})();
