#include "cli/web/page.h"

#include <nlohmann/json.hpp>

#include "app/ui/templates.h"

namespace tovrik::cli::web {
namespace {

struct Texts {
    const char* lang;
    const char* frequency;  // none: the control application's readout caption
    const char* output;     // none: its output button, without the mnemonic
    const char* present;
    const char* away;
    const char* sweeping;
    const char* set;
    const char* stopAll;
    const char* readOnly;
    const char* on;
    const char* off;
    const char* none;
};

constexpr Texts kJapanese{
    "ja",     nullptr,      nullptr,
    "接続中", "未接続",     "掃引中",
    "設定",   "すべて停止", "読み取り専用: トークン付きのリンクを開くと操作できます",
    "ON",     "OFF",        "チャンネルがありません"};

// The control application's own words where it has them.
std::string Label(const char* text, int control) {
    return text != nullptr ? text : ui::PlainControlText(ui::MainDialogTemplate(), control);
}
constexpr Texts kEnglish{"en",
                         "Output frequency",
                         "Output",
                         "present",
                         "away",
                         "sweeping",
                         "Set",
                         "Stop all",
                         "Read-only: open the link with the token to control",
                         "ON",
                         "OFF",
                         "No channel"};

}  // namespace

std::string PageHtml(bool english) {
    const Texts& t = english ? kEnglish : kJapanese;
    // The script reads its texts from here: one script for both languages.
    const nlohmann::json texts = {{"frequency", Label(t.frequency, control::kReadoutCaption)},
                                  {"output", Label(t.output, control::kOutputButton)},
                                  {"present", t.present},
                                  {"away", t.away},
                                  {"sweeping", t.sweeping},
                                  {"set", t.set},
                                  {"on", t.on},
                                  {"off", t.off},
                                  {"none", t.none}};
    // "<" never occurs in the texts, so the JSON cannot end the script element early.
    return std::string("<!DOCTYPE html>\n<html lang=\"") + t.lang +
           "\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>TOVRIK</title>\n<link rel=\"stylesheet\" href=\"/panel.css\">\n"
           "<script type=\"application/json\" id=\"texts\">" +
           texts.dump() +
           "</script>\n<script src=\"/panel.js\" defer></script>\n</head>\n<body>\n"
           "<header><h1 id=\"model\">TOVRIK</h1><span id=\"identity\"></span>\n"
           "<button id=\"stop\" type=\"button\">" +
           t.stopAll + "</button></header>\n<p id=\"readonly\" hidden>" + t.readOnly +
           "</p>\n<p id=\"message\" role=\"status\"></p>\n<main id=\"channels\"></main>\n"
           "</body>\n</html>\n";
}

std::string_view PageScript() {
    return R"JS('use strict';
const T = JSON.parse(document.getElementById('texts').textContent);
const hash = new URLSearchParams(location.hash.slice(1));
if (hash.get('token')) sessionStorage.setItem('token', hash.get('token'));
const token = sessionStorage.getItem('token') || '';
const blocks = new Map();

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function say(text) { document.getElementById('message').textContent = text; }

async function send(method, path, body) {
  const res = await fetch(path, {
    method, headers: {'Authorization': 'Bearer ' + token, 'Content-Type': 'application/json'},
    body: body === undefined ? undefined : JSON.stringify(body)});
  if (res.ok) { say(''); return; }
  try {
    const e = (await res.json()).error;
    say(e.code + ', "' + e.text + '"');
  } catch (_) { say(res.status + ' ' + res.statusText); }
}

function block(n) {
  if (blocks.has(n)) return blocks.get(n);
  const b = {root: el('section', 'channel')};
  const head = el('div', 'head');
  head.append(el('span', 'number', 'CH' + n), b.serial = el('span', 'serial'),
              b.presence = el('span', 'presence'), b.sweep = el('span', 'sweep'));
  b.root.append(head, el('div', 'caption', T.frequency), b.readout = el('div', 'readout'));
  const form = el('form', 'frequency');
  b.field = el('input');
  Object.assign(b.field, {type: 'text', inputMode: 'decimal', autocomplete: 'off',
                          placeholder: '12.8 MHz', ariaLabel: T.frequency});
  b.set = el('button', '', T.set);
  form.append(b.field, b.set);
  form.addEventListener('submit', ev => {
    ev.preventDefault();
    if (b.field.value.trim()) send('PUT', '/api/channels/' + n, {frequency: b.field.value.trim()});
  });
  const label = el('label', 'output');
  b.output = el('input');
  b.output.type = 'checkbox';
  b.output.addEventListener('change', () => send('PUT', '/api/channels/' + n, {output: b.output.checked}));
  b.state = el('span', 'state');
  label.append(el('span', '', T.output), b.output, el('span', 'switch'), b.state);
  b.root.append(form, label);
  for (const c of [b.field, b.set, b.output]) c.disabled = !token;
  document.getElementById('channels').append(b.root);
  blocks.set(n, b);
  return b;
}

function show(view) {
  document.getElementById('model').textContent = view.model;
  document.getElementById('identity').textContent =
      view.manufacturer + ' \u00b7 ' + view.serial + ' \u00b7 ' + view.firmware;
  if (!view.channels.length) say(T.none);
  for (const c of view.channels) {
    const b = block(c.channel);
    b.serial.textContent = c.serial;
    b.presence.textContent = c.present ? T.present : T.away;
    b.root.classList.toggle('away', !c.present);
    b.sweep.textContent = c.sweeping ? T.sweeping : '';
    b.readout.textContent = c.readout;
    b.output.checked = c.output;
    b.state.textContent = c.output ? T.on : T.off;
    b.root.classList.toggle('on', c.output);
  }
}

document.getElementById('readonly').hidden = !!token;
const stop = document.getElementById('stop');
stop.disabled = !token;
stop.addEventListener('click', () => send('POST', '/api/stop'));
fetch('/api/instrument').then(r => r.json()).then(show);
const events = new EventSource('/api/events');
events.onmessage = ev => show(JSON.parse(ev.data));
)JS";
}

std::string_view PageStyle() {
    return R"CSS(* { box-sizing: border-box; }
body { margin: 0; font-family: "IPAGothic", "Noto Sans CJK JP", sans-serif; background: #eceff1; color: #1b1b1b; }
header { display: flex; flex-wrap: wrap; align-items: center; gap: .5em 1em; padding: .75em 1em; background: #263238; color: #fff; }
h1 { font-size: 1.2em; margin: 0; }
#identity { font-size: .85em; opacity: .8; flex: 1; }
button { font: inherit; padding: .45em 1em; border-radius: 4px; border: 1px solid #555; background: #fafafa; cursor: pointer; }
button:disabled, input:disabled { opacity: .5; cursor: default; }
#stop { background: #c62828; color: #fff; border-color: #8e0000; font-weight: bold; }
#readonly, #message { margin: .5em 1em; }
#readonly { color: #6d4c00; }
#message:empty { display: none; }
#message { color: #b71c1c; }
main { display: grid; grid-template-columns: repeat(auto-fill, minmax(min(100%, 20em), 1fr)); gap: 1em; padding: 1em; }
.channel { background: #fff; border-radius: 6px; padding: 1em; box-shadow: 0 1px 3px rgba(0,0,0,.2); border-left: 6px solid #90a4ae; }
.channel.on { border-left-color: #2e7d32; }
.channel.away { opacity: .6; }
.head { display: flex; gap: .75em; align-items: baseline; flex-wrap: wrap; }
.number { font-weight: bold; }
.serial { font-family: monospace; }
.presence, .sweep { font-size: .85em; color: #455a64; }
.sweep:empty { display: none; }
.sweep { color: #e65100; font-weight: bold; }
.caption { margin-top: .75em; font-size: .85em; color: #455a64; }
.readout { font-family: monospace; font-size: 1.6em; background: #102027; color: #7cfc00; padding: .2em .4em; border-radius: 4px; text-align: right; overflow-wrap: anywhere; }
form.frequency { display: flex; gap: .5em; margin-top: .75em; }
form.frequency input { flex: 1; min-width: 0; font: inherit; padding: .45em; border: 1px solid #90a4ae; border-radius: 4px; }
label.output { display: flex; align-items: center; gap: .75em; margin-top: .75em; }
label.output input { position: absolute; opacity: 0; width: 1px; height: 1px; }
.switch { width: 3em; height: 1.6em; border-radius: .8em; background: #b0bec5; position: relative; transition: background .15s; }
.switch::after { content: ""; position: absolute; top: .2em; left: .2em; width: 1.2em; height: 1.2em; border-radius: 50%; background: #fff; transition: left .15s; }
input:checked + .switch { background: #2e7d32; }
input:checked + .switch::after { left: 1.6em; }
input:focus-visible + .switch { outline: 2px solid #1565c0; }
.state { font-weight: bold; }
)CSS";
}

}  // namespace tovrik::cli::web
