// The properties of a converted record's root node (players, result, ...), for the preview to show.
// The record is the converter's: "(;CA[...]" then the root's properties, in UTF-8 or in code page 932
// as its CA says.

// The root node is the record's header: it ends well within this many bytes.
const rootBytes = 65536;

// Returns the first value of each property of the root node of record file bytes, without escapes:
// {GN: 'title', PB: ..., ...}.
export function rootProperties(bytes) {
    const head = new TextDecoder('latin1').decode(bytes.subarray(0, 32));
    const charset = /^\(;CA\[([^\]]*)\]/.exec(head);
    const encoding = charset && charset[1].toUpperCase() !== 'UTF-8' ? 'shift_jis' : 'utf-8';
    // Decoded first, so that a second byte "\" or "]" of code page 932 is part of its character.
    const text = new TextDecoder(encoding).decode(bytes.subarray(0, rootBytes));
    const properties = {};
    const property = /([A-Z]+)((?:\[(?:[^\]\\]|\\[\s\S])*\])+)/y;
    property.lastIndex = 2; // after "(;"
    for (let found; (found = property.exec(text));) {
        const first = /^\[((?:[^\]\\]|\\[\s\S])*)\]/.exec(found[2]);
        if (!(found[1] in properties))
            properties[found[1]] = first[1].replace(/\\([\s\S])/g, '$1');
    }
    return properties;
}
