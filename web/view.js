// How the page shows what a run wrote: sizes, long texts, the rows of mode
// l as a table, and the messages with the input lines they quote.  Long
// things are laid out a block at a time, one block a frame, so that the
// page answers at once however much there is to show.
'use strict';

const $ = (id) => document.getElementById(id);

function format_size(bytes) {
    const units = [[1 << 30, 'GB'], [1 << 20, 'MB'], [1 << 10, 'KB']];
    for (const [unit, name] of units) {
        if (bytes >= unit)
            return (bytes / unit).toLocaleString('de-DE', { maximumFractionDigits: 1 }) + ' ' + name;
    }
    return bytes + (bytes === 1 ? ' Byte' : ' Bytes');
}

// The note under a view that shows only the start of a stream.
function shown_note(shown, size) {
    return size > shown ? `[… nur die ersten ${format_size(shown)} gezeigt]` : '';
}

// Each view's pending blocks stop when it is shown anew.
const showing = new Map();

// Adds the blocks that make(from, times) returns ([element, next from], or
// null at the end) to the view, one a frame; data-complete tells when all
// are.  A make() that takes `times` makes its blocks that many times its
// size, up to `most` times: it doubles while the frames keep their pace
// (the browser laid the last block out in time) and halves when one runs
// late, so that a fast machine shows a long view in a few frames and a
// slow one still answers a tap at once.
const FRAME_IN_TIME = 25; // milliseconds from one frame to the next: 16.7 at 60 Hz

function show_blocks(view, make, most = 1) {
    const shown = (showing.get(view) || 0) + 1;
    showing.set(view, shown);
    view.textContent = '';
    let times = 1;
    let last = null; // when the last block was added
    const add = (from, now) => {
        if (showing.get(view) !== shown)
            return;
        if (last !== null)
            times = now - last <= FRAME_IN_TIME ? Math.min(2 * times, most) : Math.max(1, times / 2);
        last = now;
        const block = make(from, times);
        view.dataset.complete = String(!block);
        if (!block)
            return;
        view.append(block[0]);
        requestAnimationFrame((next) => add(block[1], next));
    };
    add(0, performance.now());
}

// A long text in blocks of whole lines: the 6,000 lines of a full view at
// once would keep the page busy for longer than a click should wait.  A
// block of 64 KB took the browser 20 to 37 ms of a fast processor to lay
// out (more than a frame), so the first blocks are a quarter of that, and
// grow to it only where the frames keep their pace.
const TEXT_BLOCK = 16 << 10;
const TEXT_BLOCK_TIMES = 4;

function show_text(view, text) {
    show_blocks(view, (from, times) => {
        if (from >= text.length)
            return null;
        const end = text.indexOf('\n', from + times * TEXT_BLOCK);
        const to = end < 0 ? text.length : end + 1;
        const block = document.createElement('div');
        block.textContent = text.slice(from, to);
        return [block, to];
    }, TEXT_BLOCK_TIMES);
}

// The fields of one row of mode l as a spreadsheet reads them: separated
// by semicolons, a field that begins with a double quote runs to the next
// lone one, and two quotes in it stand for one.
function row_fields(row) {
    const fields = [];
    for (let at = 0; ;) {
        let field = '';
        if (row[at] === '"') {
            for (++at; at < row.length; ++at) {
                if (row[at] === '"' && row[at + 1] === '"') {
                    field += '"';
                    ++at;
                } else if (row[at] === '"') {
                    ++at;
                    break;
                } else {
                    field += row[at];
                }
            }
        }
        const end = row.indexOf(';', at);
        field += row.slice(at, end < 0 ? row.length : end);
        fields.push(field);
        if (end < 0)
            return fields;
        at = end + 1;
    }
}

const COLUMNS = ['Kat', 'Nr', '\u2013', 'Typ', 'Inst', 'Durchm', 'ZQ', 'Vergr', 'fst', 'Sb', 'Bem', 'Filter'];
const TABLE_ROWS = 500; // rows of a large output shown as a table
// Rows laid out in the first frame (then more while frames keep their
// pace, see show_blocks): a row of twelve cells costs the browser about a
// millisecond to lay out on a slow machine, so a hundred at once made the
// page stall for longer than a tap should wait.  They grow to 80 rows at
// most: up to 640, a frame took as much as 62 ms of a fast processor, and
// with 80 the longest took 25 to 39 ms.
const TABLE_BLOCK = 20;
const TABLE_TIMES = 4;

// The rows of mode l in the text shown (whole rows only) as a table.
function show_table(table, note, text, size) {
    let rows = text.split('\r\n');
    rows.pop(); // after the last line end, or a row cut off by the view
    const all_shown = rows.length <= TABLE_ROWS && text.length === size;
    rows = rows.slice(0, TABLE_ROWS).map(row_fields);
    const width = Math.max(COLUMNS.length, ...rows.map((fields) => fields.length));
    const head = document.createElement('thead');
    const names = head.insertRow();
    for (let i = 0; i < width; ++i) {
        const cell = document.createElement('th');
        cell.scope = 'col';
        cell.textContent = i < COLUMNS.length ? COLUMNS[i] : '(mehr)';
        names.append(cell);
    }
    show_blocks(table, (from, times) => {
        if (from === 0)
            return [head, 1];
        const first = from - 1;
        if (first >= rows.length)
            return null;
        const body = document.createElement('tbody');
        const count = times * TABLE_BLOCK;
        for (const fields of rows.slice(first, first + count)) {
            const row = body.insertRow();
            for (let i = 0; i < width; ++i)
                row.insertCell().textContent = fields[i] === undefined ? '' : fields[i];
        }
        return [body, from + count];
    }, TABLE_TIMES);
    note.textContent = all_shown ? `${rows.length} Zeilen` : `Die ersten ${rows.length} Zeilen; alle im Text und in der Datei.`;
}

// The messages, each with the number of the input line it quotes; the
// message's own bytes stay as written (ISO 8859-1), only the line end is
// the list's.
const MESSAGE_BLOCK = 200;

function show_messages(list, text, lines) {
    const messages = text.split('\r\n');
    if (messages[messages.length - 1] === '')
        messages.pop();
    show_blocks(list, (from) => {
        if (from >= messages.length)
            return null;
        const block = document.createDocumentFragment();
        for (let i = from; i < Math.min(messages.length, from + MESSAGE_BLOCK); ++i) {
            const item = document.createElement('li');
            if (lines && lines[i]) {
                const where = document.createElement('span');
                where.className = 'line';
                where.textContent = `Zeile ${lines[i]}: `;
                item.append(where);
            }
            const message = document.createElement('code');
            message.textContent = messages[i];
            item.append(message);
            block.append(item);
        }
        return [block, from + MESSAGE_BLOCK];
    });
}

// Why a run that went well wrote nothing.
function empty_reason(mode, result) {
    if (result.input_size === 0)
        return 'Die Eingabe ist leer: es gibt nichts umzuwandeln.';
    if (!result.body) {
        return 'Die Eingabe hat nur eine Zeile, die Kopfzeile, die jeder Modus \u00fcberspringt: ' +
            'es gibt nichts umzuwandeln.';
    }
    if (mode === 'd' || mode === 'm')
        return 'Die Liste nennt keine Objekte, nur Buch (%) und Seite (#) oder nichts.';
    if (mode === 'l' || mode === 'i')
        return 'Die Liste hat keine Beobachtungen (Normalzeilen), nur %-Zeilen oder leere Zeilen.';
    return 'Die Liste hat nach der Kopfzeile nur leere Zeilen.';
}
