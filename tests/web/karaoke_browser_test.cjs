// A phone in headless Chromium on the real program's guest pages (TARV_URL) while karaoke mode runs:
// the song the guest reserves on the keypad tab comes up under "playing" on the queue tab, and a song
// in the history is reserved again.
"use strict";
const { test } = require("node:test");
const assert = require("node:assert");
const path = require("node:path");
const { chromium } = require(process.env.PLAYWRIGHT_CORE);

test("a song reserved on a phone comes up as playing", async () => {
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const context = await browser.newContext({
      viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, locale: "ja-JP" });
    const page = await context.newPage();
    await page.goto(process.env.TARV_URL);
    await page.fill("#name", "ユキ");
    await page.click("nav button[data-tab=keypad]");
    for (const key of "100003") await page.click(`#keys button:text-is("${key}")`);
    await page.waitForFunction(() => document.querySelector("#keyTitle").textContent === "東京ナイトドライブ");
    await page.click('#keys button:text-is("予約")');
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("東京ナイトドライブ"));
    await page.click("nav button[data-tab=queue]");
    // The intro plays first; the page asks for the queue every 5 s.
    await page.waitForFunction(
      () => /東京ナイトドライブ.*ユキ/.test(document.querySelector("#playing").textContent), null, { timeout: 40000 });
    await page.screenshot({ path: path.join(process.env.TARV_WORK, "phone-playing.png") });
  } finally {
    await browser.close();
  }
});

// The room's memory on the real play log: a song sung at ♯2 is in 履歴 at ♯2, and one tap on 「もう一度」
// reserves it again at that key.
test("a song in the history is sung again at its key", async () => {
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const context = await browser.newContext({
      viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true, locale: "ja-JP" });
    const page = await context.newPage();
    await page.goto(process.env.TARV_URL);
    await page.fill("#name", "ユキ");
    await page.click("nav button[data-tab=keypad]");
    const reserve = async (number, title) => {
      for (const key of number) await page.click(`#keys button:text-is("${key}")`);
      await page.waitForFunction((t) => document.querySelector("#keyTitle").textContent === t, title);
      await page.click('#keys button:text-is("予約")');
      await page.waitForFunction((t) => document.querySelector("#message").textContent.includes(t), title);
      assert.strictEqual(await page.getAttribute("#message", "class"), "", await page.textContent("#message"));
    };
    await page.selectOption("#key", "2");
    await reserve("100003", "東京ナイトドライブ");
    // Sung after it, so that the song reserved again is still waiting when the queue is looked at.
    await reserve("100001", "夜明けのメロディー");

    // A play is in the history from its start; the tab reads it each time it is opened.
    const sung = "#historyList li:has-text('100003東京ナイトドライブ'):has-text('♯2 / 原曲テンポ')";
    for (let i = 0; i < 60 && !(await page.$(sung)); ++i) {
      await page.click("nav button[data-tab=history]");
      await page.waitForTimeout(1000);
    }
    const history = await page.$$eval("#historyList li", (items) => items.map((li) => li.textContent));
    assert.ok(await page.$(sung), "the history shows " + JSON.stringify(history) +
              await page.evaluate(() => fetch("/api/history").then((r) => r.text())));
    await page.screenshot({ path: path.join(process.env.TARV_WORK, "phone-history.png") });

    await page.click(sung + " >> button.again");
    await page.waitForFunction(() => document.querySelector("#message").textContent.includes("東京ナイトドライブ"));
    assert.strictEqual(await page.getAttribute("#message", "class"), "", await page.textContent("#message"));
    await page.click("nav button[data-tab=queue]");
    await page.waitForFunction(() => [...document.querySelectorAll("#waiting li")].some(
      (li) => /東京ナイトドライブ.*♯2 \/ 原曲テンポユキ/.test(li.textContent)));
  } finally {
    await browser.close();
  }
});
