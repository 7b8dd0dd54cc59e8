// The receiver's web page: a channel tree, the programme on screen, the
// recordings, disk, clock and power, and an SQL console. Every panel asks
// /cgi-bin/request for one XML answer rooted at <tree>.
"use strict";

const REQUEST = "/cgi-bin/request?";

// ---- Talking to request -------------------------------------------------

// Fetches a URL and parses the answer as XML. A failed request answers
// "ERROR: message" after the opening <tree>, which is no well-formed XML:
// that message (or the HTTP status) becomes the rejection.
async function fetchXml(url) {
  const resp = await fetch(url, { cache: "no-store" });
  const text = await resp.text();
  if (!resp.ok) throw new Error("HTTP " + resp.status + " " + resp.statusText);
  const doc = new DOMParser().parseFromString(text, "text/xml");
  if (doc.getElementsByTagName("parsererror").length) {
    const m = /ERROR: ([^\n]*)/.exec(text);
    throw new Error(m ? m[1] : "the answer is not well-formed XML");
  }
  return doc.documentElement;
}

// Runs one command text ("KEYWORD:argument"); the text is escaped for the
// URL and request turns the escapes back.
function command(text) {
  return fetchXml(REQUEST + encodeURIComponent(text));
}

function childText(el, name) {
  const c = el.getElementsByTagName(name)[0];
  return c ? c.textContent : null;
}

function make(tag, attrs, ...children) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === "class") el.className = v;
    else el.setAttribute(k, v);
  }
  for (const c of children) el.append(c);
  return el;
}

function showError(container, err) {
  container.replaceChildren(make("div", { class: "error" }, String(err.message || err)));
}

// ---- Formatting ---------------------------------------------------------

// The receiver's time zone offset in minutes east of UTC (TIMEINFO); dates
// are shown in the receiver's local time, whatever the browser's zone.
let tzOffset = 0;
let clockSkew = 0;  // receiver clock minus browser clock, in seconds

const pad = (n) => String(n).padStart(2, "0");

function receiverDate(epoch) {
  return new Date((Number(epoch) + tzOffset * 60) * 1000);
}

function formatDateTime(epoch) {
  const d = receiverDate(epoch);
  return d.getUTCFullYear() + "-" + pad(d.getUTCMonth() + 1) + "-" + pad(d.getUTCDate()) +
    " " + pad(d.getUTCHours()) + ":" + pad(d.getUTCMinutes());
}

function formatTime(epoch) {
  const d = receiverDate(epoch);
  return pad(d.getUTCHours()) + ":" + pad(d.getUTCMinutes());
}

function formatZone(minutes) {
  const sign = minutes < 0 ? "-" : "+";
  const m = Math.abs(minutes);
  return "UTC" + sign + pad(Math.floor(m / 60)) + ":" + pad(m % 60);
}

// Sizes in binary units, as a disk's owner counts them: 734.0 MiB, 6.3 GiB.
function formatSize(bytes) {
  let n = Number(bytes);
  const units = ["B", "KiB", "MiB", "GiB", "TiB"];
  let u = 0;
  while (n >= 1024 && u < units.length - 1) { n /= 1024; u++; }
  return (u === 0 ? String(n) : n.toFixed(1)) + " " + units[u];
}

function formatDuration(seconds) {
  const s = Number(seconds);
  return Math.floor(s / 3600) + ":" + pad(Math.floor(s / 60) % 60) + ":" + pad(s % 60);
}

function nowOnReceiver() {
  return Math.floor(Date.now() / 1000) + clockSkew;
}

// ---- Channel tree -------------------------------------------------------

// A node of the answer: text, and either src (children fetched on opening),
// inline children, or an action run when the label is clicked. Icons come
// from icon/openIcon, folders get the default folder images.
function treeItem(el) {
  const li = make("li", { role: "treeitem" });
  const row = make("div", { class: "node" });
  const kids = Array.from(el.children).filter((c) => c.tagName === "tree");
  const src = el.getAttribute("src");
  const action = el.getAttribute("action");
  const branch = src !== null || kids.length > 0;
  const icon = el.getAttribute("icon") || (branch ? "img/folder.gif" : "");
  const openIcon = el.getAttribute("openIcon") || (branch && !el.getAttribute("icon")
    ? "img/folder_open.gif" : icon);

  const toggle = make("span", { class: "toggle" + (branch ? "" : " leaf") }, branch ? "▸" : "");
  row.append(toggle);
  const img = icon ? make("img", { src: icon, alt: "" }) : null;
  if (img) row.append(img);
  const label = action
    ? make("a", { class: "label", href: action }, el.getAttribute("text") || "")
    : make("span", { class: "label" }, el.getAttribute("text") || "");
  row.append(label);
  li.append(row);
  if (!branch) return li;

  li.classList.add("collapsed");
  const ul = make("ul", { role: "group" });
  li.append(ul);
  let loaded = false;
  if (kids.length) {
    for (const k of kids) ul.append(treeItem(k));
    loaded = true;
  }
  li.dataset.src = src || "";

  async function open() {
    li.classList.remove("collapsed");
    li.setAttribute("aria-expanded", "true");
    toggle.textContent = "▾";
    if (img) img.src = openIcon;
    if (loaded) return;
    loaded = true;
    ul.replaceChildren(make("li", { class: "loading" }, "loading…"));
    try {
      const root = await fetchXml(src);
      const items = Array.from(root.children).filter((c) => c.tagName === "tree");
      ul.replaceChildren(...items.map(treeItem));
      if (!items.length) ul.append(make("li", { class: "loading" }, "(empty)"));
      li.dataset.loaded = "1";
    } catch (e) {
      loaded = false;
      ul.replaceChildren(make("li", { class: "error" }, String(e.message)));
    }
  }
  function close() {
    li.classList.add("collapsed");
    li.setAttribute("aria-expanded", "false");
    toggle.textContent = "▸";
    if (img) img.src = icon;
  }
  const flip = () => (li.classList.contains("collapsed") ? open() : close());
  toggle.addEventListener("click", flip);
  label.addEventListener("click", flip);
  return li;
}

async function loadTree() {
  const tree = document.getElementById("tree");
  try {
    const root = await command("CHANTREE:");
    tree.replaceChildren(...Array.from(root.children).map(treeItem));
  } catch (e) {
    showError(tree, e);
  }
}

// Called by the channel nodes' actions: switch the receiver to the channel
// with this ch_order, then show what is on. The switch itself belongs to
// the demo (its stand-in for the main application), not to request.
// Returns nothing: a javascript: link whose value is a string would replace
// the page with it.
function remote_change_channel(n) {
  changeChannel(n);
}
window.remote_change_channel = remote_change_channel;

async function changeChannel(n) {
  for (const el of document.querySelectorAll(".tree .node.selected")) el.classList.remove("selected");
  for (const a of document.querySelectorAll('.tree a.label')) {
    if (a.getAttribute("href") === "javascript:remote_change_channel(" + n + ")") {
      a.parentElement.classList.add("selected");
    }
  }
  try {
    const resp = await fetch("/cgi-bin/demo-switch?" + encodeURIComponent(n), { cache: "no-store" });
    if (!resp.ok) throw new Error("switching failed: " + (await resp.text()));
  } catch (e) {
    showError(document.getElementById("current-body"), e);
    return;
  }
  await refreshCurrent();
}

// ---- Current programme --------------------------------------------------

// One CURRVIEW at a time: the main application answers one question at a
// time. A refresh asked for meanwhile runs once the current one is done.
let currentBusy = null;
let currentAgain = false;

async function refreshCurrent() {
  if (currentBusy) {
    currentAgain = true;
    return currentBusy;
  }
  currentBusy = (async () => {
    do {
      currentAgain = false;
      await showCurrent();
    } while (currentAgain);
    currentBusy = null;
  })();
  return currentBusy;
}

async function showCurrent() {
  const body = document.getElementById("current-body");
  let root;
  try {
    root = await command("CURRVIEW:");
  } catch (e) {
    showError(body, e);
    return;
  }
  const events = Array.from(root.getElementsByTagName("sqlrow"));
  const rows = Array.from(root.getElementsByTagName("row"));
  const name = events.length ? childText(events[0], "ch_name")
    : rows.length ? childText(rows[0], "ch_name") : "";
  const parts = [make("div", { class: "channel" }, name || "(no channel)")];
  if (!events.length) parts.push(make("div", { class: "muted" }, "no programme information"));
  const now = nowOnReceiver();
  for (const ev of events) {
    const start = Number(childText(ev, "start_time"));
    const end = Number(childText(ev, "end_time"));
    const div = make("div", { class: "event" },
      make("span", { class: "when" }, formatTime(start) + "–" + formatTime(end)),
      make("span", { class: "title" }, childText(ev, "event_name") || ""));
    if (start <= now && now < end) {
      div.classList.add("running");
      const bar = make("div", { class: "progress" }, make("div"));
      bar.firstChild.style.width = Math.round(100 * (now - start) / (end - start)) + "%";
      div.append(bar);
    }
    for (const k of ["story", "ext_story1", "ext_story2"]) {
      const t = childText(ev, k);
      if (t) div.append(make("div", { class: "story" }, t));
    }
    parts.push(div);
  }
  body.replaceChildren(...parts);
}

// ---- Recordings ---------------------------------------------------------

let recList = "video";

async function loadRecordings() {
  const tbody = document.querySelector("#reclist tbody");
  let root;
  try {
    root = await command(recList === "audio" ? "LISTREC:audio" : "LISTREC:");
  } catch (e) {
    tbody.replaceChildren(make("tr", {}, make("td", { colspan: "6", class: "error" }, e.message)));
    return;
  }
  const rows = Array.from(root.getElementsByTagName("reclistrow")).map((r) => ({
    path: childText(r, "filename") || "",
    size: childText(r, "size"),
    lastmod: Number(childText(r, "lastmod")),
    lastaccess: Number(childText(r, "lastaccess")),
    playtime: childText(r, "playtime"),
    lock: childText(r, "lock"),
  }));
  rows.sort((a, b) => b.lastmod - a.lastmod);  // the directory's order is none
  tbody.replaceChildren(...rows.map((r) => make("tr", { class: "recording" },
    make("td", { class: "name", title: r.path }, r.path.replace(/.*\//, "")),
    make("td", { class: "num size", title: r.size + " bytes" }, formatSize(r.size)),
    make("td", { class: "lastmod" }, formatDateTime(r.lastmod)),
    make("td", { class: "lastaccess" }, formatDateTime(r.lastaccess)),
    make("td", { class: "num playtime" }, r.playtime === null ? "" : formatDuration(r.playtime)),
    make("td", { class: "lock" }, r.lock === "1" ? "locked" : ""))));
  if (!rows.length) tbody.append(make("tr", {}, make("td", { colspan: "6", class: "muted" }, "no recordings")));
}

// ---- Disk, clock, power -------------------------------------------------

async function loadStatus() {
  const figures = document.querySelector("#disk .figures");
  const stat = document.getElementById("powerstat");
  let root;
  try {
    root = await command("TIMEINFO:;DISKSTAT:;CHECKON:");
  } catch (e) {
    showError(figures, e);
    return;
  }
  const epoch = Number(childText(root, "epochtime"));
  tzOffset = Number(childText(root, "tzoffset"));
  clockSkew = epoch - Math.floor(Date.now() / 1000);
  tickClock();

  const size = Number(childText(root, "size"));
  const used = Number(childText(root, "used"));
  const free = Number(childText(root, "free"));
  const pct = size > 0 ? Math.round(100 * used / size) : 0;
  document.querySelector("#disk .used").style.width = pct + "%";
  figures.textContent = formatSize(used) + " used of " + formatSize(size) + " (" + pct +
    "%), " + formatSize(free) + " free";

  const item = (label, value, good) =>
    make("li", { class: good ? "ok" : "bad" }, label + ": " + value);
  const db = childText(root, "db"), media = childText(root, "media"), app = childText(root, "mivano");
  stat.replaceChildren(item("database", db, db === "writable"),
    item("media", media, media === "mounted"), item("main application", app, app === "on"));
}

function tickClock() {
  const now = nowOnReceiver();
  const d = receiverDate(now);
  document.getElementById("clock").textContent = formatDateTime(now) + ":" +
    pad(d.getUTCSeconds()) + " " + formatZone(tzOffset);
}

async function power(action, confirmText) {
  if (confirmText && !window.confirm(confirmText)) return;
  const note = document.getElementById("power-note");
  try {
    await command("POWER:" + action);
    note.textContent = action + " sent";
  } catch (e) {
    note.textContent = action + " failed: " + e.message;
  }
  loadStatus();
}

// ---- SQL console --------------------------------------------------------

async function runSql(text) {
  const out = document.getElementById("sql-result");
  let root;
  try {
    root = await command("SQL:" + text);
  } catch (e) {
    showError(out, e);
    return;
  }
  const rows = Array.from(root.getElementsByTagName("row"));
  if (!rows.length) {
    out.replaceChildren(make("div", { class: "muted" }, "no rows"));
    return;
  }
  const cols = [];
  for (const r of rows) for (const c of r.children) if (!cols.includes(c.tagName)) cols.push(c.tagName);
  const table = make("table", {},
    make("thead", {}, make("tr", {}, ...cols.map((c) => make("th", {}, c)))),
    make("tbody", {}, ...rows.map((r) => make("tr", {}, ...cols.map((c) => make("td", {},
      childText(r, c) ?? ""))))));
  out.replaceChildren(table, make("div", { class: "muted" }, rows.length + " rows"));
}

// ---- Start --------------------------------------------------------------

document.addEventListener("DOMContentLoaded", () => {
  for (const b of document.querySelectorAll(".tabs button")) {
    b.addEventListener("click", () => {
      recList = b.dataset.list;
      for (const o of document.querySelectorAll(".tabs button")) o.classList.toggle("active", o === b);
      loadRecordings();
    });
  }
  for (const b of document.querySelectorAll("#power button")) {
    b.addEventListener("click", () => power(b.dataset.action, b.dataset.confirm));
  }
  document.getElementById("sql-form").addEventListener("submit", (ev) => {
    ev.preventDefault();
    runSql(document.getElementById("sql-text").value);
  });
  loadTree();
  loadStatus().then(() => { refreshCurrent(); loadRecordings(); });
  runSql(document.getElementById("sql-text").value);
  setInterval(tickClock, 1000);
  setInterval(refreshCurrent, 30000);
  setInterval(loadStatus, 60000);
});
