'use strict';
// The handover library's four calls for a Node or Electron main process, over koffi, with the DLL and
// the helper that this package carries in bin/.

const path = require('node:path');

// Windows cannot load a DLL or copy a program out of an Electron asar archive: the packager must
// unpack bin/ beside it (electron-builder's asarUnpack), and these paths then name the unpacked files.
const binDir = path.join(__dirname, 'bin').replace(/([\\/])app\.asar([\\/])/, '$1app.asar.unpacked$2');
const helperPath = path.join(binDir, 'vellomar-update.exe');
const dllPath = path.join(binDir, 'vellomar_handover.dll');

// In the order of VellomarOutcome.
const outcomeNames = ['none', 'updated', 'not-applied', 'in-progress'];

// koffi and the DLL are loaded at the first call, so that a build script can read helperPath on any system.
let calls = null;

function load() {
  if (calls !== null) return calls;
  const koffi = require('koffi');
  const lib = koffi.load(dllPath);
  // VellomarUpdateRequest, without a name: koffi's names are global to the process, where another copy
  // of this package would declare it again.
  const request = koffi.struct({
    helper: 'str16', package: 'str16', launch: 'str16', install_dir: 'str16', version: 'str16', state_dir: 'str16',
  });
  const kernel32 = koffi.load('kernel32.dll');
  calls = {
    start: lib.func('vellomar_start_update', 'uint32_t',
                    [koffi.pointer(request), koffi.out(koffi.pointer('uint32_t'))]),
    cancel: lib.func('uint32_t vellomar_cancel_update(uint32_t helper_pid, str16 state_dir)'),
    outcome: lib.func('uint32_t vellomar_update_outcome(str16 state_dir, str16 running_version, _Out_ int *outcome)'),
    silent: lib.func('int vellomar_can_update_silently(str16 install_dir)'),
    formatMessage: kernel32.func('uint32_t FormatMessageW(uint32_t flags, void *source, uint32_t id, ' +
                                 'uint32_t language, void *buffer, uint32_t size, void *arguments)'),
  };
  return calls;
}

// The system's text for a Win32 error, in the user's language; empty when it has none.
function systemText(code) {
  const FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
  const FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
  const buffer = Buffer.alloc(2048);
  const length = calls.formatMessage(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, null, code, 0,
                                     buffer, buffer.length / 2, null);
  return buffer.toString('utf16le', 0, length * 2).trim();
}

function check(functionName, code) {
  if (code === 0) return;
  const text = systemText(code);
  const error = new Error(`${functionName} failed with Win32 error ${code}${text ? `: ${text}` : ''}`);
  error.code = code;
  error.syscall = functionName;
  throw error;
}

// Absent fields become NULL.
function given(value) {
  return value === undefined ? null : value;
}

function startUpdate(request) {
  const { start } = load();
  const helperPid = [0];
  check('vellomar_start_update', start({
    helper: given(request.helper === undefined ? helperPath : request.helper),
    package: given(request.package),
    launch: given(request.launch),
    install_dir: given(request.installDir),
    version: given(request.version),
    state_dir: given(request.stateDir),
  }, helperPid));
  return helperPid[0];
}

function cancelUpdate(helperPid, stateDir) {
  check('vellomar_cancel_update', load().cancel(helperPid, given(stateDir)));
}

function updateOutcome(stateDir, runningVersion) {
  const outcome = [0];
  check('vellomar_update_outcome', load().outcome(given(stateDir), given(runningVersion), outcome));
  return outcomeNames[outcome[0]];
}

function canUpdateSilently(installDir) {
  return load().silent(given(installDir)) === 1;
}

module.exports = { startUpdate, cancelUpdate, updateOutcome, canUpdateSilently, helperPath, dllPath };
