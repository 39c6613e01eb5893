// A third-party Ember+ consumer against qz81kt serve:
//   node consumer.js PORT UNIT=SYSTEM_BYTES ...   (SYSTEM_BYTES: the unit's system block, comma list)
// Walks each unit, compares its settings with the device's block, writes a setting and a
// preset field, and checks that a second consumer hears the values read back.
'use strict'
const { EmberClient } = require('@phillipivan/emberplus-connection')

const port = Number(process.argv[2])
const units = process.argv.slice(3).map((a) => ({ id: a.split('=')[0], system: a.split('=')[1].split(',').map(Number) }))
const kSysFan = 15, kSysDirection = 1

function fail(message) {
    console.error('FAIL (ember consumer): ' + message)
    process.exit(1)
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms))
async function waitFor(what, pred, ms = 8000) {
    for (const end = Date.now() + ms; Date.now() < end; await sleep(50)) if (await pred()) return
    fail('timed out waiting for ' + what)
}
async function open() {
    // The client connects by itself when it is made; a connect() within its reconnect
    // delay would never settle, so wait for its event instead.
    const c = new EmberClient('127.0.0.1', port)
    c.on('error', () => {})
    await new Promise((resolve) => {
        const timer = setTimeout(() => fail('cannot connect to port ' + port), 5000)
        c.once('connected', () => {
            clearTimeout(timer)
            resolve()
        })
    })
    await (await c.getDirectory(c.tree)).response
    return c
}
async function element(c, path) {
    const e = await c.getElementByPath(path)
    if (!e) fail('no element ' + path)
    return e
}
const value = (e) => e.contents.value

async function main() {
    const c1 = await open(), c2 = await open()
    for (const u of units) {
        await waitFor(u.id + ' online', async () => {
            const e = await c1.getElementByPath('qz81kt.units.' + u.id).catch(() => undefined)
            return e && e.contents.isOnline !== false
        })
        const fan = await element(c1, `qz81kt.units.${u.id}.settings.fan`)
        const direction = await element(c1, `qz81kt.units.${u.id}.settings.direction`)
        if (value(fan) !== u.system[kSysFan]) fail(`${u.id} fan ${value(fan)}, the device holds ${u.system[kSysFan]}`)
        if (value(direction) !== (u.system[kSysDirection] ? 1 : 0)) fail(`${u.id} direction ${value(direction)}`)
        const summary = await element(c1, `qz81kt.units.${u.id}.presets.preset-0.summary`)
        if (!String(value(summary)).startsWith('0')) fail(`${u.id} preset 0 summary "${value(summary)}"`)
    }
    // Writes on the last unit: the requester gets the read-back, the second consumer hears it.
    const u = units[units.length - 1]
    for (const [path, wanted] of [[`settings.fan`, 1 - u.system[kSysFan]], [`presets.preset-1.codec`, 1]]) {
        const full = `qz81kt.units.${u.id}.${path}`
        const watched = await element(c2, full)
        const answer = await (await c1.setValue(await element(c1, full), wanted)).response
        if (!answer || value(answer) !== wanted) fail(`${full}: answered ${answer && value(answer)}, wanted ${wanted}`)
        await waitFor(`${full} at the second consumer`, () => value(watched) === wanted)
    }
    console.log('ember consumer: ' + units.map((x) => x.id).join(', ') + ' walked, written, read back')
    await c1.disconnect()
    await c2.disconnect()
    process.exit(0)
}
main().catch((e) => fail(e && e.stack ? e.stack : String(e)))
