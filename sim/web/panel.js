// The simulated unit's front panel: draws the unit's state from the server's events and sends the
// changes a person makes as unit commands (POST /api/command).
"use strict";

const $ = (id) => document.getElementById(id);

// The driver requests by code, so that the log reads as requests rather than numbers.
const requestNames = {
  0x2224F0: "FPGA version", 0x2224F4: "supervisor version", 0x2224F8: "front version",
  0x222598: "further firmware record", 0x222464: "supply voltage", 0x222548: "digital inputs",
  0x222468: "diagnostic word 1", 0x22246C: "diagnostic word 2", 0x222474: "diagnostic word 3",
  0x222478: "diagnostic word 4", 0x22247C: "diagnostic word 5", 0x222480: "diagnostic word 6",
  0x222470: "diagnostic record", 0x222484: "diagnostic word pair", 0x22259C: "diagnostic command",
  0x222418: "backlight level", 0x22241C: "set backlight level", 0x222420: "backlight status",
  0x22248C: "supervisor register read", 0x222488: "supervisor register write",
  0x222514: "light measurement", 0x222518: "set light range", 0x22251C: "light range",
  0x222530: "LED timing", 0x222534: "set LED timing", 0x222538: "LED colour", 0x22253C: "set LED colour",
  0x222540: "LED control flag", 0x222544: "set LED control flag",
  0x222520: "buzzer settings", 0x222524: "set buzzer settings", 0x222528: "buzzer state", 0x22252C: "switch buzzer",
  0x222490: "display power", 0x222494: "set display power", 0x222498: "CAN power", 0x22249C: "set CAN power",
  0x2224A0: "video power", 0x2224A4: "set video power", 0x2224A8: "aux power", 0x2224AC: "set aux power",
  0x2224B0: "power state", 0x2224B4: "power command", 0x2225C0: "battery register",
  0x222508: "upgrade mode", 0x22250C: "front preparation", 0x222510: "bootloader link",
  0x2224FC: "FPGA readiness", 0x222500: "FPGA block write", 0x222504: "FPGA block read",
  0x2225AC: "video capture", 0x22245C: "video reset", 0x222460: "video signal",
};
const vendorNames = { 3: "boardLibInit", 40: "boardLibSetup", 4: "boardLibExit", 55: "boardCount",
  56: "boardOpen", 9: "boardClose", 33: "I2C read register", 34: "I2C write register", 32: "I2C write",
  69: "I2C write/read", 79: "boardTempCount", 81: "boardTempCurrent", 80: "boardTempInfo" };
const upgradeModes = { 195: "normal operation", 15: "FPGA or front upgrade", 150: "supervisor upgrade" };
const links = ["nothing", "system supervisor", "front micro-controller"];
const hex = (n) => "0x" + Number(n).toString(16).toUpperCase();

// ---- sending changes

async function send(command) {
  const response = await fetch("/api/command", {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(command),
  });
  const answer = await response.json().catch(() => ({ ok: false, error: "no answer" }));
  if (!response.ok || !answer.ok) throw new Error(answer.error || response.statusText);
  return answer;
}

function report(element, text, error) {
  element.textContent = text;
  element.dataset.error = error ? "true" : "false";
}

// The number a number field holds, or null when its text is not one: such a field reports an empty
// value, which Number() would take for 0.
function numberIn(input) {
  const text = input.value.trim();
  if (input.validity.badInput || text === "") return null;
  const number = Number(text);
  return Number.isFinite(number) ? number : null;
}

function adjust(name, value) {
  return send({ cmd: "adjust", name, value })
    .then(() => report($("input-message"), `${name} = ${value}`, false))
    .catch((e) => report($("input-message"), `${name}: ${e.message}`, true));
}

// The lux slider is logarithmic: position 0 is darkness, 1 to 1000 span 0.1 to 100000 lux.
const luxOf = (position) => (position <= 0 ? 0 : Number(Math.pow(10, -1 + (6 * position) / 1000).toPrecision(3)));
const positionOf = (lux) => (lux <= 0 ? 0 : Math.min(1000, Math.max(1, Math.round(((Math.log10(lux) + 1) * 1000) / 6))));

$("lux-slider").addEventListener("input", (e) => { $("lux-value").textContent = `${luxOf(+e.target.value)} lx`; });
$("lux-slider").addEventListener("change", (e) => adjust("lux", luxOf(+e.target.value)));
$("battery-fitted").addEventListener("change", (e) => adjust("battery", e.target.checked));
$("battery-charge").addEventListener("change", (e) => adjust("charge", +e.target.value));
$("gps-input").addEventListener("change", (e) => adjust("gps", e.target.checked ? 1 : 0));

$("fault-form").addEventListener("submit", (e) => {
  e.preventDefault();
  const codeText = $("fault-code").value.trim();
  const code = /^0x[0-9a-f]+$/i.test(codeText) ? parseInt(codeText, 16) : /^\d+$/.test(codeText) ? +codeText : NaN;
  const command = { cmd: $("fault-kind").value, code: Number.isNaN(code) ? codeText : code };
  const count = numberIn($("fault-count"));
  const times = numberIn($("fault-times"));
  const timesGiven = $("fault-times").value !== "" || $("fault-times").validity.badInput;
  if ((command.cmd === "returned" && count === null) || (timesGiven && times === null)) {
    report($("fault-message"), `${count === null ? "count" : "requests"}: not a number; nothing armed`, true);
    return;
  }
  if (command.cmd === "returned") command.count = count;
  if (timesGiven) command.times = times;
  send(command)
    .then(() => report($("fault-message"), `armed on ${hex(code)}`, false))
    .catch((err) => report($("fault-message"), err.message, true));
});
$("fault-clear").addEventListener("click", () =>
  send({ cmd: "clear" }).then(() => report($("fault-message"), "every fault cleared", false)));

// ---- drawing the state

// Fills a <dl> with [term, value] pairs.
function fillList(list, pairs) {
  list.replaceChildren(...pairs.flatMap(([term, value]) => {
    const dt = document.createElement("dt");
    const dd = document.createElement("dd");
    dt.textContent = term;
    dd.textContent = value;
    return [dt, dd];
  }));
}

// Number inputs made once per key; a value being edited is left alone.
function numberInputs(container, keys, make) {
  for (const key of keys) {
    const id = `${container.id}-${key}`;
    let input = document.getElementById(id);
    if (!input) {
      const label = document.createElement("label");
      input = document.createElement("input");
      Object.assign(input, { id, type: "number", step: "any" });
      input.addEventListener("change", () => {
        // Refused here, as `pelmux sim set` refuses it: nothing is sent, the field shows the unit's value again.
        const value = numberIn(input);
        if (value === null) {
          report($("input-message"), `${make.label(key)}: not a number; nothing changed`, true);
          input.value = make.value(key);
          return;
        }
        make.send(key, value);
      });
      label.append(`${make.label(key)} `, input);
      container.append(label);
    }
    if (document.activeElement !== input) input.value = make.value(key);
  }
}

const onOff = (v) => (v === undefined ? "–" : v ? "on" : "off");
let ledAnimation = null;
let ledKey = "";
let buzzerSince = null;
let clockSkew = 0;
const framesShown = {};

function drawDisplay(s) {
  const b = s.backlight || {};
  const level = b.level ?? 0;
  const powered = !s.power || s.power.display !== 0;
  $("panel-screen").style.filter = `brightness(${powered ? 0.08 + (0.92 * level) / 255 : 0.05})`;
  $("backlight-level").textContent = `${level} / 255`;
  $("backlight-status").textContent = b.status ?? "–";
  $("display-power").textContent = onOff(s.power && s.power.display);
  $("backlight-history").textContent = (b.history || []).slice(-12).join(", ") || "none yet";
  const abl = Object.entries(s.settings || {}).filter(([k]) => k.startsWith("ABL_"));
  fillList($("abl-settings"), abl.length ? abl : [["settings", "none stored yet"]]);
}

function drawLed(s) {
  const light = (s.frontLed && s.frontLed.light) || { rgb: "#000000", mode: "off", onMs: 0, offMs: 0 };
  const led = $("led-light");
  led.dataset.rgb = light.rgb;
  led.dataset.mode = light.mode;
  led.style.background = light.mode === "off" ? "#222" : light.rgb;
  led.style.setProperty("--glow", light.mode === "off" ? "transparent" : light.rgb);
  $("led-rgb").textContent = light.rgb;
  $("led-mode").textContent = light.mode;
  const period = light.onMs + light.offMs;
  $("led-blink").textContent = light.mode === "blinking"
    ? `${(1000 / period).toFixed(2)} Hz, ${Math.floor((100 * light.onMs) / period)} % lit (${light.onMs} / ${light.offMs} ms)`
    : "–";
  const key = `${light.mode}/${light.onMs}/${light.offMs}`;
  if (key === ledKey) return;
  ledKey = key;
  if (ledAnimation) ledAnimation.cancel();
  ledAnimation = null;
  if (light.mode === "blinking") {
    const duty = light.onMs / period;
    ledAnimation = led.animate(
      [{ opacity: 1, offset: 0 }, { opacity: 1, offset: duty }, { opacity: 0.1, offset: duty }, { opacity: 0.1, offset: 1 }],
      { duration: period, iterations: Infinity });
  }
}

function drawBuzzer(s) {
  const z = s.buzzer || {};
  const state = $("buzzer-state");
  state.dataset.on = z.on ? "true" : "false";
  buzzerSince = z.on && z.onSinceMs ? z.onSinceMs : null;
  if (!z.on) state.textContent = "silent";
  const tone = z.on && z.tone ? z.tone : z;
  $("buzzer-tone").textContent = `${tone.frequency ?? "–"} Hz, volume ${tone.volume ?? "–"}`;
  const last = (z.log || []).slice(-1)[0];
  $("buzzer-last").textContent = last ? `${(last.durationMs / 1000).toFixed(2)} s at ${last.frequency} Hz` : "not yet";
}

function tickBuzzer() {
  if (buzzerSince !== null)
    $("buzzer-state").textContent = `sounding for ${((Date.now() - clockSkew - buzzerSince) / 1000).toFixed(1)} s`;
}

function drawPower(s) {
  const p = s.power || {};
  $("power-state").textContent = p.state ?? "–";
  $("power-display").textContent = onOff(p.display);
  $("power-can").textContent = onOff(p.can);
  $("power-video").textContent = p.video === undefined ? "–"
    : [1, 2, 3, 4].filter((n) => p.video & (1 << (n - 1))).map((n) => `input ${n}`).join(", ") || "none";
  $("power-aux").textContent = onOff(p.aux);
  $("power-commands").textContent = p.commands === undefined ? "–" : `${p.commands} (last ${p.lastCommand ?? "–"})`;
}

function eepromFields(text) {
  if (typeof text !== "string") return [["EEPROM", text ? "binary contents" : "not fitted"]];
  return text.split(/\r?\n/).filter((line) => line.includes(":")).map((line) => {
    const at = line.indexOf(":");
    return [line.slice(0, at), line.slice(at + 1)];
  });
}

function drawIdentity(s) {
  const v = s.versions || {};
  fillList($("versions"), ["fpga", "supervisor", "front", "extra"].map((k) => [k, (v[k] || []).join(".") || "–"]));
  const e = s.eeproms || {};
  fillList($("identity-unit"), eepromFields(e.unit));
  fillList($("identity-expansion"), eepromFields(e.expansion));
}

// A job as the unit sees it: the upgrade mode the library set, the micro-controller the line
// reaches and what the memories took so far.
function drawFirmware(s) {
  const f = s.firmware || {};
  const fpga = f.fpga || {};
  const devices = (s.serial && s.serial.devices) || {};
  const mode = f.upgradeMode;
  $("firmware-mode").textContent = mode === undefined ? "–" : `${hex(mode)} (${upgradeModes[mode] || "unknown"})`;
  $("firmware-link").textContent = links[f.link] || "–";
  const memoryPercent = fpga.size ? Math.min(100, Math.round((100 * (fpga.written || 0)) / fpga.size)) : 0;
  $("firmware-fpga").textContent = `${fpga.written || 0} bytes (${memoryPercent} % of ${fpga.size || 0})`;
  const device = (d) => (d ? `${d.state || "–"}; writes ${(d.counts || {}).write || 0}, reads ${(d.counts || {}).read || 0}` : "–");
  $("firmware-supervisor").textContent = device(devices.supervisor);
  $("firmware-front").textContent = device(devices.front);
  let job = "no job in progress";
  let percent = 0;
  if (mode !== undefined && mode !== 195) {
    const recent = (s.requests || []).filter((r) => r.kind === "control" && (r.code === 0x222500 || r.code === 0x222504)).slice(-1)[0];
    if (mode === 15 && f.link !== 2) {
      job = `FPGA: ${recent && recent.code === 0x222504 ? "verifying" : "writing"}`;
      percent = memoryPercent;
    } else {
      // The unit cannot know the image's size on the serial line: the bar shows activity only.
      const name = mode === 150 ? "supervisor" : "front";
      const counts = (devices[name] && devices[name].counts) || {};
      job = `${mode === 150 ? "System supervisor" : "Front micro-controller"}: ${(counts.read || 0) > 0 ? "verifying" : (counts.write || 0) > 0 ? "writing" : "connecting"}`;
      percent = null;
    }
  }
  $("firmware-job").textContent = job;
  if (percent === null) $("firmware-progress").removeAttribute("value");
  else $("firmware-progress").value = percent;
}

function drawComms(s) {
  const modules = ((s.expander || {}).modules) || {};
  $("modules").replaceChildren(...["gprs", "wlan", "bluetooth", "gps"].map((name) => {
    const li = document.createElement("li");
    li.dataset.on = modules[name] && modules[name].on ? "true" : "false";
    li.textContent = `${name.toUpperCase()} ${onOff(modules[name] && modules[name].on)}`;
    return li;
  }));
  const can = Object.entries(s.can || {}).map(([n, v]) => [`CAN ${n}`, `${v.BaudRate || "–"} bit/s, ${v.Mode || "–"}`]);
  fillList($("can-settings"), can.length ? can : [["CAN", "no settings"]]);
}

function drawVideo(s) {
  const channels = ((s.video || {}).channels) || {};
  for (const n of ["1", "2"]) {
    const c = channels[n];
    const img = $(`video-${n}`);
    $(`video-${n}-caption`).textContent = c
      ? `channel ${n}: frame ${c.frames || 0}, capture ${c.capture ? "on" : "off"}, ${c.signal ? `${c.signal.first}×${c.signal.second} at ${c.signal.rate} Hz` : ""}`
      : `channel ${n}: not fitted`;
    const frames = c ? c.frames || 0 : 0;
    if (frames > 0 && framesShown[n] !== frames) {
      framesShown[n] = frames;
      img.src = `/api/video/${n}.bmp?frame=${frames}`;
    }
    // Until a frame is captured (or when one cannot be had) the tile shows a placeholder, not a broken picture.
    const showing = frames > 0 && !img.dataset.failed;
    img.hidden = !showing;
    $(`video-${n}-none`).hidden = showing;
  }
}

function drawInputs(s) {
  const slider = $("lux-slider");
  const lux = (s.lightSensor || {}).lux ?? 0;
  if (document.activeElement !== slider) {
    slider.value = positionOf(lux);
    $("lux-value").textContent = `${lux} lx`;
  }
  const sensors = s.temperatures || [];
  numberInputs($("temperatures"), sensors.map((_, i) => i), {
    label: (i) => sensors[i].name || `sensor ${i}`,
    value: (i) => ((s.temperatures || [])[i] || {}).value / 1000,
    send: (i, value) => adjust(`temperature${i}`, value),
  });
  const rails = Object.keys(s.adc || {});
  numberInputs($("rails"), rails, {
    label: (k) => k, value: (k) => (typeof s.adc[k] === "number" ? s.adc[k] : ""),
    send: (k, value) => adjust(`rail.${k}`, value),
  });
  numberInputs($("diagnostic-words"), [1, 2, 3, 4, 5, 6], {
    label: (n) => `word ${n}`, value: (n) => ((s.diagnostics || {})[`word${n}`] ?? ""),
    send: (n, value) => adjust(`word${n}`, value),
  });
  const inputs = $("digital-inputs");
  if (!inputs.children.length) {
    for (let bit = 0; bit < 4; ++bit) {
      const label = document.createElement("label");
      const box = Object.assign(document.createElement("input"), { type: "checkbox", id: `digital-input-${bit + 1}` });
      box.addEventListener("change", () => {
        const boxes = [...inputs.querySelectorAll("input")];
        const upper = (window.lastState.digitalInputs ?? 0) & 0xF0;
        adjust("inputs", boxes.reduce((byte, b, i) => byte | (b.checked ? 1 << i : 0), upper));
      });
      label.append(box, ` input ${bit + 1}`);
      inputs.append(label);
    }
  }
  [...inputs.querySelectorAll("input")].forEach((box, i) => { box.checked = ((s.digitalInputs ?? 0) >> i) & 1; });
  const battery = s.battery || {};
  $("battery-fitted").checked = battery.fitted !== false && s.battery !== undefined;
  if (document.activeElement !== $("battery-charge")) $("battery-charge").value = battery.charge ?? 0;
  $("battery-charge-value").textContent = battery.charge ?? "–";
  $("gps-input").checked = ((s.expander || {}).gpsInput ?? 0) !== 0;
}

function drawFaults(s) {
  $("fault-list").replaceChildren(...(s.faults || []).map((f) => {
    const li = document.createElement("li");
    const what = f.kind === "control" ? `${requestNames[f.code] || "request"} ${hex(f.code)}`
      : f.kind === "vendor" ? `vendor call ${f.ordinal}` : `reads on ${f.endpoint}`;
    const effect = f.fail === false && f.returned !== undefined ? `reports ${f.returned} bytes` : "fails";
    li.textContent = `${what} ${effect}, ${f.remaining < 0 ? "always" : `${f.remaining} more time(s)`}`;
    return li;
  }));
}

// The vendor library's I2C calls: the identity EEPROMs are read through them a byte at a time.
const i2cCalls = new Set([32, 33, 34, 69]);
// Which requests the log shows, by the choice above it.
const logFilters = {
  all: () => true,
  driver: (r) => r.kind === "control" || r.kind === "read",
  vendor: (r) => r.kind === "vendor",
  "no-i2c": (r) => !(r.kind === "vendor" && i2cCalls.has(r.code)),
  failed: (r) => !r.ok,
};

function requestName(r) {
  return r.kind === "control" ? `${requestNames[r.code] || "request"} ${hex(r.code)}`
    : r.kind === "vendor" ? `${vendorNames[r.code] || "vendor call"} #${r.code}`
    : r.kind === "service" ? `service control ${r.code}` : `read ${r.endpoint}`;
}

// A vendor call answers 1 (or another non-zero value) for success and 0 for failure; a service
// control answers status 0 when done.
function resultText(r) {
  const text = r.kind === "vendor" ? (r.ok ? `ok (${r.result})` : `failed (${r.result})`)
    : r.kind === "service" ? (r.ok ? "ok" : `refused (status ${r.status})`)
    : r.ok ? `ok, ${r.returned} bytes` : "failed";
  return text + (r.fault ? " (injected)" : "");
}

// The requests the filter lets through; a run of the same request with the same answer makes one
// line ("×N"), so that a few hundred EEPROM reads do not push everything else out of view.
function drawLog(s) {
  const log = $("request-log");
  const atBottom = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  const all = s.requests || [];
  const shown = all.filter(logFilters[$("log-filter").value] || logFilters.all);
  const runs = [];
  for (const r of shown) {
    const name = requestName(r);
    const result = resultText(r);
    const last = runs[runs.length - 1];
    if (last && last.name === name && last.result === result) {
      last.count += 1;
      last.lastSeq = r.seq;
    } else {
      runs.push({ name, result, ok: r.ok, firstSeq: r.seq, lastSeq: r.seq, count: 1 });
    }
  }
  log.replaceChildren(...runs.map((run) => {
    const li = document.createElement("li");
    li.dataset.ok = run.ok ? "true" : "false";
    const request = document.createElement("span");
    const answer = document.createElement("span");
    request.textContent = run.count > 1 ? `${run.firstSeq}–${run.lastSeq} ${run.name} ×${run.count}`
      : `${run.firstSeq} ${run.name}`;
    answer.textContent = run.result;
    li.append(request, answer);
    return li;
  }));
  $("log-count").textContent = `${shown.length} of ${all.length} requests`;
  if (atBottom) log.scrollTop = log.scrollHeight;
}

function draw(s) {
  window.lastState = s;
  clockSkew = Date.now() - s.nowMs;
  $("unit-name").textContent = s.name ? `– ${s.name}` : "";
  // At real speed the unit takes the hardware's time (profile "timing", docs/unit-profile.md).
  const timing = s.timing || {};
  const real = timing.mode === "real";
  $("unit-speed").hidden = !real;
  $("unit-speed").textContent = real ? `real speed: I2C at ${(timing.i2cClockHz || 100000) / 1000} kHz` : "";
  for (const part of [drawDisplay, drawLed, drawBuzzer, drawPower, drawIdentity, drawFirmware, drawComms,
    drawVideo, drawInputs, drawFaults, drawLog]) {
    try { part(s); } catch (e) { console.error(part.name, e); }
  }
  tickBuzzer();
}

// ---- live updates: the server pushes the state whenever the unit changed

function connect() {
  const events = new EventSource("/api/events");
  events.addEventListener("state", (e) => {
    $("connection").dataset.state = "live";
    $("connection").textContent = "live";
    draw(JSON.parse(e.data));
  });
  events.onerror = () => {
    $("connection").dataset.state = "connecting";
    $("connection").textContent = "reconnecting";
    // A refused stream (the unit serves a few pages at once) is not retried by the browser.
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 5000);
  };
}

for (const n of ["1", "2"]) {
  const img = $(`video-${n}`);
  img.addEventListener("load", () => { delete img.dataset.failed; drawVideo(window.lastState); });
  img.addEventListener("error", () => { img.dataset.failed = "true"; drawVideo(window.lastState); });
}

$("log-filter").addEventListener("change", () => drawLog(window.lastState));

window.lastState = {};
setInterval(tickBuzzer, 250);
connect();
