// The farm console's page: plain modules, no build step. The server checks every change; the
// page only hides what the logged-on administrator may not do.
const $ = (id) => document.getElementById(id);
let me = null;          // who is logged on: account, privileges, csrf
let events = null;      // the stream of the farm's notifications
let selectedDN = null;  // the tree's selected node
const expanded = new Set();

function status(text) { $('status').textContent = text; }

async function api(method, path, body, type = 'application/json') {
  const headers = {};
  if (method !== 'GET') {
    headers['X-CSRF-Token'] = me ? me.csrf : '';
    headers['Content-Type'] = type;
  }
  const response = await fetch(path, {
    method, headers, credentials: 'same-origin',
    body: body === undefined ? undefined : (type === 'application/json' ? JSON.stringify(body) : body),
  });
  const answer = response.headers.get('Content-Type')?.startsWith('application/json')
    ? await response.json() : null;
  if (!response.ok) {
    const error = new Error(answer?.error ?? response.statusText);
    error.status = response.status;
    throw error;
  }
  return answer;
}

function may(privilege) { return me !== null && me.privileges.includes(privilege); }

function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'text') node.textContent = value;
    else if (key.startsWith('aria-') || key === 'role' || key === 'tabindex' || key.startsWith('data-')) node.setAttribute(key, value);
    else node[key] = value;
  }
  for (const child of children) node.append(child);
  return node;
}

// --- logon -------------------------------------------------------------------------------

async function showConsole() {
  me = await api('GET', '/api/me');
  $('who').textContent = `logged on as ${me.account}`;
  $('logon-view').hidden = true;
  $('console-view').hidden = false;
  $('logout').hidden = false;
  $('tree-actions').hidden = !may('change-tree');
  $('admin-add-form').hidden = !may('manage-administrators');
  $('icon-upload-form').hidden = !may('manage-icons');
  $('tab-audit').hidden = !may('read-audit');
  await Promise.all([loadTree(), loadIconChoices()]);
  listen();
}

$('logon-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  $('logon-error').textContent = '';
  try {
    await api('POST', '/api/logon', { name: $('logon-name').value, password: $('logon-password').value });
    $('logon-password').value = '';
    await showConsole();
    status('logged on');
  } catch (error) {
    $('logon-error').textContent = error.status === 401 ? 'The name or the password is wrong.' : error.message;
  }
});

$('logout').addEventListener('click', async () => {
  try { await api('POST', '/api/logout', {}); } catch { /* the session may have ended already */ }
  location.reload();
});

// --- the tree (ARIA tree pattern: one tab stop, arrows move, right/left expand/collapse) ---

function iconImage(uid, label) {
  if (!uid || /^0x0+$/.test(uid)) return el('span', { className: 'noicon', 'aria-hidden': 'true', text: '' });
  return el('img', { src: `/api/icons/uid/${uid}.png`, alt: label ? `${label} icon` : '', width: 32, height: 32 });
}

function treeItem(node, level) {
  const item = el('li', { role: 'treeitem', 'aria-level': String(level), 'aria-selected': 'false', tabindex: '-1', 'data-dn': node.dn });
  item.setAttribute('aria-label', node.title || node.name);
  const toggle = el('span', { className: 'toggle', 'aria-hidden': 'true', text: node.hasChildren ? '▸' : '' });
  const row = el('div', { className: 'node' }, toggle, iconImage(node.icon, node.title), el('span', { className: 'label', text: node.title || node.name }));
  item.append(row);
  item.node = node;
  if (node.hasChildren) item.setAttribute('aria-expanded', 'false');
  row.addEventListener('click', () => { select(item); if (node.hasChildren) toggleItem(item); });
  return item;
}

async function fillGroup(list, dn, level) {
  const answer = await api('GET', `/api/tree?dn=${encodeURIComponent(dn)}`);
  list.replaceChildren();
  for (const node of answer.children) {
    const item = treeItem(node, level);
    list.append(item);
    if (expanded.has(node.dn) && node.hasChildren) await expand(item);
  }
}

async function loadTree() {
  await fillGroup($('tree'), '', 1);
  const items = visibleItems();
  const keep = items.find((item) => item.dataset.dn === selectedDN);
  if (keep) select(keep, false);
  else if (items.length) { items[0].tabIndex = 0; if (selectedDN !== null) { selectedDN = null; showProps(null); } }
}

async function expand(item) {
  let group = item.querySelector(':scope > ul');
  if (!group) { group = el('ul', { role: 'group' }); item.append(group); }
  item.setAttribute('aria-expanded', 'true');
  item.querySelector('.toggle').textContent = '▾';
  expanded.add(item.dataset.dn);
  await fillGroup(group, item.dataset.dn, Number(item.getAttribute('aria-level')) + 1);
}

function collapse(item) {
  item.setAttribute('aria-expanded', 'false');
  item.querySelector('.toggle').textContent = '▸';
  item.querySelector(':scope > ul')?.remove();
  expanded.delete(item.dataset.dn);
}

async function toggleItem(item) {
  if (item.getAttribute('aria-expanded') === 'true') collapse(item); else await expand(item);
}

function visibleItems() { return [...$('tree').querySelectorAll('[role=treeitem]')]; }

function select(item, focus = true) {
  for (const other of visibleItems()) { other.setAttribute('aria-selected', 'false'); other.tabIndex = -1; }
  item.setAttribute('aria-selected', 'true');
  item.tabIndex = 0;
  if (focus) item.focus();
  selectedDN = item.dataset.dn;
  showProps(item.node);
}

function showProps(node) {
  const props = $('node-props');
  props.replaceChildren();
  if (!node) { props.append(el('dt', { text: 'Node' }), el('dd', { text: 'none selected' })); return; }
  for (const [label, value] of [['DN', node.dn], ['Name', node.name], ['Title', node.title], ['Flags', node.flags], ['SSID', node.ssid], ['Icon', node.icon], ['UID', node.uid]]) {
    props.append(el('dt', { text: label }), el('dd', { text: String(value) }));
  }
  $('rename-name').value = node.name;
  $('set-title').value = node.title;
  $('set-icon').value = iconNames.get(node.icon) ?? '';
}

$('tree').addEventListener('keydown', async (event) => {
  const items = visibleItems();
  const current = document.activeElement.closest('[role=treeitem]');
  const at = items.indexOf(current);
  if (at < 0) return;
  const expandedNow = current.getAttribute('aria-expanded');
  switch (event.key) {
    case 'ArrowDown': if (at + 1 < items.length) select(items[at + 1]); break;
    case 'ArrowUp': if (at > 0) select(items[at - 1]); break;
    case 'Home': select(items[0]); break;
    case 'End': select(items[items.length - 1]); break;
    case 'ArrowRight':
      if (expandedNow === 'false') await expand(current);
      else if (expandedNow === 'true') { const child = current.querySelector('[role=treeitem]'); if (child) select(child); }
      break;
    case 'ArrowLeft':
      if (expandedNow === 'true') collapse(current);
      else { const parent = current.parentElement.closest('[role=treeitem]'); if (parent) select(parent); }
      break;
    case 'Enter': case ' ': select(current); if (expandedNow !== null) await toggleItem(current); break;
    default: return;
  }
  event.preventDefault();
});

async function change(doing, method, path, body, type) {
  try {
    const answer = await api(method, path, body, type);
    status(`${doing}: done`);
    return answer;
  } catch (error) {
    status(`${doing}: ${error.message}`);
    return null;
  }
}

$('add-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const parent = selectedDN ?? '';
  const body = { parent, name: $('add-name').value, title: $('add-title').value };
  if ($('add-icon').value) body.icon = $('add-icon').value;
  if (await change(`adding ${$('add-name').value}`, 'POST', '/api/tree/add', body)) {
    if (parent) expanded.add(parent);
    $('add-name').value = ''; $('add-title').value = '';
    await loadTree();
  }
});

$('set-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  if (!selectedDN) return status('select a node first');
  if (await change(`changing ${selectedDN}`, 'POST', '/api/tree/set', { dn: selectedDN, title: $('set-title').value, icon: $('set-icon').value })) await loadTree();
});

$('rename-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  if (!selectedDN) return status('select a node first');
  const answer = await change(`renaming ${selectedDN}`, 'POST', '/api/tree/rename', { dn: selectedDN, name: $('rename-name').value });
  if (answer) { selectedDN = answer.to; await loadTree(); }
});

$('move-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  if (!selectedDN) return status('select a node first');
  const parent = $('move-parent').value;
  const answer = await change(`moving ${selectedDN}`, 'POST', '/api/tree/move', { dn: selectedDN, parent });
  if (answer) { if (parent) expanded.add(parent); selectedDN = answer.to; await loadTree(); }
});

$('delete-button').addEventListener('click', async () => {
  if (!selectedDN) return status('select a node first');
  if (await change(`removing ${selectedDN}`, 'POST', '/api/tree/delete', { dn: selectedDN })) {
    selectedDN = null; showProps(null); await loadTree();
  }
});

// Other consoles' changes arrive as notifications; the tree is read again, keeping what was
// expanded and selected.
let refreshTimer = null;
function listen() {
  if (events) return;
  events = new EventSource('/api/events');
  events.addEventListener('tree', () => {
    clearTimeout(refreshTimer);
    refreshTimer = setTimeout(() => loadTree().catch((error) => status(error.message)), 150);
  });
}

// --- tabs ----------------------------------------------------------------------------------

const tabs = ['tree', 'admins', 'icons', 'audit'];
const loaders = { tree: loadTree, admins: loadAdmins, icons: loadIcons, audit: loadAudit };
async function showTab(name) {
  for (const other of tabs) {
    const tab = $(`tab-${other}`);
    tab.setAttribute('aria-selected', String(other === name));
    tab.tabIndex = other === name ? 0 : -1;
    $(`panel-${other}`).hidden = other !== name;
  }
  $(`tab-${name}`).focus();
  try { await loaders[name](); } catch (error) { status(error.message); }
}
for (const name of tabs) $(`tab-${name}`).addEventListener('click', () => showTab(name));
document.querySelector('[role=tablist]').addEventListener('keydown', (event) => {
  const shown = tabs.filter((name) => !$(`tab-${name}`).hidden);
  const at = shown.findIndex((name) => $(`tab-${name}`).getAttribute('aria-selected') === 'true');
  if (event.key === 'ArrowRight') showTab(shown[(at + 1) % shown.length]);
  else if (event.key === 'ArrowLeft') showTab(shown[(at + shown.length - 1) % shown.length]);
  else return;
  event.preventDefault();
});

// --- administrators ------------------------------------------------------------------------

let chosenAdmin = null;
async function loadAdmins() {
  const answer = await api('GET', '/api/admins');
  const body = $('admins').tBodies[0];
  body.replaceChildren();
  for (const admin of answer.administrators) {
    const row = el('tr', { tabindex: '0', 'aria-selected': String(admin.uid === chosenAdmin) },
      el('td', { text: admin.account }), el('td', { text: admin.uid }), el('td', { text: admin.privileges.join(', ') || '-' }));
    const choose = () => showAdmin(admin.uid);
    row.addEventListener('click', choose);
    row.addEventListener('keydown', (event) => { if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); choose(); } });
    body.append(row);
  }
  const mine = await api('GET', '/api/me');
  me.privileges = mine.privileges;
  $('my-permissions').replaceChildren(
    el('p', { text: `${mine.account}: ${mine.privileges.join(', ') || 'no privileges'}` }),
    el('p', { text: mine.unrestricted ? 'No folder limits.' : `Allowed folders: ${mine.folders.map((f) => `${f.folder} (tasks ${f.tasks.join(',') || '-'})`).join('; ') || 'none'}` }));
}

async function showAdmin(uid) {
  chosenAdmin = uid;
  for (const row of $('admins').tBodies[0].rows) row.setAttribute('aria-selected', String(row.cells[1].textContent === uid));
  const admin = await api('GET', `/api/admins/one?uid=${encodeURIComponent(uid)}`);
  $('admin-heading').textContent = `Administrator ${admin.account}`;
  const details = el('dl');
  details.append(el('dt', { text: 'UID' }), el('dd', { text: admin.uid }),
    el('dt', { text: 'Privileges' }), el('dd', { text: admin.privileges.join(', ') || '-' }),
    el('dt', { text: 'Allowed folders' }), el('dd', { text: admin.folders.map((f) => `${f.folder} (tasks ${f.tasks.join(',') || '-'})`).join('; ') || 'none' }),
    el('dt', { text: 'Contact' }), el('dd', { text: admin.contact.filter(Boolean).join(' / ') || '-' }));
  $('admin-details').replaceChildren(details);
  const form = $('admin-privileges-form');
  form.hidden = !may('manage-administrators');
  const set = $('admin-privileges');
  set.replaceChildren(el('legend', { text: 'Privileges' }));
  for (const name of me.privilegeNames ?? (await api('GET', '/api/me')).privilegeNames) {
    const id = `privilege-${name}`;
    set.append(el('label', { htmlFor: id }, el('input', { type: 'checkbox', id, value: name, checked: admin.privileges.includes(name) }), ` ${name}`));
  }
}

$('admin-privileges-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const privileges = [...$('admin-privileges').querySelectorAll('input:checked')].map((box) => box.value);
  if (await change('saving privileges', 'POST', '/api/admins/privileges', { uid: chosenAdmin, privileges })) await loadAdmins();
});

$('admin-remove-button').addEventListener('click', async () => {
  if (await change('removing the administrator', 'POST', '/api/admins/remove', { uid: chosenAdmin })) {
    chosenAdmin = null; $('admin-details').replaceChildren(); $('admin-privileges-form').hidden = true; await loadAdmins();
  }
});

$('admin-add-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  if (await change(`adding ${$('admin-account').value}`, 'POST', '/api/admins/add', { account: $('admin-account').value, privileges: [] })) {
    $('admin-account').value = ''; await loadAdmins();
  }
});

// --- icons and plug-ins --------------------------------------------------------------------

const iconNames = new Map();  // icon UID -> a name of it
async function loadIconChoices() {
  const answer = await api('GET', '/api/icons');
  iconNames.clear();
  for (const icon of answer.icons) if (!iconNames.has(icon.uid)) iconNames.set(icon.uid, icon.name);
  for (const id of ['add-icon', 'set-icon']) {
    $(id).replaceChildren(el('option', { value: '', text: 'none' }), ...answer.icons.map((icon) => el('option', { value: icon.name, text: icon.name })));
  }
  return answer;
}

async function loadIcons() {
  const answer = await loadIconChoices();
  $('icons').replaceChildren(...answer.icons.map((icon) => el('li', {},
    el('img', { src: `/api/icons/${encodeURIComponent(icon.name)}.png`, alt: `${icon.name} icon`, width: 32, height: 32 }),
    el('a', { href: `/api/icons/${encodeURIComponent(icon.name)}.png`, download: `${icon.name}.png`, text: icon.name }))));
  const plugins = await api('GET', '/api/plugins');
  $('plugins').replaceChildren(...(plugins.plugins.length ? plugins.plugins.map((p) => el('li', { text: `${p.dn} (${p.uid})` })) : [el('li', { text: 'none recorded' })]));
}

$('icon-upload-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const file = $('icon-file').files[0];
  if (!file) return;
  const name = $('icon-name').value;
  if (await change(`uploading ${name}`, 'POST', `/api/icons/upload?name=${encodeURIComponent(name)}`, await file.arrayBuffer(), 'image/png')) {
    $('icon-name').value = ''; $('icon-file').value = ''; await loadIcons();
  }
});

// --- audit ---------------------------------------------------------------------------------

async function loadAudit() {
  const query = new URLSearchParams();
  if ($('audit-who').value) query.set('who', $('audit-who').value);
  if ($('audit-text').value) query.set('text', $('audit-text').value);
  if ($('audit-since').value) query.set('since', String(Date.parse(`${$('audit-since').value}Z`)));
  const answer = await api('GET', `/api/audit?${query}`);
  $('audit').tBodies[0].replaceChildren(...answer.records.reverse().map((r) => el('tr', {},
    el('td', { text: r.when }), el('td', { text: r.actor || r.peer }), el('td', { text: String(r.event) }),
    el('td', { text: r.result === '0x00000000' ? 'ok' : r.result }), el('td', { text: r.what }))));
}

$('audit-form').addEventListener('submit', (event) => { event.preventDefault(); loadAudit().catch((error) => status(error.message)); });

// A session that is still there (a reload) goes straight to the console.
showConsole().catch(() => { $('logon-name').focus(); });
