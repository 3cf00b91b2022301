// A text in one of the design's styles: the sans (Outfit) or the serif
// (Instrument Serif Italic, else the system font), a size and line height
// in points, a weight, letter spacing and capitals. (Equal-width digits need
// OpenType features, which Qt 6.4's QML fonts cannot ask for.)
import QtQuick
import Lumenvale.Core

Text {
    id: styled
    property bool serif: false
    property real size: 15
    property real lineHeightPoints: 20
    property int weight: 400
    property real tracking: 0
    property bool uppercase: false

    // Names from outside (laptops, files) are shown as they are, never read
    // as markup; Headline escapes its parts itself.
    textFormat: Text.PlainText
    color: Theme.colours.ink
    font.family: serif ? Theme.serifFamily : Theme.sansFamily
    font.italic: serif
    font.pixelSize: size
    font.weight: weight
    font.letterSpacing: tracking
    font.capitalization: uppercase ? Font.AllUppercase : Font.MixedCase
    // Extra spacing only: a line height below the font's own adds none.
    lineHeightMode: Text.FixedHeight
    lineHeight: Math.max(lineHeightPoints, fontMetrics.height)
    wrapMode: Text.WordWrap

    FontMetrics {
        id: fontMetrics
        font.family: styled.font.family
        font.pixelSize: styled.font.pixelSize
        font.weight: styled.font.weight
    }
}
