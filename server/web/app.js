// The rack page and the unit page. Every caption, list item and enabling rule comes from
// the server (the window's own tables); this file only lays them out. Values shown are
// the ones the device read back, from the event stream or a write's answer.
"use strict";

// pending: settings whose write awaits its read-back; the stream leaves their controls alone.
const state = { schema: null, window: {}, editor: {}, units: new Map(), stream: null, view: "", pending: new Set() };
const $ = (sel, root = document) => root.querySelector(sel);

function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v === false || v === null || v === undefined) continue;
    if (k === "text") e.textContent = v;
    else if (k.startsWith("on")) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v === true ? "" : v);
  }
  for (const c of children) if (c !== null && c !== undefined) e.append(c);
  return e;
}

// ---- talking to the server ----

function headers(extra = {}) {
  const token = sessionStorage.getItem("qz81kt-token");
  return token ? { ...extra, Authorization: "Bearer " + token } : extra;
}

class NeedsToken extends Error {}

async function api(path, options = {}) {
  const response = await fetch(path, { ...options, headers: headers(options.headers) });
  if (response.status === 401) throw new NeedsToken();
  const body = await response.json().catch(() => ({ error: response.statusText }));
  return { ok: response.ok, status: response.status, body };
}

function write(method, path, body) {
  return api(path, { method, body: JSON.stringify(body), headers: { "Content-Type": "application/json" } });
}

function askForToken(wrong) {
  const form = $("#token-form");
  form.hidden = false;
  say(wrong ? "Wrong token" : "");
  $("#token").focus();
}

function say(text) { $("#message").textContent = text || ""; }

// The event stream through fetch, so the token travels in a header and never in a URL.
async function follow() {
  const controller = new AbortController();
  state.stream = controller;
  try {
    const response = await fetch("/api/events", { headers: headers(), signal: controller.signal });
    if (response.status === 401) throw new NeedsToken();
    if (!response.ok) throw new Error(response.statusText);
    setConnection(true);
    const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
    let buffer = "";
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      buffer += value;
      let end;
      while ((end = buffer.indexOf("\n\n")) >= 0) {
        try {
          onEvent(buffer.slice(0, end));
        } catch (e) {
          console.error(e);  // a drawing fault must not end the stream
          render();
        }
        buffer = buffer.slice(end + 2);
      }
    }
  } catch (e) {
    if (e instanceof NeedsToken) return askForToken(true);
    if (controller.signal.aborted) return;
  }
  setConnection(false);
  setTimeout(follow, 1000);
}

function onEvent(text) {
  let name = "", data = "";
  for (const line of text.split("\n")) {
    if (line.startsWith("event: ")) name = line.slice(7);
    else if (line.startsWith("data: ")) data += line.slice(6);
  }
  if (!data) return;
  const doc = JSON.parse(data);
  if (name === "snapshot") {
    state.units = new Map(doc.units.map((u) => [u.identity.id, u]));
    render();
  } else if (name === "unit") {
    const unit = state.units.get(doc.unit) || {};
    const before = unit.identity ? linked(unit) : undefined;
    Object.assign(unit, doc);
    state.units.set(doc.unit, unit);
    if (before !== undefined && before !== linked(unit)) announce(unit);
    update(doc.unit, doc);
  }
}

function setConnection(up) {
  document.body.classList.toggle("disconnected", !up);
  $("#connection").textContent = up ? "" : "No connection to the server; trying again";
}

const linked = (unit) => unit.identity.online && unit.status.link;

// Said by a screen reader (the region is aria-live) whenever a unit's link comes or goes.
function announce(unit) {
  $("#connection").textContent = unit.identity.productId + (linked(unit) ? ": link up" : ": offline");
}

// ---- the rack page ----

function lamp(on, label) {
  return el("span", { class: "lamp" + (on ? " on" : ""), role: "img", "aria-label": label + ": " + (on ? "on" : "off") });
}

function statusRows(unit) {
  const s = unit.status, w = state.window, lamps = state.schema.lampStates;
  const text = (v) => (v === null || v === undefined ? " -" : v);
  const lampText = (v) => (v === null ? " -" : lamps[v]);
  return [
    ["Link", lamp(unit.identity.online && s.link, "Link"), "link"],
    ["Timecode", text(s.timecode), "timecode"],
    [w.labelVideoFormat, text(s.videoFormat), "video-format"],
    [w.labelFormat1394, text(s.ieee1394), "ieee1394"],
    [w.labelPower, text(s.power), "power"],
    ["Indicator 1", el("span", { class: "indicator s" + s.indicator1, text: lampText(s.indicator1) }), "indicator-1"],
    ["Indicator 2", el("span", { class: "indicator s" + s.indicator2, text: lampText(s.indicator2) }), "indicator-2"],
    [w.labelModeSW6, text(s.controlMode), "control-mode"],
  ];
}

function statusList(unit) {
  const dl = el("dl", { class: "status" });
  for (const [label, value, key] of statusRows(unit))
    dl.append(el("div", { "data-status": key }, el("dt", { text: label }), el("dd", {}, value)));
  return dl;
}

function card(unit) {
  const id = unit.identity;
  return el("article", { class: "card" + (id.online ? "" : " offline"), "data-unit": id.id, "aria-labelledby": "h-" + id.id },
    el("h2", { id: "h-" + id.id }, el("a", { href: "#/unit/" + id.id, text: id.productId })),
    el("p", { class: "identity" }, "ver:" + id.version + " ", el("span", { class: "state", text: id.online ? "online" : "offline" })),
    statusList(unit));
}

function renderRack(main) {
  main.append(el("h2", { class: "page", text: "Units" }));
  if (!state.units.size) main.append(el("p", { text: "No unit found yet." }));
  main.append(el("div", { class: "cards" }, ...[...state.units.values()].map(card)));
}

// ---- the unit page ----

function settingControl(unit, setting) {
  const current = unit.settings[setting.name];
  const disabled = !current.enabled || state.schema.readOnly;
  if (setting.kind === "check") {
    const box = el("input", { type: "checkbox", id: "s-" + setting.name, "data-setting": setting.name, disabled,
      onchange: (e) => setSetting(unit, setting, e.target.checked ? 1 : 0, e.target) });
    box.checked = current.value === 1;
    return el("div", { class: "check" }, box, el("label", { for: "s-" + setting.name, text: setting.caption }));
  }
  const items = setting.kind === "preset" ? unit.presets.map((p) => p.summary) : setting.items;
  const set = el("fieldset", { "data-setting": setting.name }, el("legend", { text: setting.caption }));
  items.forEach((item, i) => {
    const id = "s-" + setting.name + "-" + i;
    const radio = el("input", { type: "radio", name: setting.name, id, value: i, disabled,
      onchange: (e) => setSetting(unit, setting, i, e.target) });
    radio.checked = current.value === i;
    const row = el("div", { class: "radio" }, radio, el("label", { for: id, text: item }));
    if (setting.kind === "preset")
      row.append(el("a", { class: "edit", href: "#/unit/" + unit.identity.id + "/preset/" + i,
        "aria-label": state.window.IDC_EDIT_PRESET + " " + state.schema.presetNames[i], text: state.window.IDC_EDIT_PRESET }));
    set.append(row);
  });
  if (setting.name === "control-mode") set.append(el("p", { class: "sw6" }, state.window.labelModeSW6 + " ",
    el("output", { "data-status": "sw6", text: unit.status.controlMode || " -" })));
  return set;
}

function showSetting(unit, setting) {
  const value = unit.settings[setting.name].value;
  if (setting.kind === "check") $("#s-" + setting.name).checked = value === 1;
  else document.querySelectorAll(`input[name="${setting.name}"]`).forEach((r, i) => (r.checked = value === i));
}

async function setSetting(unit, setting, value, control) {
  control.closest("fieldset, .check").setAttribute("aria-busy", "true");
  state.pending.add(setting.name);
  try {
    const r = await write("PUT", `/api/units/${unit.identity.id}/settings/${setting.name}`, { value });
    if ("value" in r.body) unit.settings[setting.name].value = r.body.value;
    say(r.ok ? "" : r.body.error);
  } catch (e) {
    if (e instanceof NeedsToken) askForToken(true);
  }
  state.pending.delete(setting.name);
  control.closest("fieldset, .check").removeAttribute("aria-busy");
  showSetting(unit, setting);  // the value read back, not the one asked for
}

function renderUnit(main, unit) {
  const id = unit.identity;
  main.append(el("h2", { class: "page", tabindex: "-1" }, id.productId + " ",
    el("span", { class: "state", text: id.online ? "online" : "offline" })));
  main.append(el("section", { class: "unit-status", "aria-label": "Status" }, statusList(unit)));
  const options = el("fieldset", { class: "options" }, el("legend", { text: "Options" }));
  const grid = el("form", { class: "settings", onsubmit: (e) => e.preventDefault() });
  for (const setting of state.schema.settings)
    (setting.kind === "check" ? options : grid).append(settingControl(unit, setting));
  grid.append(options);
  main.append(grid);
  main.append(el("p", { class: "commands" }, el("button", { type: "button", id: "write-flash",
    disabled: !unit.controls.flash || state.schema.readOnly, text: state.window.IDC_WRITE_FLASH,
    onclick: async () => {
      const r = await write("POST", `/api/units/${id.id}/write-flash`, {});
      say(r.ok ? "" : r.body.error);
    } })));
}

// ---- the preset form ----

function presetField(unit, name, label, control) {
  control.id = "p-" + name;
  control.dataset.field = name;
  return el("div", { class: "field" }, el("label", { for: control.id, text: label }), control);
}

function renderPreset(main, unit, n) {
  const preset = unit.presets[n], s = state.schema, fields = preset.fields || {};
  const editable = unit.controls.presets && !s.readOnly && preset.fields;
  main.append(el("h2", { class: "page", tabindex: "-1", text: state.editor.CPresetDlg + ": " + s.presetNames[n] }));
  const form = el("form", { class: "preset", "data-preset": n });
  // As the editor lays them out: the lists every codec uses on top, the group boxes in
  // one column, the other lists in the next.
  const top = el("div", { class: "top" }), boxes = el("div", { class: "column" }), lists = el("div", { class: "column" });
  form.append(top, boxes, lists);
  const always = s.enabledByCodec[0] || [];
  const groups = new Map();
  const place = (name, group, node) => {
    if (always.includes(name)) return top.append(node);
    if (!group) return lists.append(node);
    if (!groups.has(group)) boxes.append(groups.set(group, el("fieldset", {}, el("legend", { text: group }))).get(group));
    groups.get(group).append(node);
  };
  for (const list of s.presetLists) {
    const count = list.name === "codec" && !unit.controls.lowLatency ? list.itemsWithoutLowLatency : list.items.length;
    const select = el("select", {}, ...list.items.slice(0, count).map((t, i) => el("option", { value: i, text: t })));
    select.value = fields[list.name] ?? "";
    if (fields[list.name] === null) select.selectedIndex = -1;
    const row = presetField(unit, list.name, list.label, select);
    if (list.unit) row.append(el("span", { class: "unit", text: list.unit }));
    place(list.name, list.group, row);
  }
  for (const hex of s.presetHex) {
    const input = el("input", { type: "text", inputmode: "text", spellcheck: "false", size: 6 });
    input.value = fields[hex.name] || "";
    const row = presetField(unit, hex.name, hex.label, input);
    if (hex.note) row.append(el("span", { class: "unit", text: hex.note }));
    place(hex.name, hex.group, row);
  }
  const enable = () => {
    const codec = Number($("#p-codec", form).value) || 0;
    const allowed = s.enabledByCodec[codec] || [];
    form.querySelectorAll("[data-field]").forEach((c) => {
      c.disabled = !editable || !allowed.includes(c.dataset.field);
    });
  };
  form.addEventListener("change", enable);
  form.addEventListener("submit", (e) => { e.preventDefault(); savePreset(unit, n, form); });
  form.append(el("p", { class: "commands" },
    el("button", { type: "submit", disabled: !editable, text: state.editor.IDC_APPLY }),
    el("a", { href: "#/unit/" + unit.identity.id, class: "button", text: state.editor.IDCANCEL })));
  if (!unit.controls.presets && unit.controls.presetsRefusal) form.prepend(el("p", { class: "why", text: unit.controls.presetsRefusal }));
  main.append(el("p", { class: "summary", "data-summary": n, text: preset.summary }), form);
  enable();
}

async function savePreset(unit, n, form) {
  const shown = unit.presets[n].fields || {}, changed = {};
  form.querySelectorAll("[data-field]").forEach((c) => {
    if (c.disabled) return;
    const value = c.tagName === "SELECT" ? Number(c.value) : c.value;
    if (String(value) !== String(shown[c.dataset.field])) changed[c.dataset.field] = value;
  });
  form.setAttribute("aria-busy", "true");
  const r = await write("PUT", `/api/units/${unit.identity.id}/presets/${n}`, { fields: changed });
  form.removeAttribute("aria-busy");
  say(r.ok ? "" : r.body.error);
  if (r.body.fields) {
    unit.presets[n] = { summary: r.body.summary, fields: r.body.fields };
    render();  // the values read back
  }
}

// ---- views ----

function route() {
  const m = location.hash.match(/^#\/unit\/([A-Za-z0-9_]+)(?:\/preset\/([0-7]))?$/);
  return m ? { unit: m[1], preset: m[2] === undefined ? null : Number(m[2]) } : { unit: null };
}

function render() {
  if (!state.schema) return;
  const main = $("#main"), r = route();
  const view = location.hash;
  const focus = view !== state.view;
  state.view = view;
  main.replaceChildren();
  const unit = r.unit && state.units.get(r.unit);
  if (r.unit && !unit) main.append(el("p", { text: "No unit " + r.unit }));
  else if (unit && r.preset !== null) renderPreset(main, unit, r.preset);
  else if (unit) renderUnit(main, unit);
  else renderRack(main);
  if (focus && r.unit) ($(".page", main) || main).focus();
}

// Changes redraw only what they touch, so a control the keyboard is on keeps its focus.
function update(id, change) {
  const r = route();
  if (!r.unit) {
    const old = document.querySelector(`[data-unit="${id}"]`);
    const dl = old && old.querySelector("dl");
    if (dl && !change.identity) dl.replaceWith(statusList(state.units.get(id)));
    else render();
    return;
  }
  if (r.unit !== id) return;
  const unit = state.units.get(id);
  if (r.preset !== null) {
    const summary = $(`[data-summary="${r.preset}"]`);
    if (!summary || change.controls || change.identity) render();
    else if (change.presets) summary.textContent = unit.presets[r.preset].summary;
    return;
  }
  const shown = $(".unit-status dl");
  // The view may not be drawn yet (the address changed just now): draw it whole.
  if (!shown || change.identity || change.controls || change.presets) return render();
  if (change.status) {
    shown.replaceWith(statusList(unit));
    const sw6 = $('[data-status="sw6"]');
    if (sw6) sw6.textContent = unit.status.controlMode || " -";
  }
  if (change.settings)
    for (const setting of state.schema.settings) {
      if (!state.pending.has(setting.name)) showSetting(unit, setting);
      const disabled = !unit.settings[setting.name].enabled || state.schema.readOnly;
      document.querySelectorAll(`[data-setting="${setting.name}"], input[name="${setting.name}"]`).forEach((c) => {
        if (c.tagName === "INPUT") c.disabled = disabled;
      });
    }
}

async function start() {
  // Everything the first view needs, at once: the captions, the tables and the units.
  const captions = ["/window.json", "/preset-editor.json"].map((p) => fetch(p).then((r) => r.json()));
  let schema, units;
  try {
    [state.window, state.editor, schema, units] = await Promise.all([...captions, api("/api/schema"), api("/api/units")]);
  } catch (e) {
    if (e instanceof NeedsToken) return askForToken(sessionStorage.getItem("qz81kt-token") !== null);
    throw e;
  }
  document.title = $("#title").textContent = state.window.CUtilQZ81KTDlg;
  state.schema = schema.body;
  state.units = new Map(units.body.units.map((u) => [u.identity.id, u]));
  $("#token-form").hidden = true;
  say("");
  window.addEventListener("hashchange", render);
  render();
  follow();
}

$("#token-form").addEventListener("submit", (e) => {
  e.preventDefault();
  sessionStorage.setItem("qz81kt-token", $("#token").value);
  $("#token").value = "";
  start();
});

start();
