// A headline: its plain part in the sans, an accent part in the serif
// italic, and an optional part after it, flowing as one text.
import QtQuick
import Lumenvale.Core

LumenvaleText {
    id: headline
    property string plain: ""
    property string accent: ""
    property string after: ""
    property color ink: Theme.colours.ink

    size: 34
    lineHeightPoints: 38
    weight: 400
    color: ink
    // Rich text: styled text would ignore the family and draw the accent in
    // a slanted sans.
    textFormat: Text.RichText
    text: escaped(plain) + (accent.length > 0 ? (plain.length > 0 ? " " : "") + "<span style=\"font-family:'" + Theme.serifFamily
                                                + "'; font-style:italic; font-weight:400\"><i>" + escaped(accent) + "</i></span>" : "")
          + (after.length > 0 ? " " + escaped(after) : "")

    function escaped(text) {
        return text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
    }
}
