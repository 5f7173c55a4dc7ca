// Puts the WebAssembly module and the worker's script into the page, so that kryvane.html is one
// file that needs nothing else: node inline.mjs PAGE WORKER MODULE OUTPUT
import { readFileSync, writeFileSync } from 'node:fs';

const [page, worker, module, output] = process.argv.slice(2);
const code = readFileSync(module, 'utf8') + '\n' + readFileSync(worker, 'utf8');
// The worker's source sits in a script element that the page never runs itself; a closing tag
// inside it would end that element early.
if (/<\/script|<!--/i.test(code)) throw new Error('the worker code holds "</script" or "<!--"');
const template = readFileSync(page, 'utf8');
const marker = '/*WORKER-SOURCE*/';
if (template.split(marker).length !== 2) throw new Error(`${page}: needs one ${marker}`);
writeFileSync(output, template.replace(marker, () => code));
