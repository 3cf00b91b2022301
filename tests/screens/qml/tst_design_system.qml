// The design system's building blocks: each tone and variant in its
// colours, the spacing and radii, and everything recoloured in place when
// the appearance changes.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/components"

Item {
    id: root
    width: 390
    height: 844

    Component { id: tagComponent; Tag { text: "Safe" } }
    Component { id: cardComponent; LumenvaleCard { width: 300; Item { width: 10; height: 40 } } }
    Component { id: noticeComponent; Notice { width: 358; title: "Title"; message: "A message that says what happened." } }
    Component { id: buttonComponent; LumenvaleButton { text: "Start" } }
    Component { id: textComponent; LumenvaleText { text: "Hello" } }
    Component { id: wordmarkComponent; Wordmark {} }

    TestCase {
        name: "DesignSystem"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            Theme.choice = "light"
        }

        function test_wordmark_keeps_its_shape_and_is_read_as_the_name() {
            const mark = createTemporaryObject(wordmarkComponent, root)
            const drawn = findChild(mark, "wordmark")
            tryCompare(drawn, "status", Image.Ready)
            compare(drawn.height, 26)
            verify(drawn.width > drawn.height * 3)  // the tile and the name, not a square
            compare(drawn.Accessible.name, "Lumenvale")
            compare(findChild(mark, "tagline").text, "Your photos, kept at home")
        }

        function test_tag_tones_data() {
            return [
                { tag: "lime", ground: "#ace279", ink: "#0b0b0b" },
                { tag: "dark", ground: "#0b0b0b", ink: "#ffffff" },
                { tag: "soft", ground: "#f4f4f4", ink: "#3a3a3a" },
                { tag: "card", ground: "#ebebeb", ink: "#3a3a3a" },
                { tag: "warn", ground: "#fff5e0", ink: "#7a4b00" },
            ]
        }
        function test_tag_tones(data) {
            const tag = createTemporaryObject(tagComponent, root, { tone: data.tag, icon: "check" })
            verify(tag)
            compare(tag.color.toString(), data.ground)
            compare(tag.ink.toString(), data.ink)
            compare(tag.radius, tag.height / 2)
            verify(tag.width > 40)
        }

        function test_card_tones_data() {
            return [
                { tag: "surface", ground: "#f4f4f4", border: 0 },
                { tag: "outline", ground: "#ffffff", border: 1 },
                { tag: "safe", ground: "#eef8e3", border: 0 },
            ]
        }
        function test_card_tones(data) {
            const card = createTemporaryObject(cardComponent, root, { tone: data.tag })
            verify(card)
            compare(card.color.toString(), data.ground)
            compare(card.border.width, data.border)
            compare(card.radius, 24)
            compare(card.height, 40 + 32)  // 16 points of padding above and below
        }

        function test_notice_tones_data() {
            return [
                { tag: "info", ground: "#f4f4f4", accent: "#6da23c", title: "#0b0b0b" },
                { tag: "success", ground: "#eef8e3", accent: "#6da23c", title: "#0b0b0b" },
                { tag: "warn", ground: "#fff5e0", accent: "#7a4b00", title: "#7a4b00" },
                { tag: "danger", ground: "#fdf0f0", accent: "#c93636", title: "#c93636" },
            ]
        }
        function test_notice_tones(data) {
            const notice = createTemporaryObject(noticeComponent, root, { tone: data.tag })
            verify(notice)
            compare(notice.color.toString(), data.ground)
            compare(notice.accent.toString(), data.accent)
            compare(notice.titleInk.toString(), data.title)
            compare(notice.radius, 18)
        }

        function test_button_variants_data() {
            return [
                { tag: "lime", ground: "#ace279", ink: "#0b0b0b" },
                { tag: "dark", ground: "#0b0b0b", ink: "#ffffff" },
                { tag: "ghost", ground: "#ffffff", ink: "#0b0b0b" },
                { tag: "danger", ground: "#c93636", ink: "#ffffff" },
            ]
        }
        function test_button_variants(data) {
            const button = createTemporaryObject(buttonComponent, root, { variant: data.tag })
            verify(button)
            compare(button.ground.toString(), data.ground)
            compare(button.ink.toString(), data.ink)
            compare(button.background.border.width, data.tag === "ghost" ? 1 : 0)
            let clicked = 0
            button.clicked.connect(() => ++clicked)
            mouseClick(button)
            compare(clicked, 1)
        }

        function test_wide_and_small_buttons() {
            const wide = createTemporaryObject(buttonComponent, root, { wide: true })
            compare(wide.width, root.width)
            const small = createTemporaryObject(buttonComponent, root, { small: true })
            const plain = createTemporaryObject(buttonComponent, root, {})
            verify(small.height < plain.height)
            const arrow = createTemporaryObject(buttonComponent, root, { arrow: true })
            verify(arrow.width > plain.width)
        }

        function test_dark_recolours_in_place() {
            const tag = createTemporaryObject(tagComponent, root, { tone: "soft" })
            const card = createTemporaryObject(cardComponent, root, { tone: "outline" })
            Theme.choice = "dark"
            compare(tag.color.toString(), "#181b16")
            compare(tag.ink.toString(), "#cdd2c7")
            compare(card.color.toString(), "#0e100d")
            compare(card.border.color.toString(), "#2e3329")
            Theme.choice = "light"
            compare(card.color.toString(), "#ffffff")
        }

        function test_text_styles() {
            const text = createTemporaryObject(textComponent, root, { size: 17, lineHeightPoints: 24, weight: 500 })
            compare(text.font.family, Theme.sansFamily)
            compare(text.font.weight, 500)
            compare(text.lineHeight, 24)
            // A line height below the font's own adds nothing, never less.
            const tight = createTemporaryObject(textComponent, root, { size: 30, lineHeightPoints: 4 })
            verify(tight.lineHeight > 4)
            const serif = createTemporaryObject(textComponent, root, { serif: true })
            compare(serif.font.family, "Instrument Serif")
            verify(serif.font.italic)
        }
    }
}
