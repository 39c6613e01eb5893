// Debian's Chromium, headless, with a fresh profile and nothing that reaches out to the
// network by itself; never a browser a tool downloads. close() removes the profile.
"use strict";
const { chromium } = require("playwright-core");
const fs = require("fs");
const os = require("os");
const path = require("path");

async function launchChromium(options = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "qz81kt-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    ...options,
  });
  const page = context.pages()[0] || (await context.newPage());
  const close = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, page, close };
}

module.exports = { launchChromium };
