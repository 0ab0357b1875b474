#include "app/TApplication.h"

#include "types/Exception.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

TEST(TApplication, AddsAPeriodOnlyAfterCharactersThatComeAfterIt) {
    EXPECT_EQ(TApplication::ErrorText("Floating point division by zero"),
              "Floating point division by zero.");
    EXPECT_EQ(TApplication::ErrorText("Value must be between 0 and 100"),
              "Value must be between 0 and 100.");
    EXPECT_EQ(TApplication::ErrorText("Done."), "Done.");
    EXPECT_EQ(TApplication::ErrorText("Cannot create file \"x.bmp\""),
              "Cannot create file \"x.bmp\"");
    EXPECT_EQ(TApplication::ErrorText("(a)"), "(a)");
    EXPECT_EQ(TApplication::ErrorText("a-"), "a-");
    EXPECT_EQ(TApplication::ErrorText("a/"), "a/.");
    EXPECT_EQ(TApplication::ErrorText(QString::fromUtf8("Größe")), QString::fromUtf8("Größe."));
    EXPECT_EQ(TApplication::ErrorText(""), "");
}

// On X11 and Wayland Qt appends an application display name, once one is
// set, to every window caption ("Live Video — Stirwatch"). The title is the
// application name instead, which the display name falls back to.
TEST(TApplication, TitleLeavesTheCaptionsOfOtherWindowsAsTheyAre) {
    TApplication::SetTitle("Stirwatch");
    EXPECT_EQ(TApplication::Title(), "Stirwatch");
    QCoreApplication::setApplicationName("Probe");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Probe")
        << "a display name is set and would be appended to every caption";
    TApplication::SetTitle("Stirwatch");
}

// Names in messages are shown as they are: a folder "<b>cams</b>" is no markup.
TEST(TApplication, ShowsTheErrorInAModalBoxTitledWithTheProgramAsPlainText) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = false;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        modal = box->isModal();
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
            format = label->textFormat();
        }
        box->accept();
    });
    TApplication::ShowException(
        EFCreateError("Cannot create file \"/x/<b>cams</b>/0.5.bmp\". No such file or directory"));
    EXPECT_EQ(title, "Stirwatch");
    EXPECT_EQ(text, "Cannot create file \"/x/<b>cams</b>/0.5.bmp\". No such file or directory.");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(modal);
    EXPECT_EQ(format, Qt::PlainText);
}

// Ticks go on inside an open box; a step failing on every tick must not
// stack a box on the box until the stack runs out.
TEST(TApplication, AnErrorWhileABoxIsOpenOpensNoSecondBox) {
    QWidget* outer = nullptr;
    bool secondBox = false;
    QTimer::singleShot(0, [&] {
        outer = QApplication::activeModalWidget();
        // Runs in the innermost loop: a second box's, if one was opened.
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            secondBox = modal != outer;
            for (QWidget* box : {modal, outer}) {
                if (auto* messageBox = qobject_cast<QMessageBox*>(box)) {
                    messageBox->accept();
                }
            }
        });
        TApplication::ShowException(EFCreateError("Cannot create file \"/x/0.6.bmp\""));
    });
    TApplication::ShowException(EFCreateError("Cannot create file \"/x/0.5.bmp\""));
    ASSERT_NE(outer, nullptr);
    EXPECT_FALSE(secondBox);
}

namespace {

class ThrowingReceiver : public QObject {
public:
    int Events = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            ++Events;
            throw EInvalidOperation("Value must be between 0 and 100");
        }
        return QObject::event(event);
    }
};

} // namespace

TEST(TApplication, ErrorLeavingAnEventHandlerIsShownAndTheProgramGoesOn) {
    std::vector<QString> shown;
    TApplication::SetMessageSink(
        [&](const QString& title, const QString& text) { shown.push_back(title + ": " + text); });
    ThrowingReceiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    TApplication::SetMessageSink(nullptr);
    EXPECT_EQ(receiver.Events, 2);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Stirwatch: Value must be between 0 and 100.");
}
