// devcloud's console: polls the operator API and draws devices, connection
// requests, the request log and the faults. Everything a device sent is put
// on the page as text, never as markup.
'use strict';

(function () {
  const pollMs = 1500;
  const logShown = 200;  // newest entries drawn; the log itself may hold thousands
  const tokenKey = 'devcloud-operator-token';

  const shownPasswords = new Set();  // device ids whose password is shown
  const openEntries = new Set();     // log entries opened to their head and body
  let devices = [];
  let requestList = [];
  let logEntries = [];               // the newest log entries, oldest first, at most logShown
  let logFilter = null;              // the device filter logEntries were read with
  let offlineSince = null;           // when devcloud stopped answering
  let drawn = {};                    // last drawn JSON text per part, to skip redraws
  let timer = null;
  let polling = false;
  let again = false;                 // an action asked for a poll while one ran

  const $ = (id) => document.getElementById(id);

  function el(tag, attributes, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) {
      if (name === 'onclick') node.addEventListener('click', value);
      else node.setAttribute(name, value);
    }
    for (const child of children) {
      if (child === null || child === undefined) continue;
      node.append(child instanceof Node ? child : String(child));
    }
    return node;
  }

  // The token comes with the address devcloud printed ("/?token=..."); it is
  // kept for this tab and taken out of the address bar and the history.
  const given = new URLSearchParams(location.search).get('token');
  if (given) {
    sessionStorage.setItem(tokenKey, given);
    history.replaceState(null, '', location.pathname + location.hash);
  }

  // One call of the API with the token; a change always says it is JSON.
  // The reply's JSON, and its headers with `withHeaders`.
  async function api(method, path, body, withHeaders) {
    const headers = {};
    const token = sessionStorage.getItem(tokenKey);
    if (token) headers.Authorization = 'Bearer ' + token;
    const options = { method, headers, cache: 'no-store' };
    if (method !== 'GET') headers['Content-Type'] = 'application/json';
    if (body !== undefined) options.body = JSON.stringify(body);
    let response;
    try {
      response = await fetch(path, options);
    } catch (e) {
      const error = new Error('devcloud does not answer');
      error.status = 0;
      throw error;
    }
    const text = await response.text();
    let data = null;
    try { data = text ? JSON.parse(text) : null; } catch (e) { data = null; }
    if (!response.ok) {
      const error = new Error((data && data.message) || 'HTTP ' + response.status);
      error.status = response.status;
      throw error;
    }
    return withHeaders ? { data, headers: response.headers } : data;
  }

  // "2026-12-08T14:50:01.123Z" as "2026-12-08 14:50:01"; absent or empty as "—".
  function when(iso) {
    if (typeof iso !== 'string' || iso === '') return '—';
    return iso.replace('T', ' ').replace(/\.\d+Z$|Z$/, '');
  }

  function ago(iso) {
    const ms = Date.parse(iso);
    if (!iso || Number.isNaN(ms)) return '';
    const seconds = Math.max(0, Math.round((Date.now() - ms) / 1000));
    return seconds < 120 ? ' (' + seconds + ' s ago)' : '';
  }

  function badge(text, kind) {
    return el('span', { class: 'badge ' + (kind || text) }, text);
  }

  function decodeBase64(text) {
    if (typeof text !== 'string') return null;
    try {
      const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
      return new TextDecoder('utf-8').decode(bytes);
    } catch (e) {
      return null;
    }
  }

  function setState(kind, text) {
    const state = $('state');
    state.className = 'state ' + kind;
    state.textContent = text;
  }

  // Skips a redraw when the part's data did not change.
  function changed(part, data) {
    const text = JSON.stringify(data);
    if (drawn[part] === text) return false;
    drawn[part] = text;
    return true;
  }

  // ---- devices

  function vpnUp(id) {
    return requestList.some((r) => r.deviceId === id && r.status === 'vpn-created');
  }

  function drawDevices(list) {
    devices = list;
    const rows = $('device-rows');
    rows.replaceChildren(...list.map((d) => {
      const shown = shownPasswords.has(d.id);
      const toggle = el('button', {
        type: 'button', class: 'reveal', onclick: () => {
          if (shown) shownPasswords.delete(d.id); else shownPasswords.add(d.id);
          drawDevices(devices);
        },
      }, shown ? 'Hide' : 'Show');
      return el('tr', { id: 'device-' + d.id },
        el('td', {}, d.id),
        el('td', {}, d.online ? badge('online') : badge('offline')),
        el('td', {}, when(d.enrolledAt)),
        el('td', { class: 'last-seen' }, when(d.lastSeen) + ago(d.lastSeen)),
        el('td', {}, when(d.lastLogin)),
        el('td', { class: 'polls' }, d.polling ? badge('polling') : badge('not polling', 'idle'),
          ' ', when(d.lastPoll)),
        el('td', { class: 'vpn' }, vpnUp(d.id) ? badge('VPN up', 'vpn-created') : '—'),
        el('td', {}, d.typeCode + ' ' + d.version),
        el('td', { class: 'wrap' }, el('span', { class: 'password' }, shown ? d.password : '••••••'), ' ', toggle),
        el('td', {}, el('button', {
          type: 'button', class: 'delete', onclick: () => {
            if (!confirm('Delete device ' + d.id + '? Its requests end and it can no longer sign in.')) return;
            act($('device-message'), api('DELETE', 'devices/' + d.id));
          },
        }, 'Delete')));
    }));
    $('no-devices').hidden = list.length > 0;
    fillDeviceChoices($('request-device'), list, false);
    fillDeviceChoices($('log-device'), list, true);
  }

  function fillDeviceChoices(select, list, withAll) {
    const ids = list.map((d) => String(d.id));
    if (!changed('choices-' + select.id, ids)) return;
    let keep = select.value;
    const options = ids.map((id) => el('option', { value: id }, 'device ' + id));
    if (withAll) options.unshift(el('option', { value: '' }, 'all'));
    select.replaceChildren(...options);
    if (!withAll && !ids.includes(keep)) keep = ids.length ? ids[ids.length - 1] : '';
    select.value = keep;
  }

  // ---- connection requests

  function parameters(text) {
    try {
      const data = JSON.parse(text);
      if (data && typeof data === 'object') {
        return ['url', 'username', 'domain'].filter((n) => typeof data[n] === 'string')
          .map((n) => n + ' ' + data[n]).join(' · ');
      }
    } catch (e) { /* not JSON: shown as it is */ }
    return text;
  }

  function answerTable(answer) {
    const rows = [el('tr', {}, el('th', {}, 'Server address'),
      el('td', { class: 'server-ip', colspan: '2' }, answer.serverIp || '—'))];
    const interfaces = answer.networkInterfaces && typeof answer.networkInterfaces === 'object'
      ? answer.networkInterfaces : {};
    const names = Object.keys(interfaces);
    if (names.length) {
      rows.push(el('tr', {}, el('th', {}, 'Interface'), el('th', {}, 'Address'), el('th', {}, 'Mask')));
    }
    for (const name of names) {
      const addresses = Array.isArray(interfaces[name]) ? interfaces[name] : [];
      addresses.forEach((a, i) => rows.push(el('tr', { class: 'interface' },
        el('td', { class: 'interface-name' }, i === 0 ? name : ''),
        el('td', {}, a && a.ip), el('td', {}, a && a.mask))));
    }
    return el('div', { class: 'scroll' }, el('table', { class: 'answer' }, el('tbody', {}, ...rows)));
  }

  function drawRequests(list) {
    const known = new Set(devices.map((d) => d.id));
    const items = list.slice().reverse().map((r) => {
      const head = el('div', { class: 'request-head' },
        el('strong', {}, 'Request ' + r.id),
        el('span', {}, 'device ' + r.deviceId + (known.has(r.deviceId) ? '' : ' (deleted)')),
        el('span', {}, r.type),
        el('span', { class: 'status badge ' + r.status }, r.status));
      if (r.status !== 'ended') {
        head.append(el('button', {
          type: 'button', class: 'end', onclick: () => act($('request-message'),
            api('DELETE', 'requests/' + r.id)),
        }, 'End'));
      }
      const body = [head,
        el('div', { class: 'times' }, 'created ', el('span', { class: 'created' }, when(r.createdAt)),
          ' · status since ', el('span', { class: 'changed' }, when(r.changedAt))),
        el('div', { class: 'params' }, parameters(r.data))];
      if (r.answer) {
        if (r.answer.status === 'vpn-created') body.push(answerTable(r.answer));
        else body.push(el('div', { class: 'params' }, 'Answer ' + r.answer.status + ': ' + r.answer.data));
      }
      return el('div', { class: 'request', id: 'request-' + r.id }, ...body);
    });
    $('request-list').replaceChildren(...items);
    $('no-requests').hidden = list.length > 0;
  }

  // ---- request log

  // Only what is new since the last entry shown; the newest entries at first.
  function logPath() {
    const device = $('log-device').value;
    const last = logEntries.length ? logEntries[logEntries.length - 1].id : 0;
    const from = last ? 'since=' + last : 'last=' + logShown;
    return 'log?' + from + (device ? '&device=' + encodeURIComponent(device) : '');
  }

  // Adds what came to what is shown; entries that devcloud no longer holds
  // (cleared, or past its bounds) go.
  function mergeLog(reply) {
    const first = Number(reply.headers.get('X-Log-First-Id')) || 0;
    logEntries = logEntries.filter((e) => e.id >= first).concat(reply.data || []).slice(-logShown);
  }

  // A devcloud without the device filter sends every entry; those that name
  // another device in their path are left out here at least.
  function forDevice(entry, device) {
    if (!device) return true;
    const match = /\/devices\/(\d+)(\/|$)/.exec(entry.path);
    return !match || match[1] === device;
  }

  function entryKey(e) {
    return String(e.id);
  }

  function timeOf(ms) {
    const d = new Date(ms);
    return d.toISOString().slice(11, 23);
  }

  function detail(e) {
    const parts = [];
    const section = (title, text) => {
      parts.push(el('h3', {}, title), el('pre', {}, text === null || text === '' ? '(empty)' : text));
    };
    section('Request head', decodeBase64(e.headBase64));
    section('Request body', e.bodyBase64 !== undefined ? decodeBase64(e.bodyBase64) : e.body);
    if (e.replyHeadBase64 !== undefined || e.replyBody !== undefined || e.replyBodyBase64 !== undefined) {
      section('Reply head', decodeBase64(e.replyHeadBase64));
      section('Reply body', e.replyBodyBase64 !== undefined ? decodeBase64(e.replyBodyBase64) : e.replyBody);
    } else {
      parts.push(el('p', { class: 'muted' }, 'This devcloud keeps no reply bodies.'));
    }
    if (e.complete === false) parts.push(el('p', { class: 'muted' }, 'The request did not arrive whole.'));
    return el('tr', { class: 'detail' }, el('td', { colspan: '4' }, ...parts));
  }

  function drawLog(list) {
    const device = $('log-device').value;
    const entries = list.filter((e) => forDevice(e, device));
    const newest = entries.slice().reverse();
    const rows = [];
    for (const e of newest) {
      const key = entryKey(e);
      rows.push(el('tr', {
        class: 'entry', onclick: () => {
          if (openEntries.has(key)) openEntries.delete(key); else openEntries.add(key);
          drawLog(list);
        },
      }, el('td', {}, timeOf(e.receivedMs)), el('td', {}, e.method),
      el('td', { class: 'wrap' }, e.path), el('td', {}, e.status ? e.status : '—')));
      if (openEntries.has(key)) rows.push(detail(e));
    }
    $('log-rows').replaceChildren(...rows);
    $('log-count').textContent = entries.length >= logShown
      ? 'newest ' + logShown + ' entries' : entries.length + ' entries';
  }

  // ---- faults

  function drawFaults(list) {
    $('fault-rows').replaceChildren(...list.map((f) => el('tr', {},
      el('td', { class: 'wrap' }, f.path), el('td', {}, f.count), el('td', {}, f.status || '—'),
      el('td', { class: 'wrap' }, f.body), el('td', {}, f.delayMs),
      el('td', {}, f.drop ? (f.dropAfterBytes >= 0 ? 'after ' + f.dropAfterBytes + ' bytes' : 'yes') : 'no'))));
  }

  // ---- polling and actions

  async function poll() {
    if (polling) {
      again = true;
      return;
    }
    polling = true;
    again = false;
    clearTimeout(timer);
    try {
      const filter = $('log-device').value;
      if (filter !== logFilter) {
        logEntries = [];
        logFilter = filter;
        openEntries.clear();
      }
      const [deviceList, requests, log, faults] = await Promise.all([
        api('GET', 'devices'), api('GET', 'requests'), api('GET', logPath(), undefined, true),
        api('GET', 'faults')]);
      setOffline(false);
      setState('ok', 'live');
      requestList = requests;
      drawDevices(deviceList);
      if (changed('requests', [requests, deviceList.map((d) => d.id)])) drawRequests(requests);
      mergeLog(log);
      // The filter too: another device's empty log replaces the rows shown.
      if (changed('log', [logFilter, logEntries.map((e) => e.id)])) drawLog(logEntries);
      if (changed('faults', faults)) drawFaults(faults);
    } catch (error) {
      if (error.status === 401) {
        setState('bad', 'token needed');
      } else {
        setState('bad', 'unreachable: ' + error.message);
        setOffline(true);
      }
    } finally {
      polling = false;
      timer = setTimeout(poll, again ? 0 : pollMs);
    }
  }

  // A banner that stays in sight while devcloud does not answer: what the
  // page shows is from before then.
  function setOffline(offline) {
    if (offline && offlineSince === null) offlineSince = new Date();
    if (!offline) offlineSince = null;
    $('offline').hidden = !offline;
    document.body.classList.toggle('stale', offline);
    if (offline) {
      $('offline').textContent = 'devcloud stopped answering at ' +
        offlineSince.toTimeString().slice(0, 8) + '; what is shown is from before then.';
    }
  }

  // Runs an operator call, shows its failure next to the form, polls at once.
  async function act(messageNode, call) {
    messageNode.textContent = '';
    try {
      await call;
    } catch (error) {
      messageNode.textContent = error.message;
    }
    poll();
  }

  function number(id, fallback) {
    const value = Number($(id).value);
    return $(id).value === '' || Number.isNaN(value) ? fallback : value;
  }

  $('request-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const device = $('request-device').value;
    if (!device) {
      $('request-message').textContent = 'No device to ask.';
      return;
    }
    act($('request-message'), api('POST', 'devices/' + device + '/requests', {
      type: 'vpn',
      url: $('request-url').value,
      username: $('request-username').value,
      password: $('request-password').value,
      domain: $('request-domain').value,
      preSharedKey: $('request-psk').value,
    }));
  });

  $('fault-form').addEventListener('submit', (event) => {
    event.preventDefault();
    act($('fault-message'), api('POST', 'faults', {
      path: $('fault-path').value,
      count: number('fault-count', 1),
      status: number('fault-status', 0),
      body: $('fault-body').value,
      delayMs: number('fault-delay', 0),
      drop: $('fault-drop').checked,
      dropAfterBytes: number('fault-drop-after', -1),
    }));
  });

  $('clear-faults').addEventListener('click', () => act($('fault-message'), api('DELETE', 'faults')));
  $('clear-log').addEventListener('click', () => {
    openEntries.clear();
    logEntries = [];
    act($('log-message'), api('DELETE', 'log'));
  });
  $('log-device').addEventListener('change', () => poll());

  $('token-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const token = $('token').value.trim();
    if (token) sessionStorage.setItem(tokenKey, token); else sessionStorage.removeItem(tokenKey);
    drawn = {};
    logEntries = [];
    poll();
  });
  $('token').value = sessionStorage.getItem(tokenKey) || '';

  poll();
}());
