#pragma once
// The integer spin edit: a text field with up and down buttons whose value is
// its text read as an integer. Text that is not an integer reads as MinValue.
// When MinValue equals MaxValue there is no range; otherwise a value set into
// it is clamped, first up to MinValue, then down to MaxValue, and written back
// as decimal text. Typed text may lie outside the range; it is clamped when
// the field loses the focus. Change() fires on every change of the text,
// typed or set, and not when a set value leaves the text as it was.

#include <QString>
#include <QWidget>

class QLineEdit;
class QToolButton;

class TSpinEdit : public QWidget {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int Value() const;
    void SetValue(int value);
    int MinValue() const { return Minimum; }
    void SetMinValue(int value) { Minimum = value; }
    int MaxValue() const { return Maximum; }
    void SetMaxValue(int value) { Maximum = value; }
    void SetMaxLength(int length);
    QString Text() const;
    void SetText(const QString& text);

    // The value as it would be set: clamped into the range, if there is one.
    int CheckValue(int value) const;

    QLineEdit* Editor() const { return Edit; }
    QToolButton* UpButton() const { return Up; }
    QToolButton* DownButton() const { return Down; }

signals:
    void Change();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* Edit;
    QToolButton* Up;
    QToolButton* Down;
    int Minimum = 0;
    int Maximum = 0;

    void Step(int delta);
    void ClampOnExit();
};
