#include "settings/TSpinEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

void Type(TSpinEdit& spin, const QString& keys) {
    for (const QChar c : keys) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(spin.Editor(), &press);
    }
}

void Backspace(TSpinEdit& spin) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(spin.Editor(), &press);
}

void LeaveField(TSpinEdit& spin) {
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(spin.Editor(), &focusOut);
}

struct TChangeCounter {
    int Count = 0;
    explicit TChangeCounter(TSpinEdit& spin) {
        QObject::connect(&spin, &TSpinEdit::Change, &spin, [this] { ++Count; });
    }
};

TEST(SpinEdit, ValueIsTheTextReadAsAnIntegerElseMinValue) {
    TSpinEdit spin;
    spin.SetMinValue(5);
    spin.SetMaxValue(100);
    EXPECT_EQ(spin.Text(), "0");
    EXPECT_EQ(spin.Value(), 0); // a text out of range is read as it stands
    for (const char* text : {"", "-", "abc", "1.5"}) {
        spin.SetText(text);
        EXPECT_EQ(spin.Value(), 5) << text;
    }
    spin.SetText("$FA");
    EXPECT_EQ(spin.Value(), 250);
}

TEST(SpinEdit, SetValueClampsMinimumFirstThenMaximum) {
    TSpinEdit spin;
    spin.SetMinValue(0);
    spin.SetMaxValue(100);
    spin.SetValue(-3);
    EXPECT_EQ(spin.Text(), "0");
    spin.SetValue(250);
    EXPECT_EQ(spin.Text(), "100");

    spin.SetMinValue(10); // minimum above the maximum
    spin.SetMaxValue(5);
    spin.SetValue(7);
    EXPECT_EQ(spin.Text(), "10");
    spin.SetValue(20);
    EXPECT_EQ(spin.Text(), "5");

    spin.SetMinValue(0); // equal bounds: no range at all
    spin.SetMaxValue(0);
    spin.SetValue(-2147483647 - 1);
    EXPECT_EQ(spin.Text(), "-2147483648");
}

TEST(SpinEdit, TypedTextOutOfRangeStaysUntilTheFieldIsLeft) {
    TSpinEdit spin;
    spin.SetMaxValue(100);
    spin.SetText("");
    Type(spin, "250");
    EXPECT_EQ(spin.Text(), "250");
    EXPECT_EQ(spin.Value(), 250);
    LeaveField(spin);
    EXPECT_EQ(spin.Text(), "100");

    spin.SetText("");
    Type(spin, "-");
    LeaveField(spin); // reads as the minimum, which is in range: left alone
    EXPECT_EQ(spin.Text(), "-");
}

TEST(SpinEdit, ChangeFiresForEveryTextChangeButNotForAnUnchangedSet) {
    TSpinEdit spin;
    spin.SetMaxValue(100);
    TChangeCounter changes(spin);
    Type(spin, "5"); // "05"
    Type(spin, "0"); // "050"
    EXPECT_EQ(changes.Count, 2);
    Backspace(spin);
    EXPECT_EQ(changes.Count, 3);
    spin.SetValue(5); // "05" becomes "5"
    EXPECT_EQ(changes.Count, 4);
    spin.SetValue(5);
    EXPECT_EQ(changes.Count, 4);
    spin.SetValue(100);
    spin.SetValue(250); // clamped to the text already there
    EXPECT_EQ(changes.Count, 5);
    spin.SetText("abc");
    EXPECT_EQ(changes.Count, 6);
}

TEST(SpinEdit, KeysButtonsAndLengthLimit) {
    TSpinEdit spin;
    spin.SetMaxValue(10);
    spin.SetValue(9);
    spin.UpButton()->click();
    EXPECT_EQ(spin.Text(), "10");
    spin.UpButton()->click();
    EXPECT_EQ(spin.Text(), "10");
    spin.DownButton()->click();
    EXPECT_EQ(spin.Text(), "9");
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(spin.Editor(), &down);
    EXPECT_EQ(spin.Text(), "8");

    spin.SetText("");
    Type(spin, "1a+"); // only signs and digits can be typed
    EXPECT_EQ(spin.Text(), "1+");

    spin.SetMaxLength(3);
    spin.SetText("");
    Type(spin, "12345");
    EXPECT_EQ(spin.Text(), "123");

    TSpinEdit unbounded;
    unbounded.SetValue(2147483647);
    unbounded.UpButton()->click();
    EXPECT_EQ(unbounded.Text(), "2147483647");
}

} // namespace
