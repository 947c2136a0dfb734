// The host's phone page in headless Chromium against the real server, with a guest's phone beside it.
// Environment: TARV_FIXTURE (the fixture program), TARV_WORK (a scratch folder), PLAYWRIGHT_CORE.
"use strict";
const { test } = require("node:test");
const assert = require("node:assert");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");
const { chromium } = require(process.env.PLAYWRIGHT_CORE);

const work = process.env.TARV_WORK;
const app = path.join(work, "host-app");

function startServer() {
  fs.rmSync(app, { recursive: true, force: true });
  const server = spawn(process.env.TARV_FIXTURE, [app], { stdio: ["pipe", "pipe", "inherit"] });
  return new Promise((resolve, reject) => {
    let out = "";
    server.stdout.on("data", (chunk) => {
      out += chunk;
      const match = /port (\d+)/.exec(out);
      if (match) resolve({ server, port: Number(match[1]) });
    });
    server.on("exit", (code) => reject(new Error("fixture ended with " + code)));
  });
}

const reserve = (page, number) => page.evaluate(async (n) => {
  const r = await fetch("/api/reserve", { method: "POST", headers: { "Content-Type": "application/json" },
                                          body: JSON.stringify({ number: n, name: "はなこ" }) });
  return r.status;
}, number);
const hostTexts = (page) => page.$$eval("#waiting li", (items) => items.map((li) => li.querySelector(".num").textContent));

test("the host logs in with the PIN, moves a song, skips and stops a phone", async () => {
  const { server, port } = await startServer();
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const phone = await (await browser.newContext({ viewport: { width: 360, height: 740 }, isMobile: true })).newPage();
    await phone.goto(`http://127.0.0.1:${port}/`);
    assert.strictEqual(await reserve(phone, "100001"), 200);
    assert.strictEqual(await reserve(phone, "100004"), 200);

    const host = await (await browser.newContext({ viewport: { width: 360, height: 740 }, isMobile: true })).newPage();
    host.on("dialog", (dialog) => dialog.accept());
    await host.goto(`http://127.0.0.1:${port}/host`);
    // A guest without the PIN sees the login form and nothing of the host's.
    assert.ok(await host.isVisible("#pin"));
    assert.ok(!(await host.isVisible("#skip")));
    await host.fill("#pin", "000000" === fs.readFileSync(path.join(app, "db/hostpin.txt"), "latin1").trim() ? "000001" : "000000");
    await host.click("#login");
    await host.waitForFunction(() => document.querySelector("#message").textContent.includes("PIN が違います"));
    await host.fill("#pin", fs.readFileSync(path.join(app, "db/hostpin.txt"), "latin1").trim());
    await host.click("#login");
    await host.waitForFunction(() => document.querySelectorAll("#waiting li button").length > 0);
    assert.deepStrictEqual(await hostTexts(host), ["100001", "100004"]);
    assert.match(await host.textContent("#waiting li >> nth=0"), /はなこ（スマホ）/);
    await host.screenshot({ path: path.join(work, "host-queue.png") });

    // 先頭へ on the second song, then スキップ: it plays next, at once.
    await host.click("#waiting li >> nth=1 >> button:text-is('先頭へ')");
    await host.waitForFunction(() => document.querySelector("#waiting li .num").textContent === "100004");
    await host.click("#skip");
    await host.waitForFunction(() => (document.querySelector("#playing li .num") || {}).textContent === "100004");
    assert.deepStrictEqual(await hostTexts(host), ["100001"]);

    // The phone that reserved it is stopped: its next reservation is refused.
    await host.click("#waiting li >> nth=0 >> button:text-is('このスマホを止める')");
    await host.waitForFunction(() => document.querySelector("#waiting li .tag.stop") !== null);
    assert.strictEqual(await reserve(phone, "100001"), 403);
    await host.screenshot({ path: path.join(work, "host-blocked.png") });
  } finally {
    await browser.close();
    server.stdin.end();
    await new Promise((resolve) => server.on("exit", resolve));
  }
});
