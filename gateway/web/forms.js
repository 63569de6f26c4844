// The machine page's fields and outcome lines: a number field keeps what the user typed until it
// is applied, and every write's outcome is shown beside the control that caused it as well as
// in the line at the top of the page.
"use strict";

const forms = (() => {
  const { el } = panel;

  // The line for the outcomes of one form or group of controls; a live region of its own.
  function outcomeLine(id) {
    return el("p", { id, class: "form-result", role: "status", "aria-live": "polite" });
  }

  // kind: "ok", "failed", "busy" (a write under way) or "edited" (a change not yet applied).
  // The page's line repeats each outcome (it is not a live region: the form's line speaks); an
  // edit clears it, since what it says is then out of date.
  function say(line, kind, text) {
    line.className = `form-result ${kind}`;
    line.textContent = text;
    const page = document.getElementById("write-result");
    page.className = `write-result ${kind === "edited" ? "" : kind}`;
    page.textContent = kind === "edited" ? "" : text;
  }

  // What a field is called on the page: its label, or its accessible name in a table.
  function fieldName(input) {
    return input.labels?.[0]?.textContent || input.getAttribute("aria-label") || input.name;
  }

  // Marks the field edited while its value differs from the controller's (a dashed border, so
  // colour is not the only sign), and replaces the form's last outcome with a note saying so.
  function watch(input, line) {
    input.addEventListener("input", () => {
      input.classList.toggle("dirty", input.value !== input.dataset.server);
      const edited = input.form?.querySelectorAll("input.dirty").length ?? 0;
      say(line, "edited", edited === 0 ? ""
        : `${edited === 1 ? "1 value" : `${edited} values`} changed here, not applied yet: ` +
          "press Enter or the Apply button.");
    });
  }

  function numberField(key, label, [min, max], idPrefix, { writable, line }) {
    const id = `${idPrefix}-${key}`;
    const input = el("input", { type: "number", id, name: key, min, max, step: 1, required: true,
                                inputmode: "numeric", disabled: !writable });
    watch(input, line);
    return el("div", { class: "field" }, el("label", { for: id }, label), input,
              el("span", { class: "range" }, `${min}–${max}`));
  }

  // Shows the controller's value unless the user is editing the field.
  function setField(input, value) {
    const fresh = input.dataset.server === undefined;
    const untouched = input.value === input.dataset.server || fresh;
    input.dataset.server = String(value);
    if (untouched && document.activeElement !== input) input.value = String(value);
    input.classList.toggle("dirty", input.value !== input.dataset.server);
  }

  function invalidReason(input) {
    const name = fieldName(input);
    const range = `a whole number from ${input.min} to ${input.max}`;
    if (input.validity.valueMissing || input.validity.badInput) return `${name} needs ${range}.`;
    return `${name} must be ${range}; ${input.value} is not.`;
  }

  // The edited fields of a form as {name: number}; null, with the reason beside the form and the
  // browser's own bubble at the field, when one of them is not a valid value. The forms are
  // novalidate, so that a submit always reaches this check and its words.
  function changedValues(form, line) {
    const changes = {};
    for (const input of form.querySelectorAll("input.dirty")) {
      if (!input.checkValidity()) {
        say(line, "failed", `Not sent: ${invalidReason(input)}`);
        input.reportValidity();
        return null;
      }
      changes[input.name] = Number(input.value);
    }
    return changes;
  }

  return { outcomeLine, say, watch, numberField, setField, changedValues };
})();
