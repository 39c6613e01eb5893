#!/usr/bin/env bash
# Remakes docs/web-rack.png and docs/web-unit.png: two qz81kt-emu units on a private JACK
# dummy server, "qz81kt serve --http", and Debian's headless Chromium (driven by
# playwright-core from tests/e2e/web) on the rack page and on the first unit's page.
# usage: docs/make-web-screenshots.sh [BUILD_DIR]
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
server_script="$here/../tests/support/jack-dummy-server.sh"
work=$(mktemp -d)
pids=()
[[ -d $here/../tests/e2e/web/node_modules ]] ||
    npm ci --prefix "$here/../tests/e2e/web" --no-audit --no-fund --loglevel=error >/dev/null
read -r server _ < <(bash "$server_script" start "qz81kt-screenshots-$$")
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
finish() {
    for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    bash "$server_script" stop "$server"
    rm -rf "$work"
}
trap finish EXIT
"$build/emulator/program/qz81kt-emu" --api jack --name QZ-81KT-A --product-id STUDIO-A-01 >/dev/null 2>&1 &
pids+=($!)
"$build/emulator/program/qz81kt-emu" --api jack --name QZ-81KT-B --product-id OB-VAN-02 >/dev/null 2>&1 &
pids+=($!)
sleep 1
port=$((20000 + ($$ + 13) % 20000))
"$build/cli/qz81kt" --api jack serve --http "127.0.0.1:$port" >"$work/serve.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [[ $(grep -c " online on " "$work/serve.log") -ge 2 ]] && break
    sleep 0.1
done
NODE_PATH="$here/../tests/e2e/web/node_modules" PORT=$port OUT="$here" BROWSER="$here/../tests/e2e/web/browser.js" node -e '
(async () => {
  const { page, close } = await require(process.env.BROWSER).launchChromium({ viewport: { width: 1000, height: 560 } });
  const base = "http://127.0.0.1:" + process.env.PORT;
  await page.goto(base + "/");
  await page.waitForSelector(".card >> nth=1");
  await page.waitForTimeout(1500);
  await page.screenshot({ path: process.env.OUT + "/web-rack.png" });
  await page.setViewportSize({ width: 1000, height: 1250 });
  await page.click(".card h2 a");
  await page.waitForSelector("form.settings");
  await page.waitForTimeout(1000);
  await page.screenshot({ path: process.env.OUT + "/web-unit.png" });
  await close();
})();'
echo "wrote $here/web-rack.png and $here/web-unit.png"
