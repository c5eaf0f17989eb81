#pragma once

#include <QLineEdit>
#include <cstdint>

// Single-line edit for numbers. The user types freely, but every change that leaves text
// which is not one complete number is undone at once, back to the last good text with the
// selection as it was before the keystroke. Range checks belong to the pages.
class CNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CNumEdit(QWidget* parent = nullptr);

    // 0 integer, 1 real (NumEditRule::Mode); any other value switches the checking off.
    void SetMode(int mode);
    int Mode() const { return mode; }

    void SetInt(std::int64_t v); // text "%d"
    void SetReal(double x);      // text "%f", e.g. 2.500000
    std::int64_t GetInt() const { return intValue; }
    double GetReal() const { return realValue; }
    QString LastGoodText() const { return lastGood; }

signals:
    // The text changed and was accepted (also after SetInt/SetReal/setText).
    void NumberChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Check();

    int savedStart = 0;
    int savedEnd = 0;
    int mode = 0;
    QString lastGood = QStringLiteral("0");
    bool busy = false;
    std::int64_t intValue = 0;
    double realValue = 0.0;
};
