// A histogram on the machine page with its scales: the count up the left side (0, half and the
// top of the scale, a round number at or above the tallest bin) and the bin numbers along the
// bottom.
"use strict";

const histogramChart = (() => {
  const { el } = panel;

  // The smallest of 1, 2, 2.5, 5 times a power of ten that is at least max.
  function roundTop(max) {
    if (max <= 1) return 1;
    const power = 10 ** Math.floor(Math.log10(max));
    return [1, 2, 2.5, 5, 10].map((m) => m * power).find((top) => top >= max);
  }

  function chart(bins, label) {
    const top = roundTop(Math.max(...bins));
    const last = bins.length - 1;
    const binTicks = [...new Set([0, Math.round(last / 3), Math.round((2 * last) / 3), last])];
    return el("div", { class: "chart" },
      el("div", { class: "y-axis", "aria-hidden": "true" },
         ...[top, top / 2, 0].map((count) => el("span", {}, count))),
      panel.barChart(bins, { width: 460, height: 140, label, top, lines: [top, top / 2] }),
      el("div", { class: "y-title", "aria-hidden": "true" }, "count"),
      el("div", { class: "x-axis", "aria-hidden": "true" },
         ...binTicks.map((bin) => el("span", { "data-bin": bin }, bin))),
      el("div", { class: "x-title", "aria-hidden": "true" }, "bin"));
  }

  return { chart, roundTop };
})();
