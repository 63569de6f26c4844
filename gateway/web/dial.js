// The valve dial: the machine's 0-359 degree cycle as a circle (0 at the top, clockwise), each
// valve's on-off interval an arc on its own ring with a tag naming it, the TO and TW targets and
// measurements as lines across the rings. dial_key.js draws the key beside it.
"use strict";

const dial = (() => {
  const { el } = panel;
  const size = 440;   // viewBox: -220..220
  const outer = 166;  // radius of the outermost valve ring
  const inner = 50;   // radius of the innermost valve ring
  const rim = outer + 10;
  const hub = 36;     // the timing lines start here; their TO/TW names sit inside

  function point(angle, radius) {
    const a = (angle * Math.PI) / 180;
    return [radius * Math.sin(a), -radius * Math.cos(a)];
  }

  function fixed(n) { return n.toFixed(2); }

  const sweepOf = (on, off) => (((off - on) % 360) + 360) % 360;

  // The arc from on to off, clockwise; off before on wraps past 0.
  function arcPath(on, off, radius) {
    const [x1, y1] = point(on, radius);
    const [x2, y2] = point(off, radius);
    return `M ${fixed(x1)} ${fixed(y1)} A ${radius} ${radius} 0 ${sweepOf(on, off) > 180 ? 1 : 0} 1 ` +
           `${fixed(x2)} ${fixed(y2)}`;
  }

  function radialPath(angle, from, to) {
    const [x1, y1] = point(angle, from);
    const [x2, y2] = point(angle, to);
    return `M ${fixed(x1)} ${fixed(y1)} L ${fixed(x2)} ${fixed(y2)}`;
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

  // A valve with equal on and off angles (0 and 0 for a group not fitted) opens never.
  function inUse(v) { return v.off === null || v.on !== v.off; }

  // The valve's group, whose colour panel.css gives: pin, abs, main, tandem, stretch or sub.
  function groupOf(name) { return /^sub\d+$/.test(name) ? "sub" : name; }

  // The tag drawn at an arc: the group's name, "s3" for the sub-nozzle group sub3.
  function tagOf(name) {
    const sub = /^sub(\d+)$/.exec(name);
    return sub ? `s${sub[1]}` : name;
  }

  // The rings drawn, outermost first: every valve in use, with its radius and the classes that
  // give its colour. The sub-nozzle rings alternate a light and a dark tone so that two
  // neighbours never look alike. deviceOn: the device's flag in the device selection (a ring is
  // drawn whether or not it is on: the two are kept apart on the controller).
  function ringsOf(line, selection) {
    const shown = valvesOf(line).filter(inUse);
    let subs = 0;
    return shown.map((v, index) => {
      const group = groupOf(v.name);
      const tone = group === "sub" ? ` tone-${subs++ % 2}` : "";
      return { ...v, group, style: `group-${group}${tone}`,
               radius: shown.length <= 1 ? outer : outer - ((outer - inner) * index) / (shown.length - 1),
               deviceOn: !selection || Boolean(selection[v.name]) };
    });
  }

  // In words, for the key's readout and the arcs' titles.
  function describe(ring) {
    const device = ring.deviceOn ? "device on" : "device off";
    if (ring.off === null) return `${ring.name}: on at ${ring.on}° (${device})`;
    return `${ring.name}: on ${ring.on}°, off ${ring.off}°, open ${sweepOf(ring.on, ring.off)}° (${device})`;
  }

  function face() {
    const layers = [el("circle", { r: rim, class: "dial-face" })];
    for (let angle = 0; angle < 360; angle += 10) {
      const major = angle % 30 === 0;
      layers.push(el("path", { d: radialPath(angle, rim, rim + (major ? 8 : 4)),
                               class: major ? "tick major" : "tick" }));
      if (major) {
        const [tx, ty] = point(angle, rim + 22);
        layers.push(el("text", { x: fixed(tx), y: fixed(ty), class: "tick-label",
                                 "text-anchor": "middle", "dominant-baseline": "central" },
                       `${angle}°`));
      }
    }
    return layers;
  }

  // The tag sits on the ring's own track, turned along it, just after the arc's end (or in the
  // arc's middle when the rest of the track is too short for it); it is never taller than the
  // gap between two rings, so it covers no other ring.
  function tag(ring, fontSize, state) {
    const text = tagOf(ring.name);
    const span = ((text.length * fontSize * 0.62 + 4) / ring.radius) * (180 / Math.PI);
    const open = ring.off === null ? 0 : sweepOf(ring.on, ring.off);
    const end = ring.off === null ? ring.on + 2 : ring.off;
    const centre = 360 - open > span + 6 ? end + 3 + span / 2 : ring.on + open / 2;
    const angle = ((centre % 360) + 360) % 360;
    const [x, y] = point(angle, ring.radius);
    const turn = angle > 90 && angle < 270 ? angle - 180 : angle;
    return el("text", { x: fixed(x), y: fixed(y), class: `ring-tag${state}`,
                        "data-valve": ring.name, "font-size": fontSize.toFixed(1),
                        "text-anchor": "middle", "dominant-baseline": "central",
                        transform: `rotate(${fixed(turn)} ${fixed(x)} ${fixed(y)})` }, text);
  }

  function ringLayers(ring, fontSize, highlighted) {
    const state = highlighted === ring.name ? " highlighted" : highlighted ? " dimmed" : "";
    const common = { "data-valve": ring.name, "data-on": ring.on };
    const layers = [el("circle", { r: fixed(ring.radius), class: "ring" })];
    let d;
    if (ring.off === null) {
      // The pin has only an opening angle: a radial mark with a dot on its ring.
      d = radialPath(ring.on, ring.radius - 7, ring.radius + 7);
      layers.push(el("path", { d, class: `valve-arc mark ${ring.style}${state}`, ...common },
                     el("title", {}, describe(ring))));
      const [x, y] = point(ring.on, ring.radius);
      layers.push(el("circle", { cx: fixed(x), cy: fixed(y), r: 3.5,
                                 class: `valve-dot ${ring.style}${state}` }));
    } else {
      d = arcPath(ring.on, ring.off, ring.radius);
      layers.push(el("path", { d, class: `valve-arc ${ring.style}${state}`, ...common,
                               "data-off": ring.off }, el("title", {}, describe(ring))));
    }
    layers.push(tag(ring, fontSize, state));
    // A wide invisible twin that takes taps and clicks.
    layers.push(el("path", { d, class: "arc-hit", "data-valve": ring.name }));
    return layers;
  }

  // marks: {angle, label, kind: "target" | "measured", quantity: "to" | "tw"}. A target is a
  // solid line with a triangle at the rim and its name in the hub; a measurement a dashed line
  // with a ring at its inner end: told apart without their colour, even where they coincide.
  function markLayers(mark) {
    const classes = `timing-mark ${mark.kind} ${mark.quantity}`;
    const layers = [el("path", { d: radialPath(mark.angle, hub, rim), class: classes,
                                 "data-angle": mark.angle },
                       el("title", {}, `${mark.label}: ${mark.angle}°`))];
    if (mark.kind === "target") {
      const [tx, ty] = point(mark.angle, rim + 1);
      const [lx, ly] = point(mark.angle - 2.2, rim + 11);
      const [rx, ry] = point(mark.angle + 2.2, rim + 11);
      layers.push(el("path", { d: `M ${fixed(tx)} ${fixed(ty)} L ${fixed(lx)} ${fixed(ly)} ` +
                                  `L ${fixed(rx)} ${fixed(ry)} Z`, class: `timing-head ${classes}` }));
      const [nx, ny] = point(mark.angle, hub - 18);
      layers.push(el("text", { x: fixed(nx), y: fixed(ny), class: `timing-name ${mark.quantity}`,
                               "text-anchor": "middle", "dominant-baseline": "central" },
                     mark.quantity.toUpperCase()));
    } else {
      const [cx, cy] = point(mark.angle, hub);
      layers.push(el("circle", { cx: fixed(cx), cy: fixed(cy), r: 3.5, class: `timing-foot ${classes}` }));
    }
    return layers;
  }

  // Draws into the svg element.
  function draw(svg, rings, marks, highlighted) {
    svg.setAttribute("viewBox", `${-size / 2} ${-size / 2} ${size} ${size}`);
    const spacing = rings.length > 1 ? (outer - inner) / (rings.length - 1) : 16;
    const fontSize = Math.max(5, Math.min(11, spacing * 0.9));
    const layers = face();
    for (const ring of rings) layers.push(...ringLayers(ring, fontSize, highlighted));
    for (const mark of marks) layers.push(...markLayers(mark));
    svg.replaceChildren(...layers);
  }

  // The valve whose arc a click or tap landed on; null for anywhere else on the dial.
  function valveAt(event) {
    return event.target.closest?.("[data-valve]")?.dataset.valve ?? null;
  }

  return { draw, valveAt, valvesOf, ringsOf, arcPath, inUse, describe };
})();
