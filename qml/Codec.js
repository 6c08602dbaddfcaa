// Conversions between what the user types and what the API objects take: arrays travel as
// lower-case hex text, ipv4 values as an int whose low byte is the first octet.
.pragma library

function textToHex(text) {
    var utf8 = unescape(encodeURIComponent(text));
    var hex = "";
    for (var i = 0; i < utf8.length; ++i)
        hex += ("0" + utf8.charCodeAt(i).toString(16)).slice(-2);
    return hex;
}

function hexToText(hex) {
    var bytes = "";
    for (var i = 0; i + 1 < hex.length; i += 2)
        bytes += String.fromCharCode(parseInt(hex.substr(i, 2), 16));
    try {
        return decodeURIComponent(escape(bytes));
    } catch (e) {
        return bytes;
    }
}

function printable(hex) {
    var text = hexToText(hex);
    return /^[\x20-\x7e\u00a0-\uffff]*$/.test(text) ? text : hex;
}

function ipv4Text(value) {
    var v = value >>> 0;
    return [v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24].join(".");
}

// -1 when the text is not a dotted address.
function ipv4Value(text) {
    var parts = text.trim().split(".");
    if (parts.length !== 4) return -1;
    var v = 0;
    for (var i = 3; i >= 0; --i) {
        if (!/^\d{1,3}$/.test(parts[i]) || parseInt(parts[i], 10) > 255) return -1;
        v = (v << 8) | parseInt(parts[i], 10);
    }
    return v;
}

function macText(hex) {
    return hex.match(/../g) ? hex.match(/../g).join(":") : hex;
}

function code(value) {
    return "0x" + ("000" + (value >>> 0).toString(16)).slice(-4);
}
