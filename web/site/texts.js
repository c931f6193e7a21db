// The page's words, in Japanese (the window's: 開く, 変換, 保存, バージョン情報) and in English,
// chosen by the user or the browser's first language. Reasons and warnings are the converter's, as ugi2sgf
// prints them but for its hints: the page follows a reason with a hint of its own, which names the
// control of the page that gives another outcome.

// Says a result as SGF writes it (B+R, W+1.5, B+T, B+F, B+, 0, Draw, Void) in words; any other
// value as it is.
function resultWords(re, words) {
    const value = (re || '').trim();
    if (/^(0|draw|jigo)$/i.test(value))
        return words.draw;
    if (/^void$/i.test(value))
        return words.none;
    const won = /^([BW])\+(.*)$/i.exec(value);
    if (!won)
        return value;
    const colour = words[won[1].toUpperCase()];
    const how = won[2];
    if (/^r(esign)?$/i.test(how))
        return words.resign(colour);
    if (/^t(ime)?$/i.test(how))
        return words.time(colour);
    if (/^f(orfeit)?$/i.test(how))
        return words.forfeit(colour);
    if (/^\d+(\.\d+)?$/.test(how))
        return words.points(colour, how);
    return how === '' ? words.win(colour) : value;
}
const ja = {
    title: 'Quillarn — UGI の棋譜を SGF に変換',
    tagline: 'UGI の棋譜を SGF に変換します。ファイルはこの端末の中で変換され、どこにも送られません。',
    about: 'バージョン情報',
    open: '開く',
    openFolder: 'フォルダを開く',
    convert: '変換',
    encoding: '文字コード',
    encodingUtf8: 'UTF-8（推奨）',
    encodingCp932: 'Shift_JIS（cp932）',
    sourceEncoding: '元の文字コード',
    sourceAuto: '自動',
    strict: '警告のある棋譜は失敗にする（--strict）',
    hints: {
        'not-in-code-page-932': '（文字コードを UTF-8 にすると書けます）',
        'also-valid-utf-8': '（元の文字コードを UTF-8 にすると、そう読みます）',
        'also-valid-cp932': '（元の文字コードを Shift_JIS にすると、そう読みます）',
    },
    save: '保存',
    saveAll: 'すべて保存',
    saveFolder: 'フォルダに保存',
    records: '棋譜',
    dropHint: '.ugi ファイルかフォルダをここにドロップするか、「開く」を押してください。',
    dropHere: 'ここにドロップ',
    waiting: '変換中…',
    cancel: '中止',
    notConverted: '中止したため変換していません',
    conversionStopped: (done, left) => `中止しました。変換 ${done} 件、未変換 ${left} 件`,
    saveStopped: (done, left) => `保存を中止しました。保存 ${done} 件、未保存 ${left} 件`,
    converted: '変換しました',
    convertedWithWarnings: (n) => `変換しました（警告 ${n} 件）`,
    failed: '失敗',
    progress: (done, total) => `${total} 件中 ${done} 件`,
    summary: (converted, warned, failed) =>
        `変換 ${converted} 件${warned ? `（警告あり ${warned} 件）` : ''}、失敗 ${failed} 件`,
    preview: 'プレビュー',
    noSelection: '棋譜を選ぶと盤面が表示されます。',
    noBoard: 'この棋譜の盤面は表示できません（盤の大きさが 2 から 25 の数ではありません）。',
    failedRecord: 'この棋譜は変換できませんでした:',
    board: (size, move, moves, last) => `盤面（${size} 路、${moves} 手中 ${move} 手目${last ? `、${last}` : ''}）`,
    // The last move for a screen reader: 黒 Q16, 白 パス.
    lastMove: (black, point) => `${black ? '黒' : '白'} ${point || 'パス'}`,
    // A result as SGF writes it (B+R, W+1.5, 0), in words.
    resultWords: (re) => resultWords(re, {
        B: '黒', W: '白', resign: (c) => `${c}中押し勝ち`, time: (c) => `${c}時間切れ勝ち`,
        forfeit: (c) => `${c}反則勝ち`, points: (c, n) => `${c} ${n} 目勝ち`, win: (c) => `${c}勝ち`,
        draw: 'ジゴ', none: '無勝負' }),
    place: '場所',
    moveNumbers: '手順を表示',
    bookCoordinates: '一～十九の座標',
    saveImage: '画像を保存',
    black: '黒',
    white: '白',
    result: '結果',
    date: '日付',
    handicap: '置石',
    komi: 'コミ',
    move: '手数',
    moveOf: (move, moves) => `${move} / ${moves} 手`,
    captures: (black, white) => `アゲハマ　黒 ${black}・白 ${white}`,
    first: '最初',
    previous: '前の手',
    next: '次の手',
    last: '最後',
    zipLeftOut: (n) => `失敗した ${n} 件は ZIP に入っていません:`,
    zipSaved: (n) => `${n} 件を quillarn-sgf.zip に保存しました。`,
    zipping: (done, total) => `ZIP を作成中… ${done} / ${total}`,
    folderSaved: (written, skipped, failed) =>
        `フォルダに ${written} 件を保存しました` + (skipped ? `、${skipped} 件はそのままにしました` : '') +
        (failed ? `、${failed} 件は保存できませんでした` : '') + '。',
    replaceTitle: 'ファイルは既にあります',
    replaceQuestion: (name) => `${name} は既にあります。置き換えますか？`,
    replace: '置き換える',
    keep: '置き換えない',
    cancel: '中止',
    forAll: '残りのファイルにも同じようにする',
    aboutText: 'UGI の棋譜を SGF に変換します。変換はこのブラウザの中で行われ、ファイルは送られません。一度開けばオフラインでも使えます。',
    version: (v) => `バージョン ${v}`,
    licence: 'MIT ライセンス',
    close: '閉じる',
    readFailed: '読めませんでした',
    newVersion: '新しい版があります',
    reload: '再読み込み',
    unavailable: '変換器を読み込めませんでした:',
};

const en = {
    title: 'Quillarn — convert UGI Go records to SGF',
    tagline: 'Converts UGI game records into SGF. Files are converted on this device and sent nowhere.',
    about: 'About',
    open: 'Open',
    openFolder: 'Open folder',
    convert: 'Conversion',
    encoding: 'Encoding',
    encodingUtf8: 'UTF-8 (recommended)',
    encodingCp932: 'Shift_JIS (cp932)',
    sourceEncoding: 'Source encoding',
    sourceAuto: 'Automatic',
    strict: 'Fail records with warnings (--strict)',
    hints: {
        'not-in-code-page-932': ' (Encoding UTF-8 writes it)',
        'also-valid-utf-8': ' (Source encoding UTF-8 reads it so)',
        'also-valid-cp932': ' (Source encoding Shift_JIS reads it so)',
    },
    save: 'Save',
    saveAll: 'Save all',
    saveFolder: 'Save to folder',
    records: 'Records',
    dropHint: 'Drop .ugi files or folders here, or press Open.',
    dropHere: 'Drop here',
    waiting: 'Converting…',
    cancel: 'Stop',
    notConverted: 'Not converted: stopped',
    conversionStopped: (done, left) => `Stopped: ${done} converted, ${left} not converted`,
    saveStopped: (done, left) => `Saving stopped: ${done} saved, ${left} not saved`,
    converted: 'Converted',
    convertedWithWarnings: (n) => `Converted (${n} ${n === 1 ? 'warning' : 'warnings'})`,
    failed: 'Failed',
    progress: (done, total) => `${done} of ${total}`,
    summary: (converted, warned, failed) =>
        `${converted} converted${warned ? ` (${warned} with warnings)` : ''}, ${failed} failed`,
    preview: 'Preview',
    noSelection: 'Choose a record to see its board.',
    noBoard: 'This record has no board to show (its size is not a number from 2 to 25).',
    failedRecord: 'This record could not be converted:',
    board: (size, move, moves, last) => `Board (${size}×${size}, move ${move} of ${moves}${last ? `, ${last}` : ''})`,
    lastMove: (black, point) => `${black ? 'black' : 'white'} ${point || 'pass'}`,
    resultWords: (re) => resultWords(re, {
        B: 'Black', W: 'White', resign: (c) => `${c} wins by resignation`, time: (c) => `${c} wins on time`,
        forfeit: (c) => `${c} wins by forfeit`, points: (c, n) => `${c} wins by ${n} ${n === '1' ? 'point' : 'points'}`,
        win: (c) => `${c} wins`, draw: 'Draw', none: 'No result' }),
    place: 'Place',
    moveNumbers: 'Move numbers',
    bookCoordinates: 'Book coordinates (1–19, 一–十九)',
    saveImage: 'Save image',
    black: 'Black',
    white: 'White',
    result: 'Result',
    date: 'Date',
    handicap: 'Handicap',
    komi: 'Komi',
    move: 'Move',
    moveOf: (move, moves) => `${move} / ${moves}`,
    captures: (black, white) => `Captures: Black ${black}, White ${white}`,
    first: 'First move',
    previous: 'Previous move',
    next: 'Next move',
    last: 'Last move',
    zipLeftOut: (n) => `${n} failed ${n === 1 ? 'record is' : 'records are'} not in the zip:`,
    zipSaved: (n) => `${n} ${n === 1 ? 'record' : 'records'} saved in quillarn-sgf.zip.`,
    zipping: (done, total) => `Making the zip… ${done} / ${total}`,
    folderSaved: (written, skipped, failed) =>
        `${written} saved in the folder` + (skipped ? `, ${skipped} left as they were` : '') +
        (failed ? `, ${failed} could not be saved` : '') + '.',
    replaceTitle: 'The file exists',
    replaceQuestion: (name) => `${name} exists already. Replace it?`,
    replace: 'Replace',
    keep: 'Keep it',
    cancel: 'Stop',
    forAll: 'Do the same for the other files',
    aboutText: 'Converts UGI game records into SGF. The conversion runs in this browser and no file is sent anywhere. After one visit it works offline.',
    version: (v) => `Version ${v}`,
    licence: 'MIT licence',
    close: 'Close',
    readFailed: 'could not be read',
    newVersion: 'A new version is available',
    reload: 'Reload',
    unavailable: 'The converter could not be loaded:',
};

// The language the user chose: ?lang=ja or ?lang=en in the address, else the one the page's
// 言語 / Language switch keeps, else Japanese when the browser's first language is Japanese and
// English otherwise.
export const languageKey = 'quillarn-language';
function chosenLanguage() {
    const asked = new URLSearchParams(location.search).get('lang');
    if (asked === 'ja' || asked === 'en')
        return asked;
    try {
        const kept = localStorage.getItem(languageKey);
        if (kept === 'ja' || kept === 'en')
            return kept;
    } catch {
        // storage refused (a private window's settings): the browser's language
    }
    return ((navigator.languages && navigator.languages[0]) || navigator.language || '').toLowerCase().startsWith('ja')
        ? 'ja' : 'en';
}
export const japanese = chosenLanguage() === 'ja';
export const text = japanese ? ja : en;

// Returns the page's hint for a kind of reason (the converter's name for it), '' for none.
export function hint(kind) {
    return (kind && text.hints[kind]) || '';
}

// Returns the words of a message ({text, ja, kind}: the converter's reason in English and in
// Japanese) in the page's language.
export function messageText(message) {
    return (japanese && message.ja) || message.text;
}

// Returns messages (one a line: the converter's reasons or warnings) as the page says them: each
// followed by its hint, one a line.
export function said(messages) {
    return messages.map((message) => messageText(message) + hint(message.kind)).join('\n');
}
