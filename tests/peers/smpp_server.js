#!/usr/bin/env node
// An SMPP centre for the tests, built on the npm `smpp` package (0.5.1, pinned in
// tests/peers/npm). Listens on 127.0.0.1 and an ephemeral port; the port is the
// first line on stdout, then one JSON line per received PDU and per connection.
// Ends when stdin closes, so a crashed test leaves no server behind.
//
// Options:
//   --modules DIR        node_modules holding `smpp` (required)
//   --key FILE --cert FILE   serve TLS with this PEM key and certificate
//   --bind-status N      command_status of bind_transmitter_resp (default 0)
//   --submit-status N    command_status of submit_sm_resp (default 0)
//   --no-bind-answer     read binds but never answer them
//   --query-state N      message_state of query_sm_resp (default 6)
//   --id-prefix TEXT     message ids are TEXT1, TEXT2, ... across connections (default "id")
'use strict';
const fs = require('fs');
const path = require('path');

const opts = {bindStatus: 0, submitStatus: 0, answerBind: true, queryState: 6, idPrefix: 'id'};
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; ++i) {
  const next = () => argv[++i];
  switch (argv[i]) {
    case '--modules': opts.modules = next(); break;
    case '--key': opts.key = next(); break;
    case '--cert': opts.cert = next(); break;
    case '--bind-status': opts.bindStatus = Number(next()); break;
    case '--submit-status': opts.submitStatus = Number(next()); break;
    case '--no-bind-answer': opts.answerBind = false; break;
    case '--query-state': opts.queryState = Number(next()); break;
    case '--id-prefix': opts.idPrefix = next(); break;
    default:
      process.stderr.write('unknown option ' + argv[i] + '\n');
      process.exit(2);
  }
}

const smpp = require(path.join(opts.modules || '', 'smpp'));
// Keep short_message as the bytes on the wire: the package would otherwise
// decode it by data_coding (GSM 03.38 for 0) and hide what was really sent.
delete smpp.commands.submit_sm.params.short_message.filter;

function record(obj) {
  process.stdout.write(JSON.stringify(obj) + '\n');
}

function describe(pdu) {
  const out = {command: pdu.command, command_id: pdu.command_id, sequence: pdu.sequence_number,
               status: pdu.command_status};
  for (const key of Object.keys(pdu)) {
    if (key in out || key === 'command_length' || key === 'command_status' || key === 'sequence_number')
      continue;
    const v = pdu[key];
    if (Buffer.isBuffer(v)) {
      out[key + '_hex'] = v.toString('hex');
      out[key] = v.toString('latin1');
    } else if (typeof v === 'string' || typeof v === 'number') {
      out[key] = v;
    }
  }
  return out;
}

let nextId = 0;

function serve(session) {
  record({event: 'session'});
  session.on('close', () => record({event: 'close'}));
  session.on('error', (e) => record({event: 'error', message: String(e && e.message)}));
  session.on('pdu', (pdu) => {
    record(describe(pdu));
    switch (pdu.command) {
      case 'bind_transmitter':
        if (!opts.answerBind) return;
        if (opts.bindStatus) session.send(pdu.response({command_status: opts.bindStatus}));
        else session.send(pdu.response({system_id: 'NPMSMSC'}));
        return;
      case 'submit_sm':
        if (opts.submitStatus) session.send(pdu.response({command_status: opts.submitStatus}));
        else session.send(pdu.response({message_id: opts.idPrefix + String(++nextId)}));
        return;
      case 'query_sm':
        session.send(pdu.response({message_id: pdu.message_id, final_date: '',
                                   message_state: opts.queryState, error_code: 0}));
        return;
      case 'enquire_link':
        session.send(pdu.response());
        return;
      case 'unbind':
        session.send(pdu.response(), () => session.close());
        return;
      default:
        if (!pdu.isResponse()) session.send(pdu.response({command_status: smpp.ESME_RINVCMDID}));
    }
  });
}

const serverOptions = {};
if (opts.key && opts.cert) {
  serverOptions.key = fs.readFileSync(opts.key);
  serverOptions.cert = fs.readFileSync(opts.cert);
}
const server = smpp.createServer(serverOptions, serve);
server.listen(0, '127.0.0.1', () => record(server.address().port));

process.stdin.on('data', () => {});
process.stdin.on('end', () => process.exit(0));
process.stdin.on('error', () => process.exit(0));
