// The same work as regex_bench.cpp with node's RegExp, for comparison:
// build the expression, run it over the page, and take groups 2, 4 and 6 of
// every match.
//
//   node regex_bench.js <page, UTF-8> <pattern, UTF-8> <rounds>
//
// Prints one line: the best time in milliseconds, the match count, and a
// check figure (the lengths of groups 2 and 6 and the number of non-empty
// groups 4) for the C++ side to compare.
'use strict';
const fs = require('fs');

const [pagePath, patternPath, roundsText] = process.argv.slice(2);
const page = fs.readFileSync(pagePath, 'utf8');
const source = fs.readFileSync(patternPath, 'utf8');
const rounds = Number(roundsText) || 10;

// The expression object's dot stops only at a line feed, node's also at CR
// and the Unicode line separators; spell out the object's meaning.
function translateDots(pattern) {
  let out = '';
  let inClass = false;
  for (let i = 0; i < pattern.length; ++i) {
    const c = pattern[i];
    if (c === '\\') {
      out += c + (pattern[i + 1] ?? '');
      ++i;
    } else if (inClass) {
      if (c === ']') inClass = false;
      out += c;
    } else if (c === '[') {
      inClass = true;
      out += c;
    } else {
      out += c === '.' ? '[^\\n]' : c;
    }
  }
  return out;
}
const pattern = translateDots(source);

function harvest() {
  const expression = new RegExp(pattern, 'gim');
  const matches = [...page.matchAll(expression)];
  let check = 0;
  for (const match of matches) {
    const id = match[2] ?? '';
    const slug = match[4] ?? '';
    const media = match[6] ?? '';
    check += id.length + media.length + (slug.length > 0 ? 1 : 0);
  }
  return [matches.length, check];
}

let best = Infinity;
let result = [0, 0];
for (let round = 0; round < rounds; ++round) {
  const start = process.hrtime.bigint();
  result = harvest();
  const elapsed = Number(process.hrtime.bigint() - start) / 1e6;
  best = Math.min(best, elapsed);
}
console.log(`${best.toFixed(3)} ${result[0]} ${result[1]}`);
