#!/usr/bin/env python3
# Writes the XML property lists beside this script, each with what Python's
# plistlib reads from it, written by plistlib in binary form as
# NAME.expected.bplist; none where plistlib refuses the list. Run once; the
# files are kept. The tests compare our XML reader with those values.
import pathlib
import plistlib

HEAD = '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n'
TAIL = '\n</plist>\n'


def plist(inner, head=HEAD):
    return (head + inner + TAIL).encode('utf-8')


def latin1(inner):
    return ('<?xml version="1.0" encoding="ISO-8859-1"?>\n<plist version="1.0">\n' + inner +
            TAIL).encode('latin-1')


def utf16(inner, codec):
    text = '<?xml version="1.0" encoding="UTF-16"?>\n<plist version="1.0">\n' + inner + TAIL
    return '\ufeff'.encode(codec) + text.encode(codec)


CASES = {
    'bom-string': plist('<string>\ufeffk</string>'),
    'bom-keys': plist('<dict><key>\ufeffk</key><integer>1</integer>'
                      '<key>k</key><integer>2</integer></dict>'),
    'bom-twice': plist('<string>\ufeff\ufeffk\ufeff</string>'),
    'bom-document': b'\xef\xbb\xbf' + plist('<string>\ufeffk</string>'),
    'crlf-text': plist('<string>a\r\nb\rc\n\rd</string>'),
    'crlf-key': plist('<dict><key>a\r\nb</key><true/><key>a\rc</key><false/></dict>'),
    'crlf-cdata': plist('<string><![CDATA[a\r\nb\rc]]></string>'),
    'cr-reference': plist('<array><string>a&#13;b&#xD;&#10;c</string>'
                          '<string>&#13;\r\n</string></array>'),
    'cr-reference-key': plist('<dict><key>a&#13;</key><true/><key>a\r</key><false/></dict>'),
    'latin1': latin1('<dict><key>caf\xe9</key><string>\xe9t\xe9 \xa0\xff</string></dict>'),
    'utf16le-bom': utf16('<dict><key>\u65e5</key><string>\u00e9\U0001F600</string></dict>',
                         'utf-16-le'),
    'utf16be-bom': utf16('<array><string>\u00e9\r\n</string><integer>7</integer></array>',
                         'utf-16-be'),
    'base64-padded': plist('<array><data>\n\tAAEC\n\tAw==\n</data><data>AA==</data>'
                           '<data>AAA=</data><data></data></array>'),
    'base64-unpadded': plist('<data>AAE</data>'),
    'base64-one-character': plist('<data>A</data>'),
    'base64-five-characters': plist('<data>AAAAA</data>'),
    'base64-stray-character': plist('<data>A!EC</data>'),
    'key-in-array': plist('<array><key>k</key><true/></array>'),
    'key-as-value': plist('<dict><key>a</key><key>b</key></dict>'),
    'key-at-root': plist('<key>k</key>'),
    'entity-declared': plist('<string>&e;</string>',
                             '<?xml version="1.0"?>\n<!DOCTYPE plist [<!ENTITY e "boom">]>\n'
                             '<plist version="1.0">\n'),
}

here = pathlib.Path(__file__).parent
for name, data in CASES.items():
    (here / (name + '.plist')).write_bytes(data)
    expected = here / (name + '.expected.bplist')
    try:
        value = plistlib.loads(data, fmt=plistlib.FMT_XML)
    except Exception:
        expected.unlink(missing_ok=True)
        continue
    expected.write_bytes(plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False))
