'use strict';
// The page of a running quillmere-headless. Everything from the platform or
// a buyer goes into the page as text (textContent), never as markup.
(function () {
  const $ = (id) => document.getElementById(id);
  let csrf = '';
  let tag = '';
  let state = null;
  let timer = 0;
  let busy = false;
  const dismissed = new Set(JSON.parse(sessionStorage.getItem('dismissed') || '[]'));

  function el(name, text, cls) {
    const e = document.createElement(name);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }

  function cell(row, text, label) {
    const td = el('td', text);
    td.dataset.label = label;
    row.appendChild(td);
    return td;
  }

  function button(text, cls, onClick) {
    const b = el('button', text, cls);
    b.type = 'button';
    b.addEventListener('click', onClick);
    return b;
  }

  function showLogin(message) {
    $('desk').hidden = true;
    $('logout').hidden = true;
    $('login').hidden = false;
    $('login-message').textContent = message || '';
    $('login-password').focus();
  }

  async function post(path, body) {
    const res = await fetch(path, {
      method: 'POST',
      credentials: 'same-origin',
      headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': csrf },
      body: JSON.stringify(body || {}),
    });
    if (res.status === 401) {
      showLogin('登录已过期，请重新登录。');
      return { ok: false, message: '请先登录。' };
    }
    try {
      return await res.json();
    } catch (e) {
      return { ok: false, message: '程序没有回应（' + res.status + '）。' };
    }
  }

  // The page's own question before an action; resolves to true for 确定.
  let answerDialog = null;
  function ask(title, text) {
    return new Promise((resolve) => {
      $('dialog-title').textContent = title;
      $('dialog-text').textContent = text;
      $('dialog').hidden = false;
      $('dialog').dataset.question = '';
      answerDialog = (ok) => {
        $('dialog').hidden = true;
        answerDialog = null;
        resolve(ok);
      };
      $('dialog-ok').focus();
    });
  }

  function say(text, kind) {
    if (!text) return;
    const note = el('div', null, 'note ' + (kind || 'info'));
    note.appendChild(el('span', text));
    note.appendChild(button('×', 'close', () => note.remove()));
    $('notes').prepend(note);
  }

  async function act(action, args, question) {
    if (question && !(await ask(question[0], question[1]))) return;
    const reply = await post('/api/act/' + action, args);
    if (!reply.ok) say(reply.message, 'warn');
    else if (reply.message) say(reply.message, 'info');
    refresh(true);
  }

  // A list is drawn again only when it changed, so that what the seller
  // points at stays put between looks.
  const drawn = {};
  function changed(name, value) {
    const text = JSON.stringify(value);
    if (drawn[name] === text) return false;
    drawn[name] = text;
    return true;
  }

  function renderUnrated(rows) {
    if (!changed('unrated', rows)) return;
    const body = $('unrated').tBodies[0];
    body.replaceChildren();
    for (const [tid, buyer, end, left, kept] of rows) {
      const tr = el('tr');
      tr.dataset.tid = tid;
      if (kept) tr.className = 'kept';
      cell(tr, tid, '订单编号');
      cell(tr, buyer, '买家旺旺');
      cell(tr, end, '确认时间');
      cell(tr, left, '到期');
      const ops = cell(tr, null, '操作');
      ops.className = 'ops';
      ops.appendChild(button('提前评价', 'rate', () => act('rate', { tid })));
      if (kept) {
        ops.appendChild(button('恢复自动评价', 'release quiet', () =>
          act('release', { tid }, ['恢复自动评价', '订单‘' + tid + '’以后到期时自动评价，确定吗？'])));
        ops.appendChild(button('恢复该买家', 'release-buyer quiet', () =>
          act('release-buyer', { tid }, ['恢复自动评价该买家', '买家‘' + buyer + '’的订单以后到期时自动评价，确定吗？'])));
      } else {
        ops.appendChild(button('不自动评价', 'keep quiet', () =>
          act('keep', { tid }, ['不自动评价', '订单‘' + tid + '’以后不自动评价，确定吗？'])));
        ops.appendChild(button('不自动评价该买家', 'keep-buyer quiet', () =>
          act('keep-buyer', { tid }, ['不自动评价该买家', '买家‘' + buyer + '’的订单以后都不自动评价，确定吗？'])));
      }
      body.appendChild(tr);
    }
    $('unrated-empty').hidden = rows.length > 0;
  }

  function renderRated(rows) {
    if (!changed('rated', rows)) return;
    const body = $('rated').tBodies[0];
    body.replaceChildren();
    for (const [tid, buyer, fg, bg] of rows) {
      const tr = el('tr');
      tr.dataset.tid = tid;
      if (fg) {
        tr.style.color = fg;
        tr.style.backgroundColor = bg;
        tr.classList.add('alerted');
      }
      cell(tr, tid, '订单编号');
      cell(tr, buyer, '买家旺旺');
      const ops = cell(tr, null, '操作');
      ops.className = 'ops';
      ops.appendChild(button('回评', 'answer', () => act('answer', { tid })));
      body.appendChild(tr);
    }
    $('rated-empty').hidden = rows.length > 0;
  }

  function renderAlerts(alerts) {
    if (!changed('alerts', alerts)) return;
    const box = $('alerts');
    box.replaceChildren();
    for (const a of alerts) {
      const card = el('div', null, 'alert');
      card.dataset.tid = a.tid;
      if (a.fg) {
        card.style.color = a.fg;
        card.style.backgroundColor = a.bg;
      }
      card.appendChild(el('strong', '买家‘' + a.buyer + '’给订单‘' + a.tid + '’' + a.result));
      card.appendChild(el('span', a.time, 'time'));
      card.appendChild(el('p', a.comment || '（买家没有写评语）', 'comment'));
      card.appendChild(button('看过了', 'seen quiet', () => act('seen', { tids: [a.tid] })));
      box.appendChild(card);
    }
    $('alerts-empty').hidden = alerts.length > 0;
    $('alerts-seen').hidden = alerts.length < 2;
  }

  function renderNotes(notes) {
    for (const n of notes) {
      if (dismissed.has(n.id) || document.querySelector('[data-note="' + n.id + '"]')) continue;
      const note = el('div', null, 'note ' + n.kind);
      note.dataset.note = n.id;
      if (n.kind === 'notice') {
        note.style.color = n.fg;
        note.style.backgroundColor = n.bg;
      }
      if (n.title) note.appendChild(el('strong', n.title.trim()));
      note.appendChild(el('span', n.text));
      note.appendChild(button('×', 'close', () => {
        dismissed.add(n.id);
        sessionStorage.setItem('dismissed', JSON.stringify([...dismissed].slice(-100)));
        note.remove();
      }));
      $('notes').prepend(note);
    }
  }

  // The form follows the saved settings while the seller is not editing it;
  // what they are typing is never replaced.
  function renderSettings(s) {
    const form = $('settings-form');
    if (form.dataset.edited === '1' || !changed('settings', s)) return;
    $('first-comment').value = s.comments[0] || '';
    $('more-comments').value = s.comments.slice(1).join('\n');
    $('comment-use').value = String(s.commentUse);
    $('rating-hours').value = String(Math.round(s.ratingHours * 10) / 10);
    $('reload-minutes').value = String(s.reloadMinutes);
    $('bad-alerts').checked = s.badRatingAlerts;
    $('answer-style').value = s.answerBadFirst ? '1' : '0';
  }

  function renderKept(kept) {
    if (!changed('kept', kept)) return;
    const list = $('kept');
    list.replaceChildren();
    const entries = kept.orders.map((n) => [n, false]).concat(kept.buyers.map((n) => [n, true]));
    for (const [name, buyer] of entries) {
      const li = el('li');
      li.appendChild(el('span', (buyer ? '买家  ' : '订单  ') + name));
      li.appendChild(button('解除', 'quiet', () =>
        act('release-kept', { name, buyer }, ['解除', '“' + name + '”以后可以自动评价，确定吗？'])));
      list.appendChild(li);
    }
    $('kept-empty').hidden = entries.length > 0;
  }

  // Where the alerts go: read when 更多设置 opens and after a save, never
  // while the seller edits. The secrets never come to the page: only
  // whether one is stored.
  const ALERT_FIELDS = [['dingTalkUrl', 'alert-dingtalk'], ['weComUrl', 'alert-wecom'], ['webhookUrl', 'alert-webhook'],
    ['mailServer', 'alert-mail-server'], ['mailUser', 'alert-mail-user'], ['mailFrom', 'alert-mail-from'],
    ['mailTo', 'alert-mail-to']];
  const SECRETS = [['DingTalkSecret', 'alert-dingtalk-secret'], ['MailPassword', 'alert-mail-password']];
  const cleared = {};

  function showSecret(key, id, stored, placeholder) {
    $(id).value = '';
    $(id).placeholder = placeholder || (stored ? '已设置（不显示）；留空则不变' : '未设置');
    $(id + '-clear').disabled = !stored;
    cleared[key] = !stored && !!placeholder;
  }

  async function loadAlertSettings() {
    const form = $('alerts-form');
    if (form.dataset.edited === '1') return;
    const res = await fetch('/api/alert-settings', { credentials: 'same-origin' });
    if (!res.ok || form.dataset.edited === '1') return;
    const s = await res.json();
    for (const [key, id] of ALERT_FIELDS) $(id).value = s[key] || '';
    showSecret('DingTalkSecret', 'alert-dingtalk-secret', s.dingTalkSecretSet);
    showSecret('MailPassword', 'alert-mail-password', s.mailPasswordSet);
    $('alert-summary').value = String(s.summaryHour);
  }

  function alertsEntered() {
    const s = { summaryHour: Number($('alert-summary').value) };
    for (const [key, id] of ALERT_FIELDS) s[key] = $(id).value.trim();
    for (const [key, id] of SECRETS) {
      s[key[0].toLowerCase() + key.slice(1)] = $(id).value;
      s['clear' + key] = !!cleared[key];
    }
    return s;
  }

  function alertsResult(text, ok) {
    $('alerts-result').textContent = text || '';
    $('alerts-result').classList.toggle('warn', !ok);
  }

  function setUpAlerts() {
    const form = $('alerts-form');
    for (let hour = 0; hour < 24; hour++) {
      const option = el('option', '每天 ' + hour + ':00（北京时间）');
      option.value = String(hour);
      $('alert-summary').appendChild(option);
    }
    form.addEventListener('input', () => { form.dataset.edited = '1'; });
    for (const [key, id] of SECRETS) {
      $(id + '-clear').addEventListener('click', () => {
        showSecret(key, id, false, '保存后清除');
        form.dataset.edited = '1';
      });
    }
    form.addEventListener('submit', async (ev) => {
      ev.preventDefault();
      const reply = await post('/api/act/alert-settings', alertsEntered());
      alertsResult(reply.message, reply.ok);
      if (reply.ok) {
        form.dataset.edited = '0';
        loadAlertSettings();
      }
    });
    $('alerts-test').addEventListener('click', async () => {
      $('alerts-test').disabled = true;
      alertsResult('正在发送测试提醒…', true);
      try {
        const reply = await post('/api/act/alert-test', alertsEntered());
        alertsResult(reply.message, reply.ok);
      } finally {
        $('alerts-test').disabled = false;
      }
    });
  }

  function render(s) {
    $('seller').textContent = '卖家：' + s.seller;
    $('status').textContent = s.status;
    $('count-unrated').textContent = s.unrated.length;
    $('count-rated').textContent = s.buyerRated.length;
    $('count-alerts').textContent = s.alerts.length;
    $('count-alerts').classList.toggle('hot', s.alerts.length > 0);
    renderUnrated(s.unrated);
    renderRated(s.buyerRated);
    renderAlerts(s.alerts);
    renderNotes(s.notes);
    renderSettings(s.settings);
    renderKept(s.kept);
    // The run's own question (an action's, asked as the desktop asks).
    const q = s.question;
    const dialog = $('dialog');
    if (q && dialog.dataset.question !== String(q.id) && !answerDialog) {
      $('dialog-title').textContent = q.title.trim();
      $('dialog-text').textContent = q.text;
      dialog.dataset.question = String(q.id);
      dialog.hidden = false;
    } else if (!q && dialog.dataset.question) {
      dialog.dataset.question = '';
      dialog.hidden = true;
    }
  }

  async function refresh(now) {
    clearTimeout(timer);
    if (busy && !now) return schedule();
    busy = true;
    try {
      const res = await fetch('/api/state', { credentials: 'same-origin', headers: tag ? { 'If-None-Match': tag } : {} });
      if (res.status === 401) {
        showLogin('');
        return;
      }
      if (res.status === 200) {
        const body = await res.json();
        csrf = body.csrf;
        tag = res.headers.get('ETag') || '';
        state = body.state;
        $('login').hidden = true;
        $('desk').hidden = false;
        $('logout').hidden = false;
        render(state);
      }
    } catch (e) {
      $('status').textContent = '连不上程序，稍后自动重试。';
    } finally {
      busy = false;
      schedule();
    }
  }

  function schedule() {
    clearTimeout(timer);
    if (!$('login').hidden) return;
    timer = setTimeout(refresh, document.hidden ? 15000 : 2000);
  }

  async function loadLog() {
    const filter = $('log-filter').value.trim();
    $('log-csv').href = '/api/log.csv?filter=' + encodeURIComponent(filter);
    const res = await fetch('/api/log?limit=500&filter=' + encodeURIComponent(filter), { credentials: 'same-origin' });
    if (!res.ok) return;
    const entries = await res.json();
    const body = $('log').tBodies[0];
    body.replaceChildren();
    const labels = ['时间', '订单编号', '买家旺旺', '评价', '评语', '方式', '结果'];
    for (const e of entries) {
      const tr = el('tr');
      e.forEach((text, i) => cell(tr, text, labels[i]));
      body.appendChild(tr);
    }
    $('log-empty').hidden = entries.length > 0;
  }

  function showTab(name) {
    for (const b of document.querySelectorAll('#tabs button')) b.classList.toggle('on', b.dataset.tab === name);
    for (const t of document.querySelectorAll('.tab')) t.hidden = t.id !== 'tab-' + name;
    if (name === 'log') loadLog();
    if (name === 'settings') loadAlertSettings();
  }

  document.addEventListener('DOMContentLoaded', () => {
    $('login-form').addEventListener('submit', async (ev) => {
      ev.preventDefault();
      $('login-button').disabled = true;
      $('login-message').textContent = '正在登录…';
      try {
        const res = await fetch('/api/login', {
          method: 'POST',
          credentials: 'same-origin',
          headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
          body: 'password=' + encodeURIComponent($('login-password').value),
        });
        const reply = await res.json().catch(() => ({ message: '登录失败（' + res.status + '）。' }));
        $('login-password').value = '';
        if (res.ok) {
          $('login-message').textContent = '';
          $('login').hidden = true;
          tag = '';
          refresh(true);
        } else {
          $('login-message').textContent = reply.message;
        }
      } finally {
        $('login-button').disabled = false;
      }
    });
    $('logout').addEventListener('click', async () => {
      await post('/api/logout');
      csrf = '';
      tag = '';
      showLogin('已退出登录。');
    });
    for (const b of document.querySelectorAll('#tabs button')) b.addEventListener('click', () => showTab(b.dataset.tab));
    $('dialog-ok').addEventListener('click', () => answer(true));
    $('dialog-cancel').addEventListener('click', () => answer(false));
    document.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape' && !$('dialog').hidden) answer(false);
    });
    $('alerts-seen').addEventListener('click', () =>
      act('seen', { tids: state.alerts.map((a) => a.tid) }, ['中差评提醒', '全部标为已看过吗？']));
    $('log-form').addEventListener('submit', (ev) => {
      ev.preventDefault();
      loadLog();
    });
    $('log-filter').addEventListener('input', () => {
      $('log-csv').href = '/api/log.csv?filter=' + encodeURIComponent($('log-filter').value.trim());
    });
    setUpAlerts();
    const form = $('settings-form');
    form.addEventListener('input', () => { form.dataset.edited = '1'; });
    form.addEventListener('submit', async (ev) => {
      ev.preventDefault();
      const more = $('more-comments').value.split('\n').map((l) => l.trim()).filter((l) => l);
      const reply = await post('/api/act/settings', {
        comments: [$('first-comment').value.trim()].concat(more),
        commentUse: Number($('comment-use').value),
        ratingHours: Number($('rating-hours').value),
        reloadMinutes: Number($('reload-minutes').value),
        badRatingAlerts: $('bad-alerts').checked,
        answerBadFirst: $('answer-style').value === '1',
      });
      say(reply.message, reply.ok ? 'info' : 'warn');
      if (reply.ok) {
        form.dataset.edited = '0';
        delete drawn.settings;
      }
      tag = '';
      refresh(true);
    });
    document.addEventListener('visibilitychange', () => { if (!document.hidden) refresh(true); });
    refresh(true);
  });

  // 确定 / 取消 of the open dialog: the page's own question, or the run's.
  async function answer(ok) {
    const dialog = $('dialog');
    if (answerDialog) return answerDialog(ok);
    const id = Number(dialog.dataset.question);
    dialog.hidden = true;
    if (!id) return;
    const reply = await post('/api/act/question', { id, ok });
    if (!reply.ok) say(reply.message, 'warn');
    refresh(true);
  }

})();
