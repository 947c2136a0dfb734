// The guests' phone pages in headless Chromium against the real server and exchange folder.
// Environment: TARV_FIXTURE (the fixture program), TARV_WORK (a scratch folder), PLAYWRIGHT_CORE.
"use strict";
const { test } = require("node:test");
const assert = require("node:assert");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");
const { chromium } = require(process.env.PLAYWRIGHT_CORE);

const work = process.env.TARV_WORK;
const app = path.join(work, "app");
const requestFile = path.join(app, "www/cgi-bin/tarv/tarvadd.txt");
const waitingTexts = (page) => page.$$eval("#waiting li", (items) => items.map((li) => li.textContent));

// The fixture, its port, and command(line): a line for it to carry out (see guestpages_fixture.cpp).
function startServer() {
  fs.rmSync(app, { recursive: true, force: true });
  const server = spawn(process.env.TARV_FIXTURE, [app], { stdio: ["pipe", "pipe", "inherit"] });
  let out = "";
  const waiting = [];
  const command = (line) => new Promise((resolve) => {
    waiting.push({ line, resolve });
    server.stdin.write(line + "\n");
  });
  return new Promise((resolve, reject) => {
    server.stdout.on("data", (chunk) => {
      out += chunk;
      for (let i = 0; i < waiting.length; ++i) {
        if (out.includes("done " + waiting[i].line + "\n")) {
          out = out.replace("done " + waiting[i].line + "\n", "");
          waiting.splice(i--, 1)[0].resolve();
        }
      }
      const match = /port (\d+)/.exec(out);
      if (match) resolve({ server, port: Number(match[1]), command });
    });
    server.on("exit", (code) => reject(new Error("fixture ended with " + code)));
  });
}

async function waitFor(condition) {
  for (let i = 0; i < 600; ++i) {
    if (condition()) return true;
    await new Promise((r) => setTimeout(r, 50));
  }
  return false;
}

test("a guest finds, reserves and sees the queue on a phone", async () => {
  const { server, port } = await startServer();
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const context = await browser.newContext({
      viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, locale: "ja-JP" });
    const page = await context.newPage();
    page.on("dialog", (dialog) => dialog.accept());
    await page.goto(`http://127.0.0.1:${port}/`);

    await page.fill("#name", "はなこ");
    await page.fill("#query", "さくら");
    await page.click("#find");
    await page.waitForFunction(() => document.querySelectorAll("#results li").length === 2);
    const titles = await page.$$eval("#results li", (items) => items.map((li) => li.textContent));
    assert.deepStrictEqual(titles, ["☆100001さくら", "☆100002サクラ咲く"]);

    // A title that is markup is shown as text and runs nothing.
    await page.fill("#query", "img");
    await page.click("#find");
    await page.waitForFunction(() => document.querySelector("#results li")?.textContent.includes("<img"));
    assert.strictEqual(await page.$$eval("#results img", (images) => images.length), 0);
    assert.strictEqual(await page.evaluate(() => window.hacked), undefined);

    await page.fill("#query", "さくら");
    await page.click("#find");
    await page.waitForFunction(() => document.querySelectorAll("#results li").length === 2);
    await page.click("#results li >> nth=0");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("予約しました"));
    assert.strictEqual(await page.evaluate(() => localStorage.getItem("tarvName")), "はなこ");

    // The reservation reached the session behind the server, not the request file.
    await page.click("nav button[data-tab=queue]");
    // Shown as accepted at once, then as the stage's, with its cancel.
    await page.waitForFunction(() => document.querySelectorAll("#waiting li button.cancel").length === 1);
    assert.match(await page.textContent("#playing li"), /サクラ咲く.*太郎/);
    assert.strictEqual(await page.getAttribute("#waiting li", "class"), "mine");
    assert.deepStrictEqual(await waitingTexts(page), ["取消あとで歌うあなたの予約100001さくらはなこあと約4分"]);
    assert.ok(!fs.existsSync(requestFile) || fs.statSync(requestFile).size === 0);
    await page.screenshot({ path: path.join(work, "phone-queue.png") });

    // The keypad reserves a number typed on it.
    await page.click("nav button[data-tab=keypad]");
    for (const key of "100004") await page.click(`#keys button:text-is("${key}")`);
    await page.waitForFunction(() => document.querySelector("#keyTitle").textContent === "夜明けの歌");
    await page.click('#keys button:text-is("予約")');
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("夜明けの歌"));
    await page.screenshot({ path: path.join(work, "phone-keypad.png") });

    // Another phone sees both, as not its own.
    const other = await (await browser.newContext({ viewport: { width: 360, height: 740 }, isMobile: true })).newPage();
    await other.goto(`http://127.0.0.1:${port}/`);
    await other.click("nav button[data-tab=queue]");
    await other.waitForFunction(() => document.querySelectorAll("#waiting li").length === 2);
    assert.strictEqual(await other.$$eval("#waiting li.mine, #waiting button.cancel", (found) => found.length), 0);

    // The guest cancels the first of theirs (after the confirmation); the one after moves up.
    await page.click("nav button[data-tab=queue]");
    await page.waitForFunction(() => document.querySelectorAll("#waiting li button.cancel").length === 2);
    assert.deepStrictEqual(await waitingTexts(page), ["取消あとで歌うあなたの予約100001さくらはなこあと約4分",
                                                      "取消あとで歌うあなたの予約100004夜明けの歌はなこあと約8分"]);
    await page.click("#waiting li >> nth=0 >> button.cancel");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("取り消しました"));
    await page.waitForFunction(() => document.querySelectorAll("#waiting li").length === 1);
    assert.deepStrictEqual(await waitingTexts(page), ["取消あとで歌うあなたの予約100004夜明けの歌はなこあと約4分"]);
    await page.screenshot({ path: path.join(work, "phone-cancelled.png") });

    // A refresh that fails says so and keeps the list; the next one clears the message.
    await page.route("**/api/queue", (route) => route.abort());
    await page.click("nav button[data-tab=queue]");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("更新できませんでした"));
    assert.strictEqual((await waitingTexts(page)).length, 1);
    await page.screenshot({ path: path.join(work, "phone-refresh-failed.png") });
    await page.unroute("**/api/queue");
    await page.click("nav button[data-tab=queue]");
    await page.waitForFunction(() => document.querySelector("#message").textContent === "");
    assert.strictEqual((await waitingTexts(page)).length, 1);

    // A song reserved at a chosen key waits with its key shown; the choice goes back to the usual.
    await page.click("nav button[data-tab=search]");
    await page.selectOption("#key", "2");
    await page.click("#results li >> nth=1");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("サクラ咲く"));
    assert.strictEqual(await page.inputValue("#key"), "");
    await page.click("nav button[data-tab=queue]");
    await page.waitForFunction(() => document.querySelectorAll("#waiting li button.cancel").length === 2);
    assert.match((await waitingTexts(page))[1], /サクラ咲く♯2 \/ 原曲テンポはなこ/);
    await page.screenshot({ path: path.join(work, "phone-key.png") });

    // A break: the second song held is marked on every phone and has no wait; back, it waits again.
    await page.click("#waiting li >> nth=1 >> button.hold");
    await page.waitForFunction(() => document.querySelector("#waiting li:nth-child(2) button.hold").textContent === "戻る");
    assert.match((await waitingTexts(page))[1], /サクラ咲く保留/);
    assert.doesNotMatch((await waitingTexts(page))[1], /あと約/);
    await other.click("nav button[data-tab=queue]");
    await other.waitForFunction(() => document.querySelector("#waiting li:nth-child(2)").textContent.includes("保留"));
    await page.screenshot({ path: path.join(work, "phone-held.png") });
    await page.click("#waiting li >> nth=1 >> button.hold");
    await page.waitForFunction(() => document.querySelector("#waiting li:nth-child(2) button.hold").textContent === "あとで歌う");
    assert.match((await waitingTexts(page))[1], /サクラ咲く.*あと約/);
  } finally {
    await browser.close();
    server.stdin.end();
    await new Promise((resolve) => server.on("exit", resolve));
  }
});

// Two phones and the keypad: each change reaches the other phone over its socket (its polling shut
// off), the phone whose song is next says so, and a phone whose socket the server dropped comes back.
test("every phone sees the room live and the next singer's phone says so", async () => {
  const { server, port, command } = await startServer();
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const phone = async () => {
      const context = await browser.newContext({
        viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, locale: "ja-JP" });
      await context.addInitScript(() => {
        window.vibrations = [];
        Object.defineProperty(Navigator.prototype, "vibrate", {
          configurable: true, value: (pattern) => { window.vibrations.push(pattern); return true; } });
      });
      const page = await context.newPage();
      page.on("dialog", (dialog) => dialog.accept());
      await page.goto(`http://127.0.0.1:${port}/`);
      return page;
    };
    const hanako = await phone();
    const jiro = await phone();
    await jiro.route("**/api/queue", (route) => route.abort());
    await jiro.click("nav button[data-tab=queue]");
    await jiro.waitForFunction(() => document.querySelector("#playing li")?.textContent.includes("サクラ咲く"));
    const jiroSees = async (what, since) => {
      await jiro.waitForFunction(
        (text) => [...document.querySelectorAll("#waiting li")].some((li) => li.textContent.includes(text)), what);
      console.log(`the other phone shows ${what} ${Date.now() - since} ms later`);
    };

    await hanako.fill("#name", "はなこ");
    await hanako.fill("#query", "さくら");
    await hanako.click("#find");
    await hanako.waitForFunction(() => document.querySelectorAll("#results li").length === 2);
    let since = Date.now();
    await hanako.click("#results li >> nth=0");
    await jiroSees("100001さくら", since);
    // Once the stage has it (it can be cancelled), the keypad's song comes after it.
    await hanako.waitForFunction(() => document.querySelectorAll("#waiting button.cancel").length === 1);
    since = Date.now();
    await command("keypad 100004");
    await jiroSees("100004夜明けの歌", since);

    // Hanako's song is next: her phone says so, vibrates once and retitles its tab; Jiro's says nothing.
    await hanako.waitForFunction(() => !document.querySelector("#turn").hidden);
    assert.strictEqual(await hanako.textContent("#turn"), "もうすぐあなたの番です100001 さくら");
    assert.match(await hanako.title(), /^もうすぐあなたの番です/);
    assert.strictEqual(await jiro.$eval("#turn", (turn) => turn.hidden), true);
    assert.strictEqual(await jiro.title(), "カラオケ予約");
    await hanako.screenshot({ path: path.join(work, "phone-next.png") });

    await command("next");
    await hanako.waitForFunction(() => document.querySelector("#turnText").textContent === "あなたの番です");
    assert.strictEqual(await hanako.textContent("#turn"), "あなたの番です100001 さくら");
    assert.deepStrictEqual(await hanako.evaluate(() => window.vibrations.length), 1);
    assert.deepStrictEqual(await jiro.evaluate(() => window.vibrations.length), 0);
    assert.strictEqual(await jiro.$eval("#turn", (turn) => turn.hidden), true);
    await hanako.screenshot({ path: path.join(work, "phone-now.png") });

    // The server drops every socket and comes back: the phone connects again and is up to date.
    await command("restart");
    since = Date.now();
    await command("keypad 100002");
    await jiroSees("100002サクラ咲く", since);
  } finally {
    await browser.close();
    server.stdin.end();
    await new Promise((resolve) => server.on("exit", resolve));
  }
});

// The room's memory on the fixture's play log: a star needs a name, then marks the song in every list;
// tonight's ranking counts the song playing; 頭文字 lists the songs by the first sound of their reading;
// a phone whose name the server does not know yet logs in by itself for the name's マイリスト.
test("stars, tonight's ranking and 頭文字 on a phone", async () => {
  const { server, port } = await startServer();
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const phone = async () => {
      const context = await browser.newContext({
        viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, locale: "ja-JP" });
      const page = await context.newPage();
      page.on("dialog", (dialog) => dialog.accept());
      await page.goto(`http://127.0.0.1:${port}/`);
      return page;
    };
    const texts = (page, list) => page.$$eval(list + " li", (items) => items.map((li) => li.textContent));
    const page = await phone();
    await page.fill("#query", "さくら");
    await page.click("#find");
    await page.waitForFunction(() => document.querySelectorAll("#results li").length === 2);
    await page.click("#results li >> nth=0 >> button.star");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("ログイン"));
    assert.deepStrictEqual(await texts(page, "#results"), ["☆100001さくら", "☆100002サクラ咲く"]);

    await page.fill("#name", "はなこ");
    await page.click("#login");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("ようこそ"));
    await page.click("#results li >> nth=0 >> button.star");
    await page.waitForFunction(() => document.querySelector("#results button.star").textContent === "★");

    await page.click("nav button[data-tab=initial]");
    await page.click('#kanaRows button:text-is("さ")');
    await page.click('#kanas button:text-is("さ")');
    await page.waitForFunction(() => document.querySelectorAll("#initialList li").length === 2);
    assert.deepStrictEqual(await texts(page, "#initialList"), ["★100001さくら", "☆100002サクラ咲く"]);
    await page.screenshot({ path: path.join(work, "phone-initial.png") });

    await page.click("nav button[data-tab=ranking]");
    await page.waitForFunction(() => document.querySelectorAll("#rankingList li.song").length === 1);
    assert.deepStrictEqual(await texts(page, "#rankingList"), ["☆1位100002サクラ咲く1回"]);

    const other = await phone();
    await other.fill("#name", "はなこ");
    await other.click("nav button[data-tab=favourites]");
    await other.waitForFunction(() => document.querySelectorAll("#favouritesList li.song").length === 1);
    assert.deepStrictEqual(await texts(other, "#favouritesList"), ["★100001さくら"]);
    assert.strictEqual(await other.textContent("#favouritesNote"), "");
  } finally {
    await browser.close();
    server.stdin.end();
    await new Promise((resolve) => server.on("exit", resolve));
  }
});
