'use strict';
// The 统计 tab: the figures of the last 30 or 90 days as SVG bar charts, each
// bar with its numbers on hover (its <title>), and their CSV. The figures
// come from the rating log alone; everything goes into the page as text.
(function () {
  const SVG = 'http://www.w3.org/2000/svg';
  const $ = (id) => document.getElementById(id);
  const CHARTS = [
    ['chart-given', [['automatic', '自动'], ['early', '提前'], ['answered', '回评']]],
    ['chart-received', [['good', '好评'], ['neutral', '中评'], ['bad', '差评']]],
    ['chart-requests', [['requests', '请求']]],
  ];
  const H = 220, LEFT = 40, RIGHT = 8, TOP = 10, BOTTOM = 26;

  function node(name, attrs, text) {
    const e = document.createElementNS(SVG, name);
    for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, String(v));
    if (text !== undefined) e.textContent = String(text);
    return e;
  }

  // "MM-DD" of a "YYYY-MM-DD" day.
  const short = (day) => String(day).slice(5, 10);

  // A whole-number scale of about five steps whose top is a step.
  function scale(highest) {
    const step = Math.max(1, Math.ceil(highest / 5));
    return { step, top: Math.max(1, Math.ceil(highest / step)) * step };
  }

  function draw(figure, sets, days) {
    for (const old of figure.querySelectorAll('svg, .legend')) old.remove();
    // Drawn at the width it is shown at, so that its text keeps its size on a phone.
    const W = Math.max(300, Math.round(figure.clientWidth || 900));
    const totals = days.map((d) => sets.reduce((n, [key]) => n + (Number(d[key]) || 0), 0));
    const { step, top } = scale(Math.max(0, ...totals));
    const plotH = H - TOP - BOTTOM;
    const slot = (W - LEFT - RIGHT) / Math.max(1, days.length);
    const y = (n) => TOP + plotH - (n / top) * plotH;
    const chart = node('svg', { viewBox: '0 0 ' + W + ' ' + H, role: 'img',
                                'aria-label': figure.querySelector('figcaption').textContent });
    for (let n = 0; n <= top; n += step) {
      chart.appendChild(node('line', { x1: LEFT, x2: W - RIGHT, y1: y(n), y2: y(n) }));
      chart.appendChild(node('text', { x: LEFT - 6, y: y(n) + 4, 'text-anchor': 'end' }, n));
    }
    const every = Math.ceil(days.length / Math.max(2, Math.min(10, Math.floor(W / 60))));
    days.forEach((d, i) => {
      const x = LEFT + i * slot;
      // The whole day's column answers the pointer, also on a day without ratings.
      const column = node('rect', { class: 'day', x, y: TOP, width: slot, height: plotH, 'data-day': d.day });
      column.appendChild(node('title', {}, short(d.day) + '：' +
        sets.map(([key, name]) => name + ' ' + (Number(d[key]) || 0)).join('，')));
      chart.appendChild(column);
      let base = 0;
      sets.forEach(([key, name], k) => {
        const n = Number(d[key]) || 0;
        if (n <= 0) return;
        const bar = node('rect', { class: 'bar c' + k, x: x + slot * 0.15, width: slot * 0.7, y: y(base + n),
                                   height: y(base) - y(base + n), 'data-day': d.day, 'data-set': name, 'data-count': n });
        bar.appendChild(node('title', {}, short(d.day) + ' ' + name + ' ' + n));
        chart.appendChild(bar);
        base += n;
      });
      if ((days.length - 1 - i) % every === 0) {
        // The last day's label ends at the edge rather than past it.
        const last = i === days.length - 1;
        chart.appendChild(node('text', { x: last ? W - RIGHT : x + slot / 2, y: H - 8,
                                         'text-anchor': last ? 'end' : 'middle' }, short(d.day)));
      }
    });
    figure.appendChild(chart);
    const legend = document.createElement('div');
    legend.className = 'legend';
    sets.forEach(([, name], k) => {
      const swatch = document.createElement('span');
      swatch.className = 'c' + k;
      legend.appendChild(swatch);
      legend.appendChild(document.createTextNode(name));
    });
    figure.appendChild(legend);
  }

  function sum(days, key) {
    return days.reduce((n, d) => n + (Number(d[key]) || 0), 0);
  }

  let asked = 0;
  async function load() {
    const range = $('stats-days').value === '90' ? '90' : '30';
    $('stats-csv').href = '/api/stats.csv?days=' + range;
    const ask = ++asked;
    let days;
    try {
      const res = await fetch('/api/stats?days=' + range, { credentials: 'same-origin' });
      if (!res.ok) throw new Error(String(res.status));
      days = await res.json();
    } catch (e) {
      $('stats-totals').textContent = '统计暂时无法读取，请稍后再试。';
      return;
    }
    // A later choice of range has its own answer.
    if (ask !== asked || !Array.isArray(days)) return;
    $('stats-pick').textContent = '';
    for (const [id, sets] of CHARTS) draw($(id), sets, days);
    const [a, e, r] = ['automatic', 'early', 'answered'].map((k) => sum(days, k));
    $('stats-totals').textContent = '共给出 ' + (a + e + r) + '（自动 ' + a + '，提前 ' + e + '，回评 ' + r + '）；收到好评 ' +
      sum(days, 'good') + '，中评 ' + sum(days, 'neutral') + '，差评 ' + sum(days, 'bad') + '；请求 ' +
      sum(days, 'requests') + ' 次';
  }

  document.addEventListener('DOMContentLoaded', () => {
    document.querySelector('#tabs button[data-tab="stats"]').addEventListener('click', load);
    $('stats-days').addEventListener('change', load);
    // A phone has no pointer to rest on a bar: a tap shows its numbers.
    $('tab-stats').addEventListener('click', (ev) => {
      const title = ev.target.closest && ev.target.closest('rect') && ev.target.closest('rect').querySelector('title');
      if (title) $('stats-pick').textContent = title.textContent;
    });
  });
})();
