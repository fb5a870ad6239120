// Parses each PowerShell file named on the command line with the
// tree-sitter PowerShell grammar and prints every error or missing node as
// FILE:LINE:COLUMN; exits with 1 when any file has one.
const { Parser, Language } = require('web-tree-sitter');
const fs = require('fs');

function problems(tree) {
    const found = [];
    const walk = (node) => {
        if (node.isError || node.isMissing) {
            found.push(node);
            return;
        }
        for (const child of node.children)
            walk(child);
    };
    walk(tree.rootNode);
    return found;
}

(async () => {
    await Parser.init();
    const grammar = require.resolve('tree-sitter-powershell/tree-sitter-powershell.wasm');
    const parser = new Parser();
    parser.setLanguage(await Language.load(grammar));
    let failed = false;
    for (const file of process.argv.slice(2)) {
        for (const node of problems(parser.parse(fs.readFileSync(file, 'utf8')))) {
            const { row, column } = node.startPosition;
            const what = node.isMissing ? `missing ${node.type}` : 'syntax error';
            console.log(`${file}:${row + 1}:${column + 1}: ${what}`);
            failed = true;
        }
    }
    process.exit(failed ? 1 : 0);
})();
