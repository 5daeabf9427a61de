'use strict';
// The npm package as an application's main process uses it, run by a Windows node.exe from the
// scratch project it is installed in; child_probe.exe (beside this file) stands in for the shipped
// helper and logs its arguments and directory. The layout's names need quoting and hold CJK and a
// character outside the BMP, which the package passes on as UTF-16.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const update = require('vellomar-update');

const scratch = path.join(__dirname, 'scratch');
const install = path.join(scratch, 'app \u65e5\u672c \u{1F600}');
const helper = path.join(install, 'vellomar-update.exe');
const downloads = path.join(scratch, '\u4e0b\u8f7d dl');
const pkg = path.join(downloads, 'setup 2.exe');
const state = path.join(scratch, 'state \u{1F600}');
const record = path.join(state, 'vellomar-update.pending');
const log = path.join(scratch, 'helper.log');
const shippedLog = path.join(scratch, 'shipped.log');
const launch = path.join(install, 'app.exe');
const version = '2.0 "rc" \u65e5\u672c';
const request = { helper, package: pkg, launch, installDir: install, version, stateDir: state };
// The copy runs beside the package or in the state directory; a probe configuration waits at both.
const copies = [downloads, state].map((directory) => path.join(directory, 'vellomar-update.handover.exe'));

const ERROR_ALREADY_EXISTS = 183;
const ERROR_BAD_PATHNAME = 161;
const ERROR_NOT_FOUND = 1168;

function sleep(ms) {
  Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
}

function pollUntil(condition, limitMs) {
  for (const end = Date.now() + limitMs; Date.now() < end; sleep(50)) {
    if (condition()) return true;
  }
  return condition();
}

function running(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

// child_probe's records: run, time, command line, directory, std=..., argv joined by U+001F.
function probeRecords() {
  const text = fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '';
  return text.split('\n').filter((line) => line.startsWith('run ')).map((line) => {
    const stdStart = line.indexOf('\tstd=');
    const directoryStart = line.lastIndexOf('\t', stdStart - 1);
    return { directory: line.slice(directoryStart + 1, stdStart), argv: line.slice(stdStart + 9).split('\x1f') };
  });
}

function waitForRecords(count) {
  let records = [];
  pollUntil(() => (records = probeRecords()).length >= count, 20000);
  return records;
}

function placeCopyConfiguration(sleepMs) {
  for (const copy of copies) fs.writeFileSync(`${copy}.probe`, `log=${log}\nsleep_ms=${sleepMs}\n`);
}

// Starts the probe helper, checks what it received, and returns its pid.
function startAndCheck(expectedRuns) {
  const pid = update.startUpdate(request);
  assert.equal(typeof pid, 'number');
  const records = waitForRecords(expectedRuns);
  assert.equal(records.length, expectedRuns, 'the helper copy did not run');
  const { argv, directory } = records[expectedRuns - 1];
  assert.ok(copies.includes(argv[0]), `unexpected copy ${argv[0]}`);
  assert.deepEqual(argv, [argv[0], '--pid', String(process.pid), '--installer', pkg, '--launch', launch,
                          '--install-dir', install, '--version', version]);
  assert.equal(directory, path.dirname(argv[0]));
  assert.equal(path.dirname(argv[0]), path.resolve(state), 'the copy runs outside the state folder');
  assert.ok(fs.existsSync(record), 'no pending-update record');
  assert.ok(!fs.existsSync(shippedLog), 'the installed helper ran');
  return pid;
}

function expectCode(call, code) {
  assert.throws(call, (error) => error instanceof Error && error.code === code && error.message.includes(String(code)));
}

const checks = [
  ['the package carries the helper and the DLL', () => {
    assert.ok(fs.statSync(update.helperPath).size > 0);
    assert.ok(fs.statSync(update.dllPath).size > 0);
  }],
  ['start: the copy gets the exact arguments and runs in the state folder; in progress, one at a time; cancel', () => {
    placeCopyConfiguration(60000);
    const pid = startAndCheck(1);
    assert.ok(running(pid));
    assert.equal(update.updateOutcome(state, '1.0'), 'in-progress');
    expectCode(() => update.startUpdate(request), ERROR_ALREADY_EXISTS);
    assert.ok(fs.existsSync(record));
    update.cancelUpdate(pid, state);
    assert.ok(!running(pid));
    assert.ok(!fs.existsSync(record));
    expectCode(() => update.cancelUpdate(pid, state), ERROR_NOT_FOUND);
  }],
  ['outcome: updated for the version handed over, then none', () => {
    placeCopyConfiguration(0);
    const pid = startAndCheck(2);
    assert.ok(pollUntil(() => !running(pid), 30000));
    // What an installer leaves: a new launch file.
    fs.writeFileSync(`${launch}.new`, 'v2');
    fs.renameSync(`${launch}.new`, launch);
    assert.equal(update.updateOutcome(state, ` ${version}\n`), 'updated');
    assert.equal(update.updateOutcome(state, version), 'none');
  }],
  ['outcome: not-applied for another version, the package stays', () => {
    fs.writeFileSync(pkg, 'package');
    const pid = startAndCheck(3);
    assert.ok(pollUntil(() => !running(pid), 30000));
    assert.equal(update.updateOutcome(state, '1.0'), 'not-applied');
    assert.ok(fs.existsSync(pkg));
    assert.equal(update.updateOutcome(state, '1.0'), 'none');
  }],
  ['errors are thrown with the Win32 code', () => {
    expectCode(() => update.startUpdate({ ...request, package: 'setup 2.exe' }), ERROR_BAD_PATHNAME);
    expectCode(() => update.updateOutcome('state', '1.0'), ERROR_BAD_PATHNAME);
    assert.equal(probeRecords().length, 3, 'a refused start ran the helper');
  }],
  ['canUpdateSilently: only an existing folder given in full', () => {
    assert.equal(update.canUpdateSilently(install), true);
    assert.equal(update.canUpdateSilently(path.join(state, 'missing')), false);
    assert.equal(update.canUpdateSilently(pkg), false);
    assert.equal(update.canUpdateSilently('state'), false);
  }],
];

fs.rmSync(scratch, { recursive: true, force: true });
for (const directory of [install, downloads, state]) fs.mkdirSync(directory, { recursive: true });
fs.copyFileSync(path.join(__dirname, 'child_probe.exe'), helper);
fs.writeFileSync(`${helper}.probe`, `log=${shippedLog}\n`);
fs.writeFileSync(pkg, 'package');
fs.writeFileSync(launch, 'v1');

let failed = 0;
for (const [name, check] of checks) {
  try {
    check();
    console.log(`ok - ${name}`);
  } catch (error) {
    failed += 1;
    console.log(`not ok - ${name}\n  ${String(error && error.stack).split('\n').join('\n  ')}`);
  }
}
console.log(`node ${process.version}, koffi ${require('koffi/package.json').version}: ` +
            `${checks.length - failed} of ${checks.length} checks passed`);
process.exitCode = failed === 0 ? 0 : 1;
