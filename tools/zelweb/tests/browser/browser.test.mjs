// zelweb in a real browser: headless Chromium (Debian's) driven by playwright-core, against a
// real zelfarmd and zelweb started here (../farm_fixture.sh). ZELWEB_BIN_DIR names the folder
// of the programs; ZELWEB_SCREENSHOTS the folder for screenshots of the main pages.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { inflateSync } from 'node:zlib';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '../../../..');
const bin = process.env.ZELWEB_BIN_DIR ?? join(repo, 'build/dev/bin');
const shots = process.env.ZELWEB_SCREENSHOTS ?? mkdtempSync(join(tmpdir(), 'zelweb-shots-'));
const fixture = join(here, '..', 'farm_fixture.sh');
const work = mkdtempSync(join(tmpdir(), 'zelweb-browser-'));
const password = 'demo password';
let url;
const browsers = [];

// A fresh browser with a profile of its own.
async function browser() {
  const profile = mkdtempSync(join(work, 'profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1200, height: 800 },
  });
  browsers.push(context);
  const page = context.pages()[0] ?? await context.newPage();
  await page.goto(url);
  return page;
}

async function logOn(page, name, secret = password) {
  await page.getByLabel('Name', { exact: true }).fill(name);
  await page.getByLabel('Password', { exact: true }).fill(secret);
  await page.getByRole('button', { name: 'Log on' }).click();
}

// The pixels of an 8-bit RGBA PNG without interlace (what the farm serves for an icon), read
// here without the browser: the unfiltered rows.
function decodeRgbaPng(bytes) {
  assert.equal(bytes.subarray(1, 4).toString(), 'PNG');
  let at = 8, width = 0, height = 0;
  const idat = [];
  while (at < bytes.length) {
    const length = bytes.readUInt32BE(at);
    const type = bytes.subarray(at + 4, at + 8).toString();
    const data = bytes.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0); height = data.readUInt32BE(4);
      assert.deepEqual([data[8], data[9], data[12]], [8, 6, 0], 'RGBA, 8 bits, not interlaced');
    }
    if (type === 'IDAT') idat.push(data);
    at += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(idat));
  const stride = width * 4, out = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const value = raw[y * (stride + 1) + 1 + x];
      const a = x >= 4 ? out[y * stride + x - 4] : 0;
      const b = y > 0 ? out[(y - 1) * stride + x] : 0;
      const c = x >= 4 && y > 0 ? out[(y - 1) * stride + x - 4] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      out[y * stride + x] = (value + predictor) & 0xff;
    }
  }
  return { width, height, pixel: (x, y) => [...out.subarray((y * width + x) * 4, (y * width + x) * 4 + 4)] };
}

before(() => {
  mkdirSync(shots, { recursive: true });
  execFileSync(fixture, ['start', bin, work, join(repo, 'share/demo-farm.json')], { stdio: 'inherit' });
  url = readFileSync(join(work, 'zelweb.url'), 'utf8').trim();
});

after(async () => {
  for (const context of browsers) await context.close();
  execFileSync(fixture, ['stop', work], { stdio: 'inherit' });
  rmSync(work, { recursive: true, force: true });
  console.log(`screenshots in ${shots}`);
});

test('logon: a wrong password is refused, the right one opens the console', async () => {
  const page = await browser();
  await page.screenshot({ path: join(shots, 'logon.png') });
  await logOn(page, 'unix:alice', 'not the password');
  await assert.doesNotReject(page.getByText('The name or the password is wrong.').waitFor());
  assert.equal(await page.locator('#console-view').isHidden(), true);
  await logOn(page, 'unix:alice');
  await page.getByRole('tree', { name: 'Console tree' }).waitFor();
  assert.match(await page.locator('#who').textContent(), /alice/);
});

test('the tree renders with its icons, and the keyboard moves through it', async () => {
  const page = await browser();
  await logOn(page, 'unix:alice');
  const north = page.getByRole('treeitem', { name: 'North data centre' });
  await north.waitFor();
  // The icon loaded, and the browser drew the pixels the farm's PNG holds.
  const image = north.locator('img').first();
  await page.waitForFunction((img) => img.complete && img.naturalWidth === 32, await image.elementHandle());
  const drawn = await image.evaluate((img) => {
    const canvas = document.createElement('canvas');
    canvas.width = 32; canvas.height = 32;
    const context = canvas.getContext('2d');
    context.drawImage(img, 0, 0);
    return [...context.getImageData(0, 0, 32, 32).data];
  });
  const served = await page.evaluate(async (src) => [...new Uint8Array(await (await fetch(src)).arrayBuffer())], await image.getAttribute('src'));
  const png = decodeRgbaPng(Buffer.from(served));
  let opaque = 0;
  for (let y = 0; y < 32; y++) {
    for (let x = 0; x < 32; x++) {
      const expected = png.pixel(x, y);
      if (expected[3] !== 255) continue;
      opaque++;
      assert.deepEqual(drawn.slice((y * 32 + x) * 4, (y * 32 + x) * 4 + 4), expected, `pixel ${x},${y}`);
    }
  }
  assert.ok(opaque > 0, 'the icon shows some pixels');
  // Keyboard: focus the first node, go down to North, open it with the right arrow.
  await page.getByRole('treeitem').first().focus();
  await page.keyboard.press('Home');
  await page.keyboard.press('ArrowDown');
  assert.equal(await north.getAttribute('aria-selected'), 'true');
  await page.keyboard.press('ArrowRight');
  await page.getByRole('treeitem', { name: 'Rack 1' }).first().waitFor();
  assert.equal(await north.getAttribute('aria-expanded'), 'true');
  await page.screenshot({ path: join(shots, 'tree.png') });
});

test('a node added in one browser appears in another without a reload', async () => {
  const watcher = await browser();
  await logOn(watcher, 'unix:bob');
  await watcher.getByRole('treeitem', { name: 'North data centre' }).waitFor();
  const editor = await browser();
  await logOn(editor, 'unix:alice');
  await editor.getByRole('treeitem', { name: 'North data centre' }).waitFor();
  await editor.getByLabel('Node name').fill('edge');
  await editor.getByLabel('Node title').fill('Edge site');
  await editor.getByLabel('Node icon').selectOption('site');
  await editor.getByRole('button', { name: 'Add node' }).click();
  await assert.doesNotReject(watcher.getByRole('treeitem', { name: 'Edge site' }).waitFor({ timeout: 10000 }));
  // bob may read the tree but not change it: no changing controls.
  assert.equal(await watcher.locator('#tree-actions').isHidden(), true);
});

test('without the privilege there is no button, and the request is refused', async () => {
  const page = await browser();
  await logOn(page, 'unix:alice');
  await page.getByRole('tree').waitFor();
  await page.getByRole('tab', { name: 'Administrators' }).click();
  await page.getByRole('table', { name: 'Administrators' }).getByText('unix:bob').waitFor();
  assert.equal(await page.getByRole('button', { name: 'Add administrator' }).count(), 0);
  assert.equal(await page.getByRole('button', { name: 'Add administrator' }).isVisible(), false);
  const refused = await page.evaluate(async () => {
    const { csrf } = await (await fetch('/api/me')).json();
    const response = await fetch('/api/admins/add', { method: 'POST', headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': csrf }, body: JSON.stringify({ account: 'unix:mallory' }) });
    return { status: response.status, body: await response.json() };
  });
  assert.equal(refused.status, 403);
  assert.equal(refused.body.code, '0x80070003');
});

test('a change without the CSRF token is refused', async () => {
  const page = await browser();
  await logOn(page, 'unix:alice');
  await page.getByRole('tree').waitFor();
  const status = await page.evaluate(async () => (await fetch('/api/tree/add', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ parent: '', name: 'forged' }) })).status);
  assert.equal(status, 403);
  const tree = await page.evaluate(async () => (await (await fetch('/api/tree?dn=')).json()).children.map((n) => n.name));
  assert.equal(tree.includes('forged'), false);
});

test('the administrator pages, icons and audit (screenshots)', async () => {
  const page = await browser();
  await logOn(page, 'unix:admin');
  await page.getByRole('treeitem', { name: 'North data centre' }).click();
  await page.keyboard.press('ArrowRight');
  await page.getByRole('treeitem', { name: 'Rack 1' }).first().click();
  await page.keyboard.press('ArrowRight');
  await page.getByRole('treeitem', { name: 'north-node101' }).first().click();
  await page.waitForTimeout(300);
  await page.screenshot({ path: join(shots, 'zelweb.png') });
  await page.getByRole('tab', { name: 'Administrators' }).click();
  await page.getByRole('cell', { name: 'unix:alice' }).click();
  await page.getByRole('button', { name: 'Save privileges' }).waitFor();
  await page.screenshot({ path: join(shots, 'administrators.png') });
  await page.getByRole('tab', { name: 'Icons' }).click();
  await page.getByRole('img', { name: 'server icon' }).waitFor();
  await page.getByRole('list', { name: 'Plug-in records' }).getByText('Disk report').waitFor();  // the demo farm's
  await page.screenshot({ path: join(shots, 'icons.png') });
  await page.getByRole('tab', { name: 'Audit' }).click();
  await page.getByRole('table', { name: 'Audit' }).locator('tbody tr').first().waitFor();
  await page.screenshot({ path: join(shots, 'audit.png') });
});
