// The side-by-side peer of bench/engine_bench.py: romanizes a UTF-8 names file, one name per line,
// with @napi-rs/pinyin (a general pinyin library, installed into bench/node_modules by the bench
// script for the comparison only), toneless, syllables separated by a space, one line per name.
//   node peer_pinyin.js SOURCE TARGET [whole|lines]
// whole: the text in one call of its fastest API (pinyinString), line ends passed through;
// lines: one call per name.
'use strict';
const fs = require('fs');
const { pinyinString } = require('@napi-rs/pinyin');

const [, , source, target, mode = 'whole'] = process.argv;
const text = fs.readFileSync(source, 'utf8');
const options = { style: 0 /* PINYIN_STYLE.Plain */, separator: ' ' };
let out;
if (mode === 'lines') {
  const names = text.split(/\r\n|\r|\n/);
  if (names.length && names[names.length - 1] === '') names.pop();
  out = names.map((name) => pinyinString(name, options)).join('\r\n') + '\r\n';
} else {
  out = pinyinString(text, options);
}
fs.writeFileSync(target, out);
