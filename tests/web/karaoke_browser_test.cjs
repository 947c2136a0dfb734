// A phone in headless Chromium on the real program's guest pages (TARV_URL) while karaoke mode runs:
// the song the guest reserves on the keypad tab comes up under "playing" on the queue tab.
"use strict";
const { test } = require("node:test");
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
