// The sample shop in a real browser: headless Chromium driven by
// playwright-core. It walks what a shop assistant does (the customer list,
// a customer, one of their orders edited and saved, a new order added and
// deleted again, a search) and checks each change twice: on the page that
// follows and in the database, with the mariadb client on the private
// server's socket. Every page visited is saved as a screenshot.
//
// Run by scripts/shop-browser-test, which serves the shop and passes:
//   SHOP_URL             where the shop is served ("http://127.0.0.1:PORT/")
//   SHOP_DB              the database the shop was loaded into
//   SHOP_MARIADB_CNF     the private server's client configuration
//   SHOP_MARIADB_SOCKET  its socket
//   SHOP_SCREENSHOTS     the folder for the screenshots
//   SHOP_PROFILE         a fresh, empty folder for the browser profile
//   CHROMIUM             the browser (default /usr/bin/chromium)
//   SHOP_TEST_SECONDS    how long the whole test may take (default 120)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';

function setting(name, fallback) {
  const value = process.env[name] ?? fallback;
  if (value === undefined || value === '') throw new Error(`${name} is not set`);
  return value;
}

const base = setting('SHOP_URL');
const db = setting('SHOP_DB');
const cnf = setting('SHOP_MARIADB_CNF');
const socket = setting('SHOP_MARIADB_SOCKET');
const shots = setting('SHOP_SCREENSHOTS');
const profile = setting('SHOP_PROFILE');
const browserPath = setting('CHROMIUM', '/usr/bin/chromium');
const limitSeconds = Number(setting('SHOP_TEST_SECONDS', '120'));

// The rows of `sql` as arrays of column texts (NULL as null).
function query(sql) {
  const out = execFileSync('mariadb', [`--defaults-file=${cnf}`, `--socket=${socket}`, '--batch',
                                       '--skip-column-names', '--raw', '-e', sql, db],
                           { encoding: 'utf8', timeout: 15000 });
  return out.split('\n').filter((line) => line !== '')
            .map((line) => line.split('\t').map((v) => (v === 'NULL' ? null : v)));
}

const started = Date.now();
let step = 0;
function ok(what) {
  step += 1;
  console.log(`ok ${step} - ${what} (${((Date.now() - started) / 1000).toFixed(1)}s)`);
}

let context;
const watchdog = setTimeout(() => {
  console.error(`not ok - the browser test ran longer than ${limitSeconds}s`);
  const closing = context ? context.close() : Promise.resolve();
  closing.finally(() => process.exit(1));
  setTimeout(() => process.exit(1), 5000).unref();
}, limitSeconds * 1000);

const problems = [];

async function main() {
  mkdirSync(shots, { recursive: true });
  context = await chromium.launchPersistentContext(profile, {
    executablePath: browserPath,
    headless: true,
    chromiumSandbox: false,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--disable-quic'],
    viewport: { width: 1100, height: 800 },
    timeout: 30000,
  });
  context.setDefaultTimeout(15000);
  const page = context.pages()[0] ?? (await context.newPage());

  // Whatever goes wrong on the side of the page is a failure too.
  page.on('pageerror', (e) => problems.push(`script error on ${page.url()}: ${e.message}`));
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console error on ${page.url()}: ${m.text()}`); });
  page.on('dialog', (d) => { problems.push(`unexpected dialog: ${d.message()}`); d.dismiss(); });
  page.on('response', (r) => { if (r.status() >= 500) problems.push(`${r.status()} for ${r.url()}`); });

  let shot = 0;
  async function screenshot(name) {
    shot += 1;
    const file = path.join(shots, `${String(shot).padStart(2, '0')}-${name}.png`);
    await page.screenshot({ path: file, fullPage: true });
  }
  // Nothing a customer typed may turn into markup: no element of these kinds
  // inside the page's main part.
  async function noInjectedMarkup() {
    assert.equal(await page.locator('main b, main i, main script, main img').count(), 0,
                 `injected markup on ${page.url()}`);
  }
  const mainText = () => page.locator('main').innerText();

  // 1. The customer list (ContentTable with the shop's templates).
  const response = await page.goto(base);
  assert.equal(response.status(), 200);
  await page.waitForSelector('#customers');
  assert.equal(await page.locator('h1').innerText(), 'Customers');
  assert.equal(await page.locator('#customers tbody tr').count(), Number(query('select count(*) from customers')[0][0]));
  assert.ok(await page.locator('#customers a', { hasText: 'Bits & <Bytes> Ltd.' }).count() === 1,
            'the name with markup characters is shown as text');
  assert.equal(await page.locator('link[rel=stylesheet]').count(), 1);
  const cssStatus = (await page.request.get(new URL('shop.css', base).href)).status();
  assert.equal(cssStatus, 200, 'the stylesheet is served');
  await noInjectedMarkup();
  await screenshot('customers');
  const firstViews = Number(await page.locator('#page-views').innerText());
  assert.equal(await page.locator('#recent').count(), 0, 'nothing viewed yet');
  ok('the customer list shows every customer, names as text');

  // 2. Follow the link to a customer: their orders are the linked detail.
  await page.locator('#customers a', { hasText: 'Grace Hopper' }).click();
  await page.waitForURL(/customer\.asp\?id=3$/);
  assert.equal(await page.locator('h1').innerText(), 'Grace Hopper');
  const orderNumbers = await page.locator('#orders tbody tr td:first-child').allInnerTexts();
  assert.deepEqual(orderNumbers, query('select id from orders where customer_id = 3 order by ordered, id').map((r) => r[0]));
  assert.match(await mainText(), /Customer since\s+9 Dec 2021/);
  await screenshot('customer');
  ok('a customer page lists exactly their orders, dates formatted');

  // The list remembers the customer in the session and counts page views in
  // the application; the session cookie is HttpOnly and SameSite=Lax.
  await page.goto(base);
  await page.waitForSelector('#recent');
  assert.deepEqual(await page.locator('#recent a').allInnerTexts(), ['Grace Hopper']);
  assert.equal(Number(await page.locator('#page-views').innerText()), firstViews + 2);
  const sessionCookie = (await page.context().cookies()).find((c) => c.name === 'QuillSessionID');
  assert.ok(sessionCookie && sessionCookie.httpOnly && sessionCookie.sameSite === 'Lax', 'the session cookie');
  await screenshot('customers-recent');
  await page.locator('#recent a', { hasText: 'Grace Hopper' }).click();
  await page.waitForURL(/customer\.asp\?id=3$/);
  ok('recently viewed customers come from the session, page views from the application');

  // 3. Edit an order in the form and save it.
  await page.locator('#orders a', { hasText: '103' }).click();
  await page.waitForURL(/order\.asp\?id=103$/);
  assert.equal(await page.locator('h1').innerText(), 'Order 103 for Grace Hopper');
  assert.equal(await page.locator('#ordered').inputValue(), '2024-03-01');
  assert.equal(await page.locator('#lines tbody tr').count(), 2);
  await screenshot('order');
  const note = 'Ring twice \u2014 <b>not</b> bold & "quoted"';
  await page.locator('#ordered').fill('2024-03-04');
  await page.locator('#status').selectOption('paid');
  await page.locator('#note').fill(note);
  await page.locator('button[value=save]').click();
  await page.waitForURL(/order\.asp\?id=103&saved=1$/);
  assert.match(await page.locator('.notice.ok').innerText(), /saved/);
  assert.equal(await page.locator('#note').inputValue(), note);
  assert.equal(await page.locator('#status').inputValue(), 'paid');
  assert.equal(await page.locator('#ordered').inputValue(), '2024-03-04');
  await noInjectedMarkup();
  await screenshot('order-saved');
  assert.deepEqual(query('select ordered, status, note from orders where id = 103'), [['2024-03-04', 'paid', note]]);
  ok('an edited order shows its new values and the database holds them');

  // The customer page shows the change, as text.
  await page.locator('.crumbs a', { hasText: 'Grace Hopper' }).click();
  await page.waitForURL(/customer\.asp\?id=3$/);
  const row = page.locator('#orders tbody tr', { hasText: '103' });
  assert.equal(await row.locator('td.note').innerText(), note);
  assert.equal(await row.locator('.badge').innerText(), 'paid');
  assert.match(await row.innerText(), /4 Mar 2024/);
  await noInjectedMarkup();
  ok('the customer page shows the edited order');

  // A form the browser would not send (an impossible day) is refused with a
  // message; nothing changes.
  const refused = await page.request.post(new URL('order.asp', base).href, {
    form: { action: 'save', id: '103', ordered: '2024-02-30', status: 'paid', note: 'never saved' },
    maxRedirects: 0,
  });
  assert.equal(refused.status(), 422);
  assert.match(await refused.text(), /day of the calendar/);
  assert.deepEqual(query('select note from orders where id = 103'), [[note]]);
  ok('an impossible date is refused and changes nothing');

  // 4. Add an order.
  await page.locator('a.button', { hasText: 'New order' }).click();
  await page.waitForURL(/order\.asp\?customer=3$/);
  await page.locator('#ordered').fill('2024-07-15');
  await page.locator('#status').selectOption('new');
  await page.locator('#note').fill('Added by the browser test');
  await screenshot('new-order');
  await page.locator('button[value=save]').click();
  await page.waitForURL(/order\.asp\?id=\d+&created=1$/);
  const added = new URL(page.url()).searchParams.get('id');
  assert.match(await page.locator('.notice.ok').innerText(), /created/);
  assert.equal(await page.locator('h1').innerText(), `Order ${added} for Grace Hopper`);
  await screenshot('order-created');
  assert.deepEqual(query(`select customer_id, ordered, status, note from orders where id = ${Number(added)}`),
                   [['3', '2024-07-15', 'new', 'Added by the browser test']]);
  ok(`a new order (${added}) is created for the customer and stored`);

  // 5. Delete it again, after the question.
  await page.locator('a.danger-link').click();
  await page.waitForURL(new RegExp(`order\\.asp\\?id=${added}&delete=1$`));
  await screenshot('delete-order');
  await page.locator('button[value=delete]').click();
  await page.waitForURL(new RegExp(`customer\\.asp\\?id=3&deleted=${added}$`));
  assert.match(await page.locator('.notice.ok').innerText(), new RegExp(`Order ${added} was deleted`));
  assert.equal(await page.locator('#orders tbody tr', { hasText: added }).count(), 0);
  await screenshot('customer-after-delete');
  assert.deepEqual(query(`select count(*) from orders where id = ${Number(added)}`), [['0']]);
  ok('the order is deleted, from the page and from the database');

  // 6. Search, with the text shown back as text.
  await page.locator('header input[name=q]').fill('door');
  await page.locator('header input[name=q]').press('Enter');
  await page.waitForURL(/search\.asp\?q=door$/);
  assert.equal(await page.locator('#found-orders tbody tr').count(), 1);
  await screenshot('search');
  const hostile = `<b>x</b>' or 1=1 -- %`;
  await page.locator('#q').fill(hostile);
  await page.locator('form.search button').click();
  await page.waitForURL(/search\.asp\?q=/);
  assert.equal(await page.locator('#q').inputValue(), hostile);
  assert.match(await page.locator('#summary').innerText(), /^0 customer\(s\) and 0 order\(s\) match/);
  assert.ok((await page.locator('#summary').innerText()).includes(hostile));
  await noInjectedMarkup();
  ok('search finds by note and treats markup and SQL in the text as text');

  // 7. The products (ContentTable again).
  await page.locator('header nav a', { hasText: 'Products' }).click();
  await page.waitForURL(/products\.asp$/);
  assert.equal(await page.locator('#products tbody tr').count(), Number(query('select count(*) from products')[0][0]));
  await screenshot('products');
  ok('the product list shows every product');

  assert.deepEqual(problems, [], 'the pages ran without errors');
  ok('no script errors, console errors or server errors on the way');
}

let failed = false;
try {
  await main();
} catch (e) {
  failed = true;
  console.error(`not ok - ${e.stack ?? e}`);
  if (problems.length) console.error(`also seen:\n  ${problems.join('\n  ')}`);
} finally {
  clearTimeout(watchdog);
  if (context) await context.close().catch(() => {});
}
console.log(`${failed ? 'FAILED' : 'passed'}: ${step} step(s) in ${((Date.now() - started) / 1000).toFixed(1)}s; screenshots in ${shots}`);
process.exit(failed ? 1 : 0);
