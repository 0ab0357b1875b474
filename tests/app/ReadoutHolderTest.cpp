// A read-out in its holder looks exactly as the label laid out by itself,
// for short texts, its widest text and one wider still, and a new text asks
// for no new layout of the window unless it is wider than any before.

#include "app/ReadoutHolder.h"
#include "app/ControlBuilders.h"
#include "tests/PaintCounter.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

class LayoutRequests : public QObject {
public:
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        Count += event->type() == QEvent::LayoutRequest ? 1 : 0;
        return false;
    }
};

// A black panel with a right-aligned read-out after a stretch, as the main
// window's count; with `held`, the read-out sits in a holder.
struct TPanel {
    explicit TPanel(bool held) {
        Window.setFixedSize(260, 40);
        QPalette black = Window.palette();
        black.setColor(QPalette::Window, Qt::black);
        black.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x00));
        Window.setPalette(black);
        Window.setAutoFillBackground(true);
        auto* layout = new QHBoxLayout(&Window);
        Readout = new QLabel(QStringLiteral("0"), &Window);
        QFont font = Readout->font();
        font.setPixelSize(16);
        font.setBold(true);
        Readout->setFont(font);
        Readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Readout->setMinimumWidth(80);
        layout->addStretch(1);
        if (held) {
            layout->addWidget(new TReadoutHolder(Readout, QStringLiteral("33177600"), &Window));
        } else {
            layout->addWidget(Readout);
        }
        Window.show();
        QApplication::processEvents();
    }

    QImage Show(const QString& text) {
        Readout->setText(text);
        // A holder that grows passes the request on: a second round lays out.
        QApplication::processEvents();
        QApplication::processEvents();
        return Window.grab().toImage();
    }

    QWidget Window;
    QLabel* Readout;
};

TEST(ReadoutHolderTest, LooksAsTheLabelAloneAndLaysOutOnlyForAWiderText) {
    TPanel plain(false);
    TPanel held(true);
    LayoutRequests plainRequests;
    plain.Window.installEventFilter(&plainRequests);
    LayoutRequests heldRequests;
    held.Window.installEventFilter(&heldRequests);
    for (const QString text : {"7", "12345", "33177600"}) {
        EXPECT_EQ(held.Show(text), plain.Show(text)) << text.toStdString();
        EXPECT_EQ(held.Readout->text(), text);
    }
    EXPECT_GT(plainRequests.Count, 0) << "the label alone no longer lays out its window";
    EXPECT_EQ(heldRequests.Count, 0) << "a new text laid out the window";
    // Wider than the widest expected: the holder grows, the whole text shows.
    EXPECT_EQ(held.Show("2147483647"), plain.Show("2147483647"));
    EXPECT_GE(held.Readout->width(), held.Readout->sizeHint().width());
    heldRequests.Count = 0;
    held.Show("12345");
    EXPECT_EQ(heldRequests.Count, 0) << "a narrower text after the wider one laid out the window";
}

// Texts that fitted in one font are measured again in a larger one.
TEST(ReadoutHolderTest, ALargerFontGrowsTheHolderForTheTextsThatNoLongerFit) {
    TPanel plain(false);
    TPanel held(true);
    for (TPanel* panel : {&plain, &held}) {
        QFont font = panel->Readout->font();
        font.setPixelSize(28);
        panel->Readout->setFont(font);
    }
    for (const QString text : {"7", "33177600"}) {
        EXPECT_EQ(held.Show(text), plain.Show(text)) << text.toStdString();
    }
}

// A new text repaints the read-out alone, not the panel under it, and the
// screen then holds what the panel drawn whole shows, also after a shorter
// text and a text that goes back to an earlier one.
TEST(ReadoutHolderTest, ANewTextRepaintsTheReadoutAloneAndLeavesNothingBehind) {
    TPanel plain(false);
    TPanel held(true);
    PaintCounter panelPaints;
    held.Window.installEventFilter(&panelPaints);
    PaintCounter readoutPaints;
    held.Readout->installEventFilter(&readoutPaints);
    for (const QString text : {"33177600", "7", "33177600", "12"}) {
        const int paintsBefore = readoutPaints.Paints;
        held.Readout->setText(text);
        QApplication::processEvents();
        EXPECT_GT(readoutPaints.Paints, paintsBefore) << text.toStdString();
        const QImage onScreen = held.Window.screen()
                                    ->grabWindow(held.Window.winId())
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(onScreen, plain.Show(text).convertToFormat(QImage::Format_RGB32))
            << text.toStdString();
    }
    EXPECT_EQ(panelPaints.Paints, 0) << "a new text repainted the panel under the read-out";
}

// The main window's read-outs draw their numbers without shaping them: the
// pixels are those of the same label drawn with shaping, for every digit.
TEST(ReadoutHolderTest, ReadoutsDrawNumbersAsShapedText) {
    for (const bool bold : {false, true}) {
        QWidget panel;
        panel.setAutoFillBackground(true);
        QLabel* readout = ControlBuilders::ReadoutLabel(&panel, "Readout", "0", 16, bold);
        auto* shaped = new QLabel(&panel);
        QFont font = readout->font();
        ASSERT_EQ(font.styleStrategy(), QFont::PreferNoShaping);
        font.setStyleStrategy(QFont::PreferDefault);
        shaped->setFont(font);
        shaped->setPalette(readout->palette());
        for (const QString text : {"0", "1234567890", "33177600", "4711", "98"}) {
            readout->setText(text);
            shaped->setText(text);
            readout->resize(readout->sizeHint() + QSize(3, 0));
            shaped->resize(readout->size());
            const QImage expected = shaped->grab().toImage();
            QImage blank(expected.size(), expected.format());
            blank.fill(expected.pixel(0, 0));
            ASSERT_NE(expected, blank) << "no text drawn";
            EXPECT_EQ(readout->grab().toImage(), expected) << text.toStdString();
        }
    }
}

} // namespace
