// The dial's key, beside it on a wide screen and under it on a phone: one entry per ring with
// its colour, name, angles and whether its device is on in the device selection, then the TO
// and TW lines. The ring entries are buttons in one
// tab stop (the arrow keys move between them): focusing or pressing one picks out its valve on
// the dial, as tapping its arc does, and the readout names the valve in words.
"use strict";

const dialKey = (() => {
  const { el } = panel;

  function swatch(...shapes) {
    return el("svg", { class: "swatch", viewBox: "0 0 30 14", "aria-hidden": "true" }, ...shapes);
  }

  function ringSwatch(ring) {
    if (ring.off === null) {
      return swatch(el("path", { d: "M 15 0 L 15 14", class: `valve-arc mark ${ring.style}` }),
                    el("circle", { cx: 15, cy: 7, r: 3.5, class: `valve-dot ${ring.style}` }));
    }
    return swatch(el("path", { d: "M 1 7 L 29 7", class: `valve-arc ${ring.style}` }));
  }

  function markSwatch(mark) {
    const classes = `timing-mark ${mark.kind} ${mark.quantity}`;
    return swatch(el("path", { d: "M 1 7 L 25 7", class: classes }),
                  mark.kind === "target"
                    ? el("path", { d: "M 29 7 L 23 3 L 23 11 Z", class: `timing-head ${classes}` })
                    : el("circle", { cx: 25, cy: 7, r: 3, class: `timing-foot ${classes}` }));
  }

  function angles(ring) {
    return ring.off === null ? `at ${ring.on}°` : `${ring.on}–${ring.off}°`;
  }

  function entry(ring) {
    return el("li", {},
      el("button", { type: "button", class: "key-entry", "data-valve": ring.name, tabindex: -1 },
        ringSwatch(ring),
        el("span", { class: "key-name" }, ring.name),
        el("span", { class: "key-angles" }, angles(ring)),
        el("span", { class: `key-device ${ring.deviceOn ? "on" : "off"}` },
           el("span", { class: "visually-hidden" }, ", device "), ring.deviceOn ? "on" : "off")));
  }

  // Arrow keys, Home and End move the focus between the entries; Tab leaves the list.
  function moveFocus(list, event) {
    const buttons = [...list.querySelectorAll("button")];
    const at = buttons.indexOf(document.activeElement);
    if (at < 0) return;
    const next = { ArrowDown: at + 1, ArrowRight: at + 1, ArrowUp: at - 1, ArrowLeft: at - 1,
                   Home: 0, End: buttons.length - 1 }[event.key];
    if (next === undefined) return;
    event.preventDefault();
    buttons[Math.max(0, Math.min(buttons.length - 1, next))].focus();
  }

  // Builds the key into container once; update() fills it in on every redraw.
  // pick(name, how): how is "focus" (follows the focus) or "press". hint: the readout's words
  // while no valve is picked out.
  const defaultHint = "Tap an arc or a name, or focus a row of the table, to pick out a valve.";
  function create(container, pick, { hint = defaultHint } = {}) {
    const list = el("ul", { class: "key-rings", role: "toolbar", "aria-orientation": "vertical",
                            "aria-label": "Rings of the dial, outermost first" });
    const marks = el("ul", { class: "key-marks", "aria-label": "Timing lines" });
    const readout = el("p", { class: "dial-readout", role: "status", "aria-live": "polite" });
    container.replaceChildren(
      el("p", { class: "key-heading", "aria-hidden": "true" },
         el("span", {}, "Ring"), el("span", {}, "on–off"), el("span", {}, "device")),
      list, marks, readout);
    list.addEventListener("keydown", (event) => moveFocus(list, event));
    list.addEventListener("focusin", (event) => {
      const button = event.target.closest("button");
      if (button) pick(button.dataset.valve, "focus");
    });
    list.addEventListener("focusout", (event) => {
      if (!list.contains(event.relatedTarget)) pick(null, "focus");
    });
    list.addEventListener("click", (event) => {
      const button = event.target.closest("button");
      if (button) pick(button.dataset.valve, "press");
    });

    function update(rings, timing, highlighted) {
      const names = rings.map((r) => r.name).join(" ");
      if (list.dataset.names !== names) {
        const focused = list.contains(document.activeElement) ? document.activeElement.dataset.valve : null;
        list.replaceChildren(...rings.map(entry));
        list.dataset.names = names;
        if (focused) list.querySelector(`[data-valve="${CSS.escape(focused)}"]`)?.focus();
      }
      rings.forEach((ring, index) => {
        const button = list.children[index].querySelector("button");
        // Changed only when it changed, so a screen reader on the entry is not interrupted.
        const fresh = entry(ring).firstChild;
        if (button.innerHTML !== fresh.innerHTML) button.replaceChildren(...fresh.childNodes);
        button.setAttribute("aria-pressed", ring.name === highlighted ? "true" : "false");
      });
      // One tab stop: the highlighted entry, else the first.
      const buttons = [...list.querySelectorAll("button")];
      const current = buttons.find((b) => b.dataset.valve === highlighted) || buttons[0];
      for (const b of buttons) b.tabIndex = b === current ? 0 : -1;

      marks.replaceChildren(...timing.map((mark) =>
        el("li", { "data-mark": `${mark.quantity}-${mark.kind}`, class: "key-mark" }, markSwatch(mark),
           el("span", { class: "key-name" }, mark.label), el("span", { class: "key-angles" }, `${mark.angle}°`))));

      const ring = rings.find((r) => r.name === highlighted);
      const words = ring ? dial.describe(ring) : hint;
      if (readout.textContent !== words) readout.textContent = words;
      readout.classList.toggle("picked", Boolean(ring));
    }
    return { update };
  }

  return { create };
})();
