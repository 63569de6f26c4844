// The valve dial: the machine's 0-359 degree cycle as a circle (0 at the top, clockwise), each
// valve's on-off interval an arc on its own ring, the arrival-timing targets and measurements
// as marks on the rim.
"use strict";

const dial = (() => {
  const { el } = panel;
  const size = 440;            // viewBox: -220..220
  const outer = 168;           // radius of the outermost valve ring
  const inner = 62;            // radius of the innermost valve ring

  function point(angle, radius) {
    const a = (angle * Math.PI) / 180;
    return [radius * Math.sin(a), -radius * Math.cos(a)];
  }

  function fixed(n) { return n.toFixed(2); }

  // The arc from on to off, clockwise; off before on wraps past 0.
  function arcPath(on, off, radius) {
    const sweep = (((off - on) % 360) + 360) % 360;
    const [x1, y1] = point(on, radius);
    const [x2, y2] = point(off, radius);
    return `M ${fixed(x1)} ${fixed(y1)} A ${radius} ${radius} 0 ${sweep > 180 ? 1 : 0} 1 ` +
           `${fixed(x2)} ${fixed(y2)}`;
  }

  // The valves of a valve line, in answer order: {name, on, off} (pin has no off angle).
  function valvesOf(line) {
    const valves = [];
    for (const [key, value] of Object.entries(line)) {
      const match = /^(.+)_(on|off)$/.exec(key);
      if (!match) continue;
      let valve = valves.find((v) => v.name === match[1]);
      if (!valve) { valve = { name: match[1], on: null, off: null }; valves.push(valve); }
      valve[match[2]] = value;
    }
    return valves;
  }

  function ringRadius(index, count) {
    return count <= 1 ? outer : outer - ((outer - inner) * index) / (count - 1);
  }

  // A valve with equal on and off angles (0 and 0 for a group not fitted) opens never.
  function inUse(v) { return v.off === null || v.on !== v.off; }

  // Draws into the svg element: one ring per valve in use, outermost first, its name at the
  // top of the ring; marks are {angle, label, kind}. The selected valve is drawn highlighted.
  function draw(svg, line, marks, selectedValve) {
    const valves = valvesOf(line);
    const shown = valves.filter(inUse);
    svg.setAttribute("viewBox", `${-size / 2} ${-size / 2} ${size} ${size}`);
    const layers = [];
    layers.push(el("circle", { r: outer + 10, class: "dial-face" }));
    for (let angle = 0; angle < 360; angle += 10) {
      const major = angle % 30 === 0;
      const [x1, y1] = point(angle, outer + 10);
      const [x2, y2] = point(angle, outer + (major ? 18 : 14));
      layers.push(el("line", { x1: fixed(x1), y1: fixed(y1), x2: fixed(x2), y2: fixed(y2),
                               class: major ? "tick major" : "tick" }));
      if (major) {
        const [tx, ty] = point(angle, outer + 31);
        layers.push(el("text", { x: fixed(tx), y: fixed(ty), class: "tick-label",
                                 "text-anchor": "middle", "dominant-baseline": "middle" },
                       `${angle}°`));
      }
    }
    const spacing = shown.length > 1 ? (outer - inner) / (shown.length - 1) : 0;
    const labelSize = Math.max(6, Math.min(11, spacing * 0.95));
    shown.forEach((v, index) => {
      const r = ringRadius(index, shown.length);
      const selected = v.name === selectedValve ? " selected" : "";
      layers.push(el("circle", { r: fixed(r), class: "ring" }));
      const title = v.off === null ? `${v.name}: on at ${v.on}°`
                                   : `${v.name}: on ${v.on}°, off ${v.off}°`;
      const kind = v.name.startsWith("sub") ? "sub" : v.name;
      if (v.off === null) {
        // The pin has only an opening angle: a short radial mark.
        const [x1, y1] = point(v.on, r - 5);
        const [x2, y2] = point(v.on, r + 5);
        layers.push(el("path", { d: `M ${fixed(x1)} ${fixed(y1)} L ${fixed(x2)} ${fixed(y2)}`,
                                 class: `valve-arc mark ${kind}${selected}`, "data-valve": v.name,
                                 "data-on": v.on }, el("title", {}, title)));
      } else {
        layers.push(el("path", { d: arcPath(v.on, v.off, r), class: `valve-arc ${kind}${selected}`,
                                 "data-valve": v.name, "data-on": v.on, "data-off": v.off },
                       el("title", {}, title)));
      }
      layers.push(el("text", { x: -3, y: fixed(-r), class: `ring-label${selected}`,
                               "text-anchor": "end", "dominant-baseline": "middle",
                               "font-size": labelSize.toFixed(1) }, v.name));
    });
    for (const mark of marks) {
      const [x1, y1] = point(mark.angle, inner - 18);
      const [x2, y2] = point(mark.angle, outer + 10);
      layers.push(el("line", { x1: fixed(x1), y1: fixed(y1), x2: fixed(x2), y2: fixed(y2),
                               class: `timing-mark ${mark.kind}`, "data-angle": mark.angle },
                     el("title", {}, `${mark.label}: ${mark.angle}°`)));
    }
    svg.replaceChildren(...layers);
    return valves;
  }

  return { draw, valvesOf, arcPath, inUse };
})();
