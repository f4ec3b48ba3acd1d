#include "browser/webengine/bridge_script.h"

namespace qm {

// The page side of the bridge. It runs in the page's isolated script world
// (the page's own scripts cannot see or change it; the DOM is shared) and
// keeps the objects handed out to late-bound references in a registry, each
// under a number with a count of references. Each document gets its own
// generation mark, so a number from a page that has gone is never taken for
// an object of the page that replaced it.
//
// __qm.c(gen, id, name, kind, args) makes one member call (kind 0 method,
// 1 property read, 2 property write) and answers [code, value, isObject]:
// code 0 or one of the late-bound error codes, value a text, number, truth
// value or null, or an object's number when isObject is 1.
//
// Members that only the old browser's document model had are supplied here:
// document.all with tags and namedItem (a list when several match),
// document.frames, parentWindow and execScript, createStyleSheet with
// addRule, FireEvent, createTextRange with FindText, Text, pasteHTML and
// MoveStart, an element's "display". Names are matched without regard to
// case when the exact name is not there, as late-bound names are.
const char* BridgeScriptSource() {
  return R"JS((function () {
'use strict';
if (window.__qm) return;
const gen = Math.random().toString(36).slice(2) + Date.now().toString(36);
const objects = new Map();  // number -> [object, references]
const numbers = new Map();  // object -> number
let next = 1;
const E_EMPTY = -1, E_MEMBER = -3, E_EXCEPTION = -11, E_UNKNOWN = -12, E_OTHER = -18;
class Fail { constructor(code, text) { this.code = code; this.text = text; } }

function hold(o) {
  let n = numbers.get(o);
  if (n === undefined) { n = next++; numbers.set(o, n); objects.set(n, [o, 0]); }
  objects.get(n)[1]++;
  return n;
}
function release(list) {
  for (const n of list) {
    const e = objects.get(n);
    if (e && --e[1] <= 0) { objects.delete(n); numbers.delete(e[0]); }
  }
}
function answer(v) {
  if (v === undefined || v === null) return [0, null, 0];
  const t = typeof v;
  if (t === 'string' || t === 'boolean') return [0, v, 0];
  if (t === 'number') return [0, Number.isFinite(v) ? v : null, 0];
  if (t === 'bigint') return [0, Number(v), 0];
  if (t === 'symbol') return [0, String(v), 0];
  return [0, hold(v), 1];
}
function argument(a) {
  if (a !== null && typeof a === 'object' && '$h' in a) {
    const e = objects.get(a.$h);
    if (!e) throw new Fail(E_EMPTY, 'the object has gone');
    return e[0];
  }
  return a;
}
function truth(v) {
  if (typeof v === 'string') {
    const t = v.trim().toLowerCase();
    if (t === '' || t === 'false') return false;
    if (t === 'true') return true;
    const n = Number(t);
    return Number.isNaN(n) ? true : n !== 0;
  }
  return Boolean(v);
}
function isWindow(o) { try { return o.window === o; } catch (e) { return false; } }

// IE's collections: document.all and what its tags() gives.
class Coll { constructor(list, doc) { this.list = list; this.doc = doc; } }
class Named { constructor(items) { this.items = items; } }
class Frames { constructor(doc) { this.doc = doc; } }
class Sheet { constructor(sheet) { this.sheet = sheet; } }
class TextRange {
  constructor(root) {
    this.root = root;
    this.range = root.ownerDocument.createRange();
    this.range.selectNodeContents(root);
  }
}
function named(list, name, index) {
  const found = [];
  for (const el of list) {
    if (el.id === name || (el.getAttribute && el.getAttribute('name') === name)) found.push(el);
  }
  if (typeof index === 'number') return found[index] || null;
  if (found.length === 0) return null;
  return found.length === 1 ? found[0] : new Named(found);
}
function textNodes(root) {
  const doc = root.ownerDocument;
  const walker = doc.createTreeWalker(root, NodeFilter.SHOW_TEXT, {
    acceptNode(n) {
      const p = n.parentNode && n.parentNode.nodeName;
      return (p === 'SCRIPT' || p === 'STYLE' || p === 'NOSCRIPT' || p === 'TEXTAREA') ? NodeFilter.FILTER_REJECT
                                                                                       : NodeFilter.FILTER_ACCEPT;
    }
  });
  const out = [];
  for (let n = walker.nextNode(); n; n = walker.nextNode()) out.push(n);
  return out;
}
// The first text position at or after the range's start.
function startText(tr) {
  const r = tr.range;
  if (r.startContainer.nodeType === 3) return [r.startContainer, r.startOffset];
  for (const n of textNodes(tr.root)) if (r.comparePoint(n, 0) >= 0) return [n, 0];
  return [null, 0];
}
const PRELUDE = '(function(){if(document.createStyleSheet)return;document.createStyleSheet=function(){' +
  'var s=document.createElement("style");(document.head||document.documentElement).appendChild(s);var h=s.sheet;' +
  'return{addRule:function(a,b){h.insertRule(a+"{"+b+"}",h.cssRules.length);return -1;}};};})();';
function runInPage(win, code, language) {
  if (/^\s*vbscript\s*$/i.test(language || '')) throw new Fail(E_OTHER, 'VBScript does not run in this browser');
  const doc = win.document;
  const s = doc.createElement('script');
  s.textContent = PRELUDE + '\n' + code + '\n;document.currentScript.setAttribute("data-qm-ran","");';
  (doc.head || doc.documentElement || doc).appendChild(s);
  const ran = s.hasAttribute('data-qm-ran');
  s.remove();
  if (!ran) throw new Fail(E_EXCEPTION, 'the script did not run to its end');
  return null;
}

const collMembers = {
  length: (c) => c.list.length,
  item: (c, k, a) => typeof a[0] === 'number' ? (c.list[a[0]] || null)
                                              : named(c.list, String(a[0]), typeof a[1] === 'number' ? a[1] : undefined),
  nameditem: (c, k, a) => named(c.list, String(a[0])),
  tags: (c, k, a) => new Coll(c.doc ? c.doc.getElementsByTagName(String(a[0]))
                                    : Array.prototype.filter.call(c.list, (e) => e.nodeName.toLowerCase() === String(a[0]).toLowerCase()),
                              c.doc),
};
const namedMembers = {
  length: (c) => c.items.length,
  item: (c, k, a) => c.items[Number(a[0])] || null,
};
const framesMembers = {
  length: (f) => f.doc.defaultView ? f.doc.defaultView.frames.length : 0,
  item: (f, k, a) => f.doc.defaultView ? (f.doc.defaultView.frames[Number(a[0])] || null) : null,
};
const sheetMembers = {
  addrule: (s, k, a) => { s.sheet.insertRule(String(a[0]) + '{' + String(a[1]) + '}', s.sheet.cssRules.length); return -1; },
};
const rangeMembers = {
  findtext: (tr, k, a) => {
    const wanted = String(a[0] === undefined ? '' : a[0]).toLowerCase();
    if (!wanted) return false;
    const r = tr.range;
    for (const n of textNodes(tr.root)) {
      if (n !== r.startContainer && r.comparePoint(n, n.length) < 0) continue;
      const from = n === r.startContainer ? r.startOffset : 0;
      const at = n.data.toLowerCase().indexOf(wanted, from);
      if (at >= 0) { r.setStart(n, at); r.setEnd(n, at + wanted.length); return true; }
    }
    return false;
  },
  text: (tr, k, a) => k === 2 ? (tr.range.deleteContents(), tr.range.insertNode(tr.root.ownerDocument.createTextNode(String(a[a.length - 1]))), null)
                              : tr.range.toString(),
  pastehtml: (tr, k, a) => {
    const r = tr.range;
    const fragment = r.createContextualFragment(String(a[0]));
    const last = fragment.lastChild;
    r.deleteContents();
    r.insertNode(fragment);
    if (last) { r.setStartAfter(last); r.collapse(true); }
    return null;
  },
  movestart: (tr, k, a) => {
    let count = a.length > 1 ? Number(a[1]) : 1;
    let [node, offset] = startText(tr);
    if (!node || !(count > 0)) return 0;
    const nodes = textNodes(tr.root);
    let i = nodes.indexOf(node), moved = 0;
    while (count > 0 && node) {
      const room = node.length - offset;
      if (count <= room) { offset += count; moved += count; count = 0; break; }
      count -= room; moved += room;
      node = nodes[++i]; offset = 0;
    }
    if (node) tr.range.setStart(node, offset); else tr.range.collapse(false);
    return moved;
  },
};
const windowMembers = {
  execscript: (w, k, a) => runInPage(w, String(a[0] === undefined ? '' : a[0]), a[1]),
};
const documentMembers = {
  all: (d) => new Coll(d.getElementsByTagName('*'), d),
  parentwindow: (d) => d.defaultView,
  frames: (d) => new Frames(d),
  createstylesheet: (d) => {
    const s = d.createElement('style');
    (d.head || d.documentElement).appendChild(s);
    return new Sheet(s.sheet);
  },
  location: (d, k, a) => { if (k === 2) { d.location.href = String(a[a.length - 1]); return null; } return String(d.location.href); },
};
const elementMembers = {
  fireevent: (el, k, a) => {
    const type = String(a[0] === undefined ? '' : a[0]).replace(/^on/i, '');
    const init = { bubbles: true, cancelable: true };
    const ev = /click|mouse/i.test(type) ? new MouseEvent(type, init) : new Event(type, init);
    return el.dispatchEvent(ev);
  },
  display: (el, k, a) => { if (k === 2) { el.style.display = String(a[a.length - 1]); return null; } return el.style.display; },
  createtextrange: (el) => new TextRange(el),
};
function shimOf(o) {
  if (o instanceof Coll) return [collMembers, true];
  if (o instanceof Named) return [namedMembers, true];
  if (o instanceof Frames) return [framesMembers, true];
  if (o instanceof Sheet) return [sheetMembers, true];
  if (o instanceof TextRange) return [rangeMembers, true];
  if (isWindow(o)) return [windowMembers, false];
  const type = o.nodeType;
  if (type === 9) return [documentMembers, false];
  if (type === 1) return [elementMembers, false];
  return null;
}

const nameCache = new Map();  // prototype -> Map(lower-case name -> name)
function namesOf(p) {
  let m = nameCache.get(p);
  if (!m) {
    m = new Map();
    for (const n of Object.getOwnPropertyNames(p)) { const l = n.toLowerCase(); if (!m.has(l)) m.set(l, n); }
    nameCache.set(p, m);
  }
  return m;
}
function resolve(o, name) {
  if (name in o) return name;
  const lower = name.toLowerCase();
  for (const n of Object.getOwnPropertyNames(o)) if (n.toLowerCase() === lower) return n;
  for (let p = Object.getPrototypeOf(o); p; p = Object.getPrototypeOf(p)) {
    const n = namesOf(p).get(lower);
    if (n !== undefined) return n;
  }
  return undefined;
}
function invoke(o, name, kind, args) {
  const shim = shimOf(o);
  if (shim) {
    const member = shim[0][name.toLowerCase()];
    if (member) return member(o, kind, args);
    if (shim[1]) throw new Fail(E_UNKNOWN, name);
  }
  const key = resolve(o, name);
  if (kind === 2) {
    const value = args[args.length - 1];
    const k = key === undefined ? name : key;
    o[k] = (key !== undefined && typeof o[k] === 'boolean') ? truth(value) : value;
    return null;
  }
  if (key === undefined) throw new Fail(E_UNKNOWN, name);
  const v = o[key];
  if (typeof v === 'function' && (kind === 0 || args.length > 0)) return v.apply(o, args);
  if (args.length > 0 && v !== null && v !== undefined) return v[args[0]];
  return v;
}

window.__qm = {
  c(g, n, name, kind, args) {
    if (g !== gen) return [E_EMPTY, 'the page has gone', 0];
    const e = objects.get(n);
    if (!e) return [E_EMPTY, 'the object has gone', 0];
    try {
      return answer(invoke(e[0], name, kind, args.map(argument)));
    } catch (x) {
      if (x instanceof Fail) return [x.code, x.text, 0];
      return [E_EXCEPTION, String(x && x.message || x), 0];
    }
  },
  root() { return [0, hold(document), 1, gen]; },
  r(g, list) { if (g === gen) release(list); return 0; },
};
})();)JS";
}

}  // namespace qm
